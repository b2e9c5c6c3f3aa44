// Pixel blocks: the in-memory images of the resize workers, a whole tile (or
// the final image) of three-sample pixels, and the formats they hold.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace torvel {

// Errors of the image code; a tile resizer turns each one into its failure text.
class ImagingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Three samples per pixel in file order, 8 or 16 bits each (16-bit samples in
// host order): the resize keeps the input's bits end to end.
enum class PixelFormat { Rgb8, Rgb16 };

// One pixel as four single-precision values, its samples in file order.
struct ColorF {
  float r, g, b, a;
};

struct PixelFormatInfo {
  const char* name;
  int bytesPerPixel;
  int sampleMax;      // 255 or 65535: the full value of one sample
  float sampleScale;  // 1 / sampleMax as single precision
  ColorF (*getPixel)(const uint8_t* pixel);
  void (*setPixel)(uint8_t* pixel, const ColorF& color);
};

const PixelFormatInfo& formatInfo(PixelFormat format);
PixelFormat formatOfBits(int bits);

// An image in memory that owns its pixels. Large blocks are kept for reuse
// when released, so consecutive tiles of about one size do not fault in and
// clear hundreds of MB of fresh pages each.
class PixelBlock {
 public:
  PixelBlock() = default;
  // Zero-filled pixels of the given size; throws ImagingError when they
  // cannot be had or the size is not positive.
  PixelBlock(int32_t width, int32_t height, PixelFormat format);
  ~PixelBlock() { release(); }
  PixelBlock(PixelBlock&& other) noexcept { *this = std::move(other); }
  PixelBlock& operator=(PixelBlock&& other) noexcept;
  PixelBlock(const PixelBlock&) = delete;
  PixelBlock& operator=(const PixelBlock&) = delete;

  // Pixels that the caller overwrites entirely: the memory may hold old bytes.
  static PixelBlock forOverwrite(int32_t width, int32_t height, PixelFormat format);

  // Takes another size in the same memory when it fits (tiles of one pass
  // reuse their blocks); false when it does not.
  bool reshape(int32_t width, int32_t height);

  bool empty() const { return bits_ == nullptr; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  PixelFormat format() const { return format_; }
  int64_t bytes() const { return bytes_; }
  int64_t rowBytes() const { return int64_t{width_} * formatInfo(format_).bytesPerPixel; }
  uint8_t* data() { return bits_; }
  const uint8_t* data() const { return bits_; }
  uint8_t* row(int32_t y) { return bits_ + y * rowBytes(); }
  const uint8_t* row(int32_t y) const { return bits_ + y * rowBytes(); }
  // "(Width=.. Height=.. Format=..)", for error texts.
  std::string describe() const;

 private:
  PixelBlock(int32_t width, int32_t height, PixelFormat format, bool zero);
  void release();
  int32_t width_ = 0;
  int32_t height_ = 0;
  PixelFormat format_ = PixelFormat::Rgb8;
  int64_t bytes_ = 0;
  int64_t capacity_ = 0;  // bytes of memory held
  uint8_t* bits_ = nullptr;
};

// Returns the pixel memory kept for reuse to the system (the end of a resize).
void releaseCachedPixels();

}  // namespace torvel
