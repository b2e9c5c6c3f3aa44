#include "resize/pixelblock.h"

#include <sys/mman.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

#include "engine/text.h"

namespace torvel {

namespace {

// 1/255 and 1/65535 as single-precision constants (1/255 is 3B808081 hex).
constexpr float scale8 = 1.0f / 255.0f;
constexpr float scale16 = 1.0f / 65535.0f;

// A sample to floating point: its value times 1/max, rounded to single.
ColorF get8(const uint8_t* p) {
  return {static_cast<float>(p[0] * static_cast<double>(scale8)), static_cast<float>(p[1] * static_cast<double>(scale8)),
          static_cast<float>(p[2] * static_cast<double>(scale8)), 1.0f};
}

template <int Max>
long quantise(float v) {
  // v x Max is exact in double; nearbyint rounds halfway cases to even.
  const double r = std::nearbyint(static_cast<double>(v) * Max);
  return r < 0 ? 0 : r > Max ? Max : static_cast<long>(r);
}

void set8(uint8_t* p, const ColorF& c) {
  p[0] = static_cast<uint8_t>(quantise<255>(c.r));
  p[1] = static_cast<uint8_t>(quantise<255>(c.g));
  p[2] = static_cast<uint8_t>(quantise<255>(c.b));
}

ColorF get16(const uint8_t* p) {
  uint16_t s[3];
  std::memcpy(s, p, 6);
  return {static_cast<float>(s[0] * static_cast<double>(scale16)), static_cast<float>(s[1] * static_cast<double>(scale16)),
          static_cast<float>(s[2] * static_cast<double>(scale16)), 1.0f};
}

void set16(uint8_t* p, const ColorF& c) {
  const uint16_t s[3] = {static_cast<uint16_t>(quantise<65535>(c.r)), static_cast<uint16_t>(quantise<65535>(c.g)),
                         static_cast<uint16_t>(quantise<65535>(c.b))};
  std::memcpy(p, s, 6);
}

const PixelFormatInfo rgb8 = {"R8G8B8", 3, 255, scale8, get8, set8};
const PixelFormatInfo rgb16 = {"R16G16B16", 6, 65535, scale16, get16, set16};

// Pixel memory comes from mmap; the last large block freed is kept for the
// next tile of about its size.
constexpr int64_t cacheFrom = int64_t{16} << 20;
std::mutex cacheMutex;
uint8_t* cached = nullptr;
int64_t cachedSize = 0;

int64_t mappedSize(int64_t size) { return (size + 4095) & ~int64_t{4095}; }

uint8_t* allocatePixels(int64_t size, bool zero) {
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    if (cached && cachedSize == mappedSize(size)) {
      uint8_t* p = std::exchange(cached, nullptr);
      if (zero) std::memset(p, 0, static_cast<size_t>(size));
      return p;
    }
  }
  void* p = ::mmap(nullptr, static_cast<size_t>(mappedSize(size)), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;  // fresh pages read as zero
  // A tile faulted in 2 MB at a time instead of 4 kB: filling a fresh
  // 300 MB block otherwise costs more than the copy itself.
  if (size >= cacheFrom) ::madvise(p, static_cast<size_t>(mappedSize(size)), MADV_HUGEPAGE);
  return static_cast<uint8_t*>(p);
}

void freePixels(uint8_t* p, int64_t size) {
  const int64_t mapped = mappedSize(size);
  if (size >= cacheFrom) {
    std::lock_guard<std::mutex> lock(cacheMutex);
    std::swap(p, cached);
    int64_t old = std::exchange(cachedSize, mapped);
    if (p) ::munmap(p, static_cast<size_t>(old));
    return;
  }
  ::munmap(p, static_cast<size_t>(mapped));
}

}  // namespace

const PixelFormatInfo& formatInfo(PixelFormat format) { return format == PixelFormat::Rgb16 ? rgb16 : rgb8; }

PixelFormat formatOfBits(int bits) { return bits == 16 ? PixelFormat::Rgb16 : PixelFormat::Rgb8; }

PixelBlock::PixelBlock(int32_t width, int32_t height, PixelFormat format) : PixelBlock(width, height, format, true) {}

PixelBlock PixelBlock::forOverwrite(int32_t width, int32_t height, PixelFormat format) {
  return PixelBlock(width, height, format, false);
}

PixelBlock::PixelBlock(int32_t width, int32_t height, PixelFormat format, bool zero)
    : width_(width), height_(height), format_(format) {
  if (width <= 0 || height <= 0)
    throw ImagingError("An image of " + std::to_string(width) + " × " + std::to_string(height) +
                       " pixels has none: both sides must be at least one pixel");
  bytes_ = capacity_ = int64_t{width} * height * formatInfo(format).bytesPerPixel;
  bits_ = allocatePixels(bytes_, zero);
  if (!bits_)
    throw ImagingError("Error while creating image data with params: Width=" + std::to_string(width) +
                       " Height=" + std::to_string(height) + " Format=" + formatInfo(format).name + ": " +
                       notEnoughMemoryFor(std::to_string(width) + " × " + std::to_string(height) + " pixels",
                                          static_cast<uint64_t>(bytes_)));
}

PixelBlock& PixelBlock::operator=(PixelBlock&& other) noexcept {
  if (this != &other) {
    release();
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    format_ = other.format_;
    bytes_ = std::exchange(other.bytes_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    bits_ = std::exchange(other.bits_, nullptr);
  }
  return *this;
}

void PixelBlock::release() {
  if (bits_) freePixels(bits_, capacity_);
  bits_ = nullptr;
  width_ = height_ = 0;
  bytes_ = capacity_ = 0;
}

bool PixelBlock::reshape(int32_t width, int32_t height) {
  const int64_t bytes = int64_t{width} * height * formatInfo(format_).bytesPerPixel;
  if (!bits_ || width <= 0 || height <= 0 || bytes > capacity_) return false;
  width_ = width;
  height_ = height;
  bytes_ = bytes;
  return true;
}

std::string PixelBlock::describe() const {
  return "(Width=" + std::to_string(width_) + " Height=" + std::to_string(height_) +
         " Format=" + formatInfo(format_).name + ")";
}

void releaseCachedPixels() {
  std::lock_guard<std::mutex> lock(cacheMutex);
  if (cached) ::munmap(cached, static_cast<size_t>(cachedSize));
  cached = nullptr;
  cachedSize = 0;
}

}  // namespace torvel
