#include "engine/tifffile.h"

#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/bytefile.h"
#include "engine/files.h"

namespace torvel {

// The file under one TIFF handle: a read-ahead buffer for inputs, a
// write-behind buffer for outputs, and what went wrong with it.
struct TiffFile::Stream {
  ByteFile file;
  bool writing = false;
  std::unique_ptr<char[]> buffer;  // not cleared: every byte used is written first
  size_t capacity = 0;
  int64_t bufStart = 0;  // file position of buffer[0]
  size_t used = 0;       // bytes of the buffer that hold data
  int64_t pos = 0;       // libtiff's position
  int64_t end = 0;       // the file's size, buffered bytes included
  int64_t placedFrom = 0, placedTo = 0;  // bytes in the file that libtiff has yet to write
  int systemError = 0;
  std::string message;  // the library's last error about this file

  void takeSystemError() {
    if (int e = file.takeError()) systemError = e;
  }
  // Writes out what the write buffer holds.
  bool flush() {
    if (used == 0) return systemError == 0;
    const bool ok = file.writeAt(bufStart, buffer.get(), used) == used && file.takeError() == 0;
    used = 0;
    if (!ok && systemError == 0) systemError = ENOSPC;
    return ok && systemError == 0;
  }
  tmsize_t write(const char* src, tmsize_t n);
  tmsize_t read(char* dst, tmsize_t n);
  char* appendSpace(size_t n);
};

namespace {

TiffFile::Stream* streamOf(thandle_t h) { return static_cast<TiffFile::Stream*>(h); }

tmsize_t writeProc(thandle_t h, void* buf, tmsize_t n) { return streamOf(h)->write(static_cast<char*>(buf), n); }
tmsize_t readProc(thandle_t h, void* buf, tmsize_t n) { return streamOf(h)->read(static_cast<char*>(buf), n); }

// A seek the file cannot satisfy fails as lseek would, and the library then
// reports a seek error instead of reading what is not there: before the
// start, past the end of an input, or beyond what a file offset holds.
toff_t seekProc(thandle_t h, toff_t off, int whence) {
  TiffFile::Stream* s = streamOf(h);
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return static_cast<toff_t>(-1);
  const int64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->end : 0;
  int64_t target = 0;
  if (whence == SEEK_SET ? off > static_cast<toff_t>(INT64_MAX)
                         : __builtin_add_overflow(base, static_cast<int64_t>(off), &target))
    return static_cast<toff_t>(-1);
  if (whence == SEEK_SET) target = static_cast<int64_t>(off);
  if (target < 0 || (!s->writing && target > s->end)) return static_cast<toff_t>(-1);
  s->pos = target;
  return static_cast<toff_t>(s->pos);
}

int closeProc(thandle_t h) {
  TiffFile::Stream* s = streamOf(h);
  bool ok = !s->writing || s->flush();
  s->file.close();
  if (int e = s->file.takeError()) {
    s->systemError = e;
    ok = false;
  }
  return ok ? 0 : -1;
}

toff_t sizeProc(thandle_t h) { return static_cast<toff_t>(streamOf(h)->end); }
int mapProc(thandle_t, void**, toff_t*) { return 0; }
void unmapProc(thandle_t, void*, toff_t) {}

int keepError(TIFF*, void* user, const char* module, const char* fmt, va_list args) {
  static_cast<TiffFile::Stream*>(user)->message = tiffMessageText(module, fmt, args);
  return 1;  // handled: the process-wide handler stays quiet
}

int dropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

void silentHandler(const char*, const char*, va_list) {}

TIFF* clientOpen(const std::string& path, const char* mode, TiffFile::Stream* s) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, keepError, s);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, dropWarning, s);
  // No single allocation a file's tags can ask for beyond 2 GB.
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t{1} << 31);
  TIFF* t = TIFFClientOpenExt(path.c_str(), mode, s, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                              unmapProc, opts);
  TIFFOpenOptionsFree(opts);
  return t;
}

}  // namespace

tmsize_t TiffFile::Stream::write(const char* src, tmsize_t n) {
  if (systemError) return -1;
  if (pos == placedFrom && n <= placedTo - placedFrom) {
    pos = placedFrom += n;
    end = std::max(end, pos);
    return n;
  }
  if (pos != bufStart + static_cast<int64_t>(used)) {
    if (!flush()) return -1;
    bufStart = pos;
  }
  tmsize_t left = n;
  if (src == buffer.get() + used && static_cast<size_t>(n) <= capacity - used) {
    used += static_cast<size_t>(n);  // made in place by appendSpace()
    left = 0;
  }
  while (left > 0) {
    const size_t room = capacity - used;
    const size_t k = static_cast<size_t>(left) < room ? static_cast<size_t>(left) : room;
    std::memmove(buffer.get() + used, src, k);  // src may lie in the buffer
    used += k;
    src += k;
    left -= static_cast<tmsize_t>(k);
    if (used == capacity) {
      const int64_t next = bufStart + static_cast<int64_t>(used);
      if (!flush()) return -1;
      bufStart = next;
    }
  }
  pos += n;
  end = std::max(end, pos);
  return n;
}

