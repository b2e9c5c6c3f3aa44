#include "resize/image.h"

#include <sys/mman.h>

#include <mutex>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// 1/255 and 1/65535 as single-precision constants (1/255 is 3B808081 hex).
constexpr float Scale8 = 1.0f / 255.0f;
constexpr float Scale16 = 1.0f / 65535.0f;

int64_t PixelsSize3(TImageFormat, int64_t w, int64_t h) { return w * h * 3; }
int64_t PixelsSize6(TImageFormat, int64_t w, int64_t h) { return w * h * 6; }

// A sample to floating point: its value times 1/max, rounded to single.
TColorFPRec Get8(const uint8_t* p) {
  return {static_cast<float>(p[0] * static_cast<double>(Scale8)), static_cast<float>(p[1] * static_cast<double>(Scale8)),
          static_cast<float>(p[2] * static_cast<double>(Scale8)), 1.0f};
}

template <int Max>
long Quantise(float v) {
  // v x Max is exact in double; nearbyint rounds halfway cases to even.
  double r = std::nearbyint(static_cast<double>(v) * Max);
  return r < 0 ? 0 : r > Max ? Max : static_cast<long>(r);
}

void Set8(uint8_t* p, const TColorFPRec& c) {
  p[2] = static_cast<uint8_t>(Quantise<255>(c.R));
  p[1] = static_cast<uint8_t>(Quantise<255>(c.G));
  p[0] = static_cast<uint8_t>(Quantise<255>(c.B));
}

TColorFPRec Get16(const uint8_t* p) {
  uint16_t s[3];
  std::memcpy(s, p, 6);
  return {static_cast<float>(s[0] * static_cast<double>(Scale16)),
          static_cast<float>(s[1] * static_cast<double>(Scale16)),
          static_cast<float>(s[2] * static_cast<double>(Scale16)), 1.0f};
}

void Set16(uint8_t* p, const TColorFPRec& c) {
  const uint16_t s[3] = {static_cast<uint16_t>(Quantise<65535>(c.B)), static_cast<uint16_t>(Quantise<65535>(c.G)),
                         static_cast<uint16_t>(Quantise<65535>(c.R))};
  std::memcpy(p, s, 6);
}

const TImageFormatInfo FormatR8G8B8 = {ifR8G8B8, "R8G8B8", 3, 3, 255, Scale8, PixelsSize3, Get8, Set8};
const TImageFormatInfo FormatR16G16B16 = {ifR16G16B16, "R16G16B16", 6, 3, 65535, Scale16, PixelsSize6, Get16, Set16};

// Pixel memory comes from mmap; the last large block freed is kept for the
// next tile of about its size, so that the kernel does not fault in and clear
// hundreds of MB again for every tile of a resize.
constexpr int64_t CacheFrom = int64_t{16} << 20;
std::mutex g_cacheMutex;
uint8_t* g_cached = nullptr;
int64_t g_cachedSize = 0;

int64_t MappedSize(int64_t size) { return (size + 4095) & ~int64_t{4095}; }

uint8_t* AllocPixels(int64_t size, bool zero) {
  {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    if (g_cached && g_cachedSize == MappedSize(size)) {
      uint8_t* p = g_cached;
      g_cached = nullptr;
      if (zero) std::memset(p, 0, static_cast<size_t>(size));
      return p;
    }
  }
  void* p = ::mmap(nullptr, static_cast<size_t>(MappedSize(size)), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);  // fresh pages read as zero
}

void FreePixels(uint8_t* p, int64_t size) {
  if (!p) return;
  const int64_t mapped = MappedSize(size);
  if (size >= CacheFrom) {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    std::swap(p, g_cached);
    int64_t old = mapped;
    std::swap(old, g_cachedSize);
    if (!p) return;
    ::munmap(p, static_cast<size_t>(old));
    return;
  }
  ::munmap(p, static_cast<size_t>(mapped));
}

}  // namespace

std::string ImageToStr(const TImageData& Image) {
  const TImageFormatInfo* info = GetFormatInfo(Image.Format);
  return "(Width=" + std::to_string(Image.Width) + " Height=" + std::to_string(Image.Height) +
         " Format=" + (info ? info->Name : "Unknown and unsupported format") + ")";
}

const TImageFormatInfo* GetFormatInfo(TImageFormat Format) {
  switch (Format) {
    case ifR8G8B8:
      return &FormatR8G8B8;
    case ifR16G16B16:
      return &FormatR16G16B16;
    default:
      return nullptr;
  }
}

void EmptyImage(TImageData& Image) { Image = TImageData{}; }

bool IsImageValid(const TImageData& Image) {
  if (Image.Format < 0 || Image.Format > 225) return false;
  const TImageFormatInfo* info = GetFormatInfo(Image.Format);
  return info && info->GetPixelsSize && Image.Width > 0 && Image.Height > 0 &&
         info->GetPixelsSize(Image.Format, Image.Width, Image.Height) == Image.Size;
}

void ReleaseCachedPixels() {
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  if (g_cached) ::munmap(g_cached, static_cast<size_t>(g_cachedSize));
  g_cached = nullptr;
  g_cachedSize = 0;
}

static bool Alloc(int32_t Width, int32_t Height, TImageFormat Format, TImageData& Image, bool Zero);

bool AllocImage(int32_t Width, int32_t Height, TImageFormat Format, TImageData& Image) {
  return Alloc(Width, Height, Format, Image, true);
}

bool AllocImageForOverwrite(int32_t Width, int32_t Height, TImageFormat Format, TImageData& Image) {
  return Alloc(Width, Height, Format, Image, false);
}

static bool Alloc(int32_t Width, int32_t Height, TImageFormat Format, TImageData& Image, bool Zero) {
  const TImageFormatInfo* info = GetFormatInfo(Format);
  if (Width <= 0 || Height <= 0 || !info) throw EImagingError("Assertion failure");
  ReleaseImage(Image);
  Image.Width = Width;
  Image.Height = Height;
  Image.Format = Format;
  Image.Size = info->GetPixelsSize(Format, Width, Height);
  if (Image.Size == 0) {
    EmptyImage(Image);
    return false;
  }
  Image.Bits = AllocPixels(Image.Size, Zero);
  if (!Image.Bits) {
    EmptyImage(Image);
    throw EImagingError("Error while creating image data with params: Width=" + std::to_string(Width) +
                        " Height=" + std::to_string(Height) + " Format=" + info->Name + ".");
  }
  return IsImageValid(Image);
}

void ReleaseImage(TImageData& Image) {
  if (IsImageValid(Image)) {
    FreePixels(Image.Bits, Image.Size);
    std::free(Image.Palette);
  }
  EmptyImage(Image);
}
