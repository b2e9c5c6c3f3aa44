#include "resize/rawio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

class TPosixFile : public TFileStream {
 public:
  explicit TPosixFile(int fd) : fd_(fd) {}
  ~TPosixFile() override { ::close(fd_); }
  bool SetPosition(int64_t pos) override { return ::lseek(fd_, pos, SEEK_SET) == pos; }
  int64_t Position() override { return ::lseek(fd_, 0, SEEK_CUR); }
  int64_t Read(void* buf, int64_t count) override {
    int64_t done = 0;
    while (done < count) {
      ssize_t n = ::read(fd_, static_cast<char*>(buf) + done, static_cast<size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += n;
    }
    return done;
  }
  int64_t Write(const void* buf, int64_t count) override {
    int64_t done = 0;
    while (done < count) {
      ssize_t n = ::write(fd_, static_cast<const char*>(buf) + done, static_cast<size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += n;
    }
    return done;
  }
  int64_t Size() override {
    struct stat st;
    return ::fstat(fd_, &st) == 0 ? st.st_size : 0;
  }

 private:
  int fd_;
};

// A handle of FileAccess: the buffered stream and the file under it.
struct TFileHandle {
  std::unique_ptr<TFileStream> File;
  std::unique_ptr<TBufferedStream> Stream;
};

TImagingHandle FileOpen(const std::string& Source, TOpenMode Mode) {
  std::unique_ptr<TFileStream> file(OpenPosixFile(Source, Mode));
  auto* h = new TFileHandle;
  h->File = std::move(file);
  h->Stream = std::make_unique<TBufferedStream>(h->File.get());
  return h;
}

void FileClose(TImagingHandle Handle) {
  std::unique_ptr<TFileHandle> h(static_cast<TFileHandle*>(Handle));
  h->Stream->Commit();  // the last block reaches the file here; a failure is raised
}

bool FileEof(TImagingHandle Handle) {
  auto* h = static_cast<TFileHandle*>(Handle);
  return h->Stream->Position() >= h->Stream->Size();
}

int64_t FileSeek(TImagingHandle Handle, int64_t Offset, TSeekMode Mode) {
  return static_cast<TFileHandle*>(Handle)->Stream->Seek(Offset, Mode);
}

int64_t FileTell(TImagingHandle Handle) { return static_cast<TFileHandle*>(Handle)->Stream->Position(); }

int64_t FileRead(TImagingHandle Handle, void* Buffer, int64_t Count) {
  return static_cast<TFileHandle*>(Handle)->Stream->Read(Buffer, Count);
}

int64_t FileWrite(TImagingHandle Handle, const void* Buffer, int64_t Count) {
  return static_cast<TFileHandle*>(Handle)->Stream->Write(Buffer, Count);
}

// Closes a handle when a row loop raised, keeping the first error.
struct THandleGuard {
  TImagingHandle Handle;
  ~THandleGuard() noexcept(false) {
    if (!Handle) return;
    if (std::uncaught_exceptions() > 0) {
      try {
        CurrentIO().Close(Handle);
      } catch (...) {
      }
    } else {
      CurrentIO().Close(Handle);
    }
  }
};

}  // namespace

TFileStream* OpenPosixFile(const std::string& name, TOpenMode mode) {
  int flags = mode == omReadOnly ? O_RDONLY : mode == omCreate ? (O_WRONLY | O_CREAT | O_TRUNC) : (O_RDWR | O_CREAT);
  int fd = ::open(name.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) throw EInOutError("Cannot open file \"" + name + "\". " + std::strerror(errno));
  if (mode == omReadWrite && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    ::close(fd);
    throw EInOutError("Cannot open file \"" + name + "\". " + std::strerror(e));
  }
  return new TPosixFile(fd);
}

const TIOFunctions FileAccess = {FileOpen, FileClose, FileEof, FileSeek, FileTell, FileRead, FileWrite};

TIOFunctions& CurrentIO() {
  thread_local TIOFunctions io = FileAccess;
  return io;
}

TBufferedStream::TBufferedStream(TFileStream* Stream)
    : FBuffer(new uint8_t[16384]),
      FBufSize(16384),
      FBufStart(0),
      FBufPos(0),
      FBytesInBuf(0),
      FSize(Stream->Size()),
      FDirty(false),
      FStream(Stream) {}

TBufferedStream::~TBufferedStream() {
  std::unique_ptr<uint8_t[]> buffer(FBuffer);
  // Closing commits first and reports a failure; here it can only be dropped.
  try {
    Commit();
  } catch (...) {
  }
  FStream->SetPosition(Position());
}

void TBufferedStream::ReadBuffer() {
  if (!FStream->SetPosition(FBufStart)) throw EImagingError("TBufferedStream.ReadBuffer: seek failed");
  int64_t n = FStream->Read(FBuffer, FBufSize);
  if (n <= 0) throw EImagingError("TBufferedStream.ReadBuffer: read failed");
  FBytesInBuf = static_cast<int32_t>(n);
}

void TBufferedStream::WriteBuffer() {
  if (!FStream->SetPosition(FBufStart)) throw EImagingError("TBufferedStream.WriteBuffer: seek failed");
  if (FStream->Write(FBuffer, FBytesInBuf) < FBytesInBuf) throw EImagingError("TBufferedStream.WriteBuffer: write failed");
}

int64_t TBufferedStream::Read(void* Buffer, int64_t Count) {
  if (Count > FSize - Position()) Count = FSize - Position();
  if (Count <= 0) return 0;
  if (FBytesInBuf == 0) ReadBuffer();
  auto* dst = static_cast<uint8_t*>(Buffer);
  int64_t left = Count;
  for (;;) {
    int64_t avail = FBytesInBuf - FBufPos;
    int64_t n = left < avail ? left : avail;
    if (n <= 0 && FBufPos < FBufSize) break;  // the file is shorter than it was
    std::memcpy(dst, FBuffer + FBufPos, static_cast<size_t>(n));
    dst += n;
    left -= n;
    FBufPos += static_cast<int32_t>(n);
    if (FBufPos >= FBufSize) {
      if (FDirty) {
        WriteBuffer();
        FDirty = false;
      }
      FBufStart += FBufSize;
      FBufPos = 0;
      FBytesInBuf = 0;
      if (left > 0) ReadBuffer();
    }
    if (left <= 0) break;
  }
  return Count;
}

int64_t TBufferedStream::Write(const void* Buffer, int64_t Count) {
  if (FBytesInBuf == 0 && FBufStart < FSize) ReadBuffer();
  const auto* src = static_cast<const uint8_t*>(Buffer);
  int64_t left = Count;
  while (left > 0) {
    int64_t room = FBufSize - FBufPos;
    int64_t n = left < room ? left : room;
    std::memcpy(FBuffer + FBufPos, src, static_cast<size_t>(n));
    FDirty = true;
    src += n;
    left -= n;
    if (n == room && left > 0) {
      FBytesInBuf = FBufSize;
      WriteBuffer();
      FBufStart += FBufSize;
      FBufPos = 0;
      FBytesInBuf = 0;
      if (FBufStart < FSize) ReadBuffer();
    } else {
      FBufPos += static_cast<int32_t>(n);
    }
  }
  if (FBytesInBuf < FBufPos) FBytesInBuf = FBufPos;
  if (FSize < FBufStart + FBytesInBuf) FSize = FBufStart + FBytesInBuf;
  if (FBufPos == FBufSize) {
    WriteBuffer();
    FDirty = false;
    FBufStart += FBufSize;
    FBufPos = 0;
    FBytesInBuf = 0;
  }
  return Count;
}

int64_t TBufferedStream::Seek(int64_t Offset, TSeekMode Origin) {
  int64_t pos;
  switch (Origin) {
    case smFromBeginning:
      pos = Offset;
      break;
    case smFromCurrent:
      pos = Position() + Offset;
      break;
    case smFromEnd:
      pos = FSize + Offset;
      break;
    default:
      throw EImagingError("TBufferedStream.Seek: invalid origin");
  }
  const int64_t block = pos & ~static_cast<int64_t>(FBufSize - 1);
  if (block != FBufStart) {
    if (FDirty) {
      WriteBuffer();
      FDirty = false;
    }
    FBufStart = block;
    FBytesInBuf = 0;
  }
  FBufPos = static_cast<int32_t>(pos - FBufStart);
  return pos;
}

void TBufferedStream::Commit() {
  if (FDirty) {
    WriteBuffer();
    FDirty = false;
  }
}

void ReadRawImage(const std::string& FileName, int32_t Width, int32_t Height, TImageFormat Format,
                  TImageData& Image, int64_t Offset, int64_t RowLength) {
  if (FileName.empty()) throw EImagingError("Assertion failure");
  TIOFunctions& io = CurrentIO();
  io = FileAccess;
  THandleGuard guard{io.Open(FileName, omReadOnly)};
  const TImageFormatInfo* info = GetFormatInfo(Format);
  if (!info) throw EImagingError("Assertion failure");
  const int64_t rowSize = info->GetPixelsSize(Format, Width, 1);
  if (RowLength == 0) RowLength = rowSize;
  // Every byte is read or, past the end of a short file, cleared below.
  const bool fresh = Image.Width != Width || Image.Height != Height || Image.Format != Format;
  if (fresh) AllocImageForOverwrite(Width, Height, Format, Image);
  io.Seek(guard.Handle, Offset, smFromCurrent);
  for (int64_t r = 0; r < Height; ++r) {
    const int64_t got = io.Read(guard.Handle, Image.Bits + r * rowSize, rowSize);
    if (fresh && got < rowSize) std::memset(Image.Bits + r * rowSize + got, 0, static_cast<size_t>(rowSize - got));
    io.Seek(guard.Handle, RowLength - rowSize, smFromCurrent);
  }
}

void WriteRawImage(const std::string& FileName, const TImageData& Image, int64_t Offset, int64_t RowLength) {
  if (FileName.empty()) throw EImagingError("Assertion failure");
  TIOFunctions& io = CurrentIO();
  io = FileAccess;
  THandleGuard guard{io.Open(FileName, omCreate)};
  const TImageFormatInfo* info = GetFormatInfo(Image.Format);
  if (!info) throw EImagingError("Assertion failure");
  const int64_t rowSize = info->GetPixelsSize(Image.Format, Image.Width, 1);
  if (RowLength == 0) RowLength = rowSize;
  io.Seek(guard.Handle, Offset, smFromCurrent);
  for (int64_t r = 0; r < Image.Height; ++r) {
    io.Write(guard.Handle, Image.Bits + r * rowSize, rowSize);
    io.Seek(guard.Handle, RowLength - rowSize, smFromCurrent);
  }
}