char* TiffFile::Stream::appendSpace(size_t n) {
  if (!writing || systemError || n > capacity) return nullptr;
  if (bufStart + static_cast<int64_t>(used) != end || capacity - used < n) {
    if (!flush()) return nullptr;
    bufStart = end;
  }
  return buffer.get() + used;
}

tmsize_t TiffFile::Stream::read(char* dst, tmsize_t n) {
  if (writing) {
    // An output read back by the library: what is buffered goes first.
    if (!flush()) return -1;
    const size_t got = file.readAt(pos, dst, static_cast<size_t>(n));
    if (int e = file.takeError()) {
      systemError = e;
      return -1;
    }
    pos += static_cast<int64_t>(got);
    bufStart = pos;
    return static_cast<tmsize_t>(got);
  }
  tmsize_t done = 0;
  while (done < n) {
    if (pos < bufStart || pos >= bufStart + static_cast<int64_t>(used)) {
      // Large reads go straight to the caller; small ones refill the buffer.
      const tmsize_t left = n - done;
      if (left >= static_cast<tmsize_t>(capacity)) {
        const size_t got = file.readAt(pos, dst + done, static_cast<size_t>(left));
        if (int e = file.takeError()) {
          systemError = e;
          return -1;
        }
        pos += static_cast<int64_t>(got);
        return done + static_cast<tmsize_t>(got);
      }
      bufStart = pos;
      used = file.readAt(pos, buffer.get(), capacity);
      if (int e = file.takeError()) {
        systemError = e;
        return -1;
      }
      if (used == 0) break;
    }
    const size_t at = static_cast<size_t>(pos - bufStart);
    const size_t k = std::min(static_cast<size_t>(n - done), used - at);
    std::memcpy(dst + done, buffer.get() + at, k);
    done += static_cast<tmsize_t>(k);
    pos += static_cast<int64_t>(k);
  }
  return done;
}

std::unique_ptr<TiffFile> TiffFile::openRead(const std::string& path, std::string& why) {
  installTiffHandlers();
  std::unique_ptr<TiffFile> f(new TiffFile);
  f->stream_ = std::make_unique<Stream>();
  Stream& s = *f->stream_;
  s.capacity = 256 * 1024;
  s.buffer.reset(new char[s.capacity]);
  if (!s.file.openRead(path) || (s.end = s.file.size()) < 0) {
    s.takeSystemError();
    why = systemErrorText(s.systemError ? s.systemError : EIO);
    return nullptr;
  }
  // "m": never map; our procedures are the only way to the file.
  f->tif_ = clientOpen(path, "rm", &s);
  if (!f->tif_) {
    why = s.message.empty() ? "not a TIFF file" : s.message;
    return nullptr;
  }
  return f;
}

std::unique_ptr<TiffFile> TiffFile::create(int fd, const std::string& name, bool bigTiff, std::string& why) {
  installTiffHandlers();
  if (fd < 0) {
    why = systemErrorText(errno);
    return nullptr;
  }
  std::unique_ptr<TiffFile> f(new TiffFile);
  f->stream_ = std::make_unique<Stream>();
  Stream& s = *f->stream_;
  s.writing = true;
  s.capacity = 120 * 1024;  // below malloc's mmap threshold: a split keeps dozens open
  s.buffer.reset(new char[s.capacity]);
  s.file.adopt(fd);
  f->tif_ = clientOpen(name, bigTiff ? "w8m" : "wm", &s);
  if (!f->tif_) {
    why = s.message.empty() ? "cannot start the TIFF file" : s.message;
    return nullptr;
  }
  return f;
}

TiffFile::~TiffFile() {
  if (tif_) TIFFClose(tif_);
}

std::string TiffFile::failureReason() const {
  if (stream_->systemError) return systemErrorText(stream_->systemError);
  return stream_->message;
}

std::string tiffMessageText(const char* module, const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  return module && *module ? std::string(module) + ": " + text : std::string(text);
}

uint8_t* TiffFile::appendSpace(size_t n) { return reinterpret_cast<uint8_t*>(stream_->appendSpace(n)); }

bool TiffFile::placeRows(const uint8_t* first, size_t stride, size_t bytes, uint32_t count) {
  Stream& s = *stream_;
  if (!s.writing || !s.flush()) return false;
  s.file.writeSpacedAt(s.end, first, stride, bytes, count);
  s.takeSystemError();
  if (s.systemError) return false;
  s.placedFrom = s.end;
  s.placedTo = s.end + static_cast<int64_t>(bytes * count);
  return true;
}

bool TiffFile::placedRowsTaken() const { return stream_->placedFrom == stream_->placedTo; }

bool TiffFile::close() {
  if (!tif_) return false;
  // The directory is written here; a file without it is no image.
  bool ok = TIFFFlush(tif_) == 1 && stream_->flush();
  TIFFClose(tif_);
  tif_ = nullptr;
  return ok && stream_->systemError == 0;
}

void installTiffHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetWarningHandler(silentHandler);
    TIFFSetErrorHandler(silentHandler);
  });
}

}  // namespace torvel
