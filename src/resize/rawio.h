// Headerless image files to and from an image record, through a table of
// file functions whose file implementation buffers 16384-byte blocks.
#pragma once

#include <cstdint>
#include <string>

#include "resize/image.h"

enum TOpenMode { omReadOnly, omCreate, omReadWrite };
enum TSeekMode { smFromBeginning, smFromCurrent, smFromEnd };

// The underlying file: what the buffered stream reads and writes in blocks.
class TFileStream {
 public:
  virtual ~TFileStream() = default;
  virtual bool SetPosition(int64_t pos) = 0;
  virtual int64_t Position() = 0;
  virtual int64_t Read(void* buf, int64_t count) = 0;
  virtual int64_t Write(const void* buf, int64_t count) = 0;
  virtual int64_t Size() = 0;
};

// A POSIX file; opening failures raise EInOutError with the system's text.
class EInOutError : public EImagingError {
 public:
  using EImagingError::EImagingError;
};
TFileStream* OpenPosixFile(const std::string& name, TOpenMode mode);

class TBufferedStream {
 public:
  explicit TBufferedStream(TFileStream* Stream);  // does not take ownership
  ~TBufferedStream();
  TBufferedStream(const TBufferedStream&) = delete;
  TBufferedStream& operator=(const TBufferedStream&) = delete;

  int64_t Read(void* Buffer, int64_t Count);
  int64_t Write(const void* Buffer, int64_t Count);
  int64_t Seek(int64_t Offset, TSeekMode Origin);
  void Commit();
  int64_t Position() const { return FBufStart + FBufPos; }
  int64_t Size() const { return FSize; }

 private:
  void ReadBuffer();
  void WriteBuffer();

  uint8_t* FBuffer;
  int32_t FBufSize;
  int64_t FBufStart;
  int32_t FBufPos;
  int32_t FBytesInBuf;
  int64_t FSize;
  bool FDirty;
  TFileStream* FStream;
};

using TImagingHandle = void*;
struct TIOFunctions {
  TImagingHandle (*Open)(const std::string& Source, TOpenMode Mode);
  void (*Close)(TImagingHandle Handle);
  bool (*Eof)(TImagingHandle Handle);
  int64_t (*Seek)(TImagingHandle Handle, int64_t Offset, TSeekMode Mode);
  int64_t (*Tell)(TImagingHandle Handle);
  int64_t (*Read)(TImagingHandle Handle, void* Buffer, int64_t Count);
  int64_t (*Write)(TImagingHandle Handle, const void* Buffer, int64_t Count);
};

// Files through buffered streams.
extern const TIOFunctions FileAccess;
// The table the image code calls through; each thread has its own.
TIOFunctions& CurrentIO();

void ReadRawImage(const std::string& FileName, int32_t Width, int32_t Height, TImageFormat Format,
                  TImageData& Image, int64_t Offset, int64_t RowLength);
void WriteRawImage(const std::string& FileName, const TImageData& Image, int64_t Offset, int64_t RowLength);
