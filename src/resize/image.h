// The in-memory image of the resize workers: a whole tile (or the final
// image) and the pixel formats it can hold.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Errors of the image code; the tile worker turns every one into its Error flag.
class EImagingError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TImageFormat = int32_t;
constexpr TImageFormat ifUnknown = 0;
constexpr TImageFormat ifR8G8B8 = 87;
// Three 16-bit samples per pixel, host order: 16-bit inputs resize at 16 bits.
constexpr TImageFormat ifR16G16B16 = 91;

struct TColorFPRec {
  float B, G, R, A;
};

struct TImageFormatInfo {
  TImageFormat Format;
  const char* Name;
  int BytesPerPixel;
  int ChannelCount;
  int SampleMax;  // 255 or 65535: the full value of one sample
  float SampleScale;  // 1 / SampleMax as single precision
  int64_t (*GetPixelsSize)(TImageFormat Format, int64_t Width, int64_t Height);
  TColorFPRec (*GetPixelFP)(const uint8_t* Pixel);
  void (*SetPixelFP)(uint8_t* Pixel, const TColorFPRec& Color);
};

struct TImageData {
  int32_t Width = 0;
  int32_t Height = 0;
  TImageFormat Format = ifUnknown;
  int64_t Size = 0;  // bytes of pixel memory; 64-bit so large final images are described exactly
  uint8_t* Bits = nullptr;
  void* Palette = nullptr;
  void* Tag = nullptr;
};

// The description of a format code, or null when it has none.
const TImageFormatInfo* GetFormatInfo(TImageFormat Format);

// "(Width=.. Height=.. Format=..)", for error texts.
std::string ImageToStr(const TImageData& Image);

void EmptyImage(TImageData& Image);
bool IsImageValid(const TImageData& Image);
bool AllocImage(int32_t Width, int32_t Height, TImageFormat Format, TImageData& Image);
void ReleaseImage(TImageData& Image);
// As AllocImage, for callers that write every byte themselves: the memory
// may hold old pixels.
bool AllocImageForOverwrite(int32_t Width, int32_t Height, TImageFormat Format, TImageData& Image);
// Returns the pixel memory kept for reuse to the system (end of a resize).
void ReleaseCachedPixels();

// Owns an image record for the length of a scope.
class TImageHolder {
 public:
  TImageHolder() = default;
  TImageHolder(const TImageHolder&) = delete;
  TImageHolder& operator=(const TImageHolder&) = delete;
  ~TImageHolder() { ReleaseImage(Image); }
  TImageData Image;
};
