#include "engine/tiffstream.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/bytefile.h"

namespace {

// A write-behind buffer over a byte file; reads and seeks flush it first.
struct TBufferedOut {
  TByteFile File;
  std::vector<char> Buffer = std::vector<char>(64 * 1024);
  size_t Used = 0;
  int64_t BufStart = 0;  // file position of Buffer[0]
  int64_t Pos = 0;       // libtiff's position
  int64_t End = 0;       // size of the file including the buffer
  bool Failed = false;

  bool Flush() {
    if (Used == 0) return !Failed;
    if (!File.Seek(BufStart) || File.Write(Buffer.data(), Used) != Used || File.TakeError() != 0) Failed = true;
    Used = 0;
    return !Failed;
  }
};

TBufferedOut* Out(thandle_t h) { return static_cast<TBufferedOut*>(h); }

tmsize_t WriteProc(thandle_t h, void* buf, tmsize_t n) {
  TBufferedOut* o = Out(h);
  if (o->Failed) return -1;
  if (o->Pos != o->BufStart + static_cast<int64_t>(o->Used)) {
    if (!o->Flush()) return -1;
    o->BufStart = o->Pos;
  }
  const char* src = static_cast<const char*>(buf);
  tmsize_t left = n;
  while (left > 0) {
    size_t room = o->Buffer.size() - o->Used;
    size_t k = static_cast<size_t>(left) < room ? static_cast<size_t>(left) : room;
    std::memcpy(o->Buffer.data() + o->Used, src, k);
    o->Used += k;
    src += k;
    left -= static_cast<tmsize_t>(k);
    if (o->Used == o->Buffer.size()) {
      const int64_t next = o->BufStart + static_cast<int64_t>(o->Used);
      if (!o->Flush()) return -1;
      o->BufStart = next;
    }
  }
  o->Pos += n;
  if (o->Pos > o->End) o->End = o->Pos;
  return n;
}

tmsize_t ReadProc(thandle_t h, void* buf, tmsize_t n) {
  TBufferedOut* o = Out(h);
  if (!o->Flush() || !o->File.Seek(o->Pos)) return -1;
  size_t got = o->File.Read(buf, static_cast<size_t>(n));
  if (o->File.TakeError() != 0) return -1;
  o->Pos += static_cast<int64_t>(got);
  o->BufStart = o->Pos;
  return static_cast<tmsize_t>(got);
}

toff_t SeekProc(thandle_t h, toff_t off, int whence) {
  TBufferedOut* o = Out(h);
  int64_t base = whence == SEEK_CUR ? o->Pos : whence == SEEK_END ? o->End : 0;
  o->Pos = base + static_cast<int64_t>(off);
  return static_cast<toff_t>(o->Pos);
}

int CloseProc(thandle_t h) {
  TBufferedOut* o = Out(h);
  bool ok = o->Flush();
  o->File.Close();
  ok = o->File.TakeError() == 0 && ok;
  delete o;
  return ok ? 0 : -1;
}

toff_t SizeProc(thandle_t h) { return static_cast<toff_t>(Out(h)->End); }

int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// A read-ahead buffer over a byte file, for inputs.
struct TBufferedIn {
  TByteFile File;
  std::vector<char> Buffer = std::vector<char>(256 * 1024);
  int64_t BufStart = 0;  // file position of Buffer[0]
  size_t Filled = 0;
  int64_t Pos = 0;
  int64_t Size = 0;
};

TBufferedIn* In(thandle_t h) { return static_cast<TBufferedIn*>(h); }

tmsize_t InReadProc(thandle_t h, void* buf, tmsize_t n) {
  TBufferedIn* r = In(h);
  char* dst = static_cast<char*>(buf);
  tmsize_t done = 0;
  while (done < n) {
    if (r->Pos < r->BufStart || r->Pos >= r->BufStart + static_cast<int64_t>(r->Filled)) {
      // Large reads go straight to the caller; small ones refill the buffer.
      const tmsize_t left = n - done;
      if (left >= static_cast<tmsize_t>(r->Buffer.size())) {
        if (!r->File.Seek(r->Pos)) return -1;
        const size_t got = r->File.Read(dst + done, static_cast<size_t>(left));
        if (r->File.TakeError() != 0) return -1;
        r->Pos += static_cast<int64_t>(got);
        return done + static_cast<tmsize_t>(got);
      }
      if (!r->File.Seek(r->Pos)) return -1;
      r->BufStart = r->Pos;
      r->Filled = r->File.Read(r->Buffer.data(), r->Buffer.size());
      if (r->File.TakeError() != 0) return -1;
      if (r->Filled == 0) break;
    }
    const size_t at = static_cast<size_t>(r->Pos - r->BufStart);
    const size_t k = std::min(static_cast<size_t>(n - done), r->Filled - at);
    std::memcpy(dst + done, r->Buffer.data() + at, k);
    done += static_cast<tmsize_t>(k);
    r->Pos += static_cast<int64_t>(k);
  }
  return done;
}

tmsize_t InWriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t InSeekProc(thandle_t h, toff_t off, int whence) {
  TBufferedIn* r = In(h);
  const int64_t base = whence == SEEK_CUR ? r->Pos : whence == SEEK_END ? r->Size : 0;
  r->Pos = base + static_cast<int64_t>(off);
  return static_cast<toff_t>(r->Pos);
}

int InCloseProc(thandle_t h) {
  delete In(h);
  return 0;
}

toff_t InSizeProc(thandle_t h) { return static_cast<toff_t>(In(h)->Size); }

}  // namespace

TIFF* OpenBufferedTiff(const std::string& path) {
  auto* r = new TBufferedIn;
  if (!r->File.OpenRead(path) || (r->Size = r->File.Size()) < 0) {
    delete r;
    return nullptr;
  }
  TIFF* t = TIFFClientOpen(path.c_str(), "rm", r, InReadProc, InWriteProc, InSeekProc, InCloseProc, InSizeProc,
                           MapProc, UnmapProc);
  if (!t) InCloseProc(r);
  return t;
}

TIFF* CreateBufferedTiff(const std::string& path, const char* mode) {
  auto* o = new TBufferedOut;
  if (!o->File.Create(path)) {
    delete o;
    return nullptr;
  }
  // "m": never map; the procs above are the only way to the file.
  const std::string m = std::string(mode) + "m";
  TIFF* t = TIFFClientOpen(path.c_str(), m.c_str(), o, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc,
                           UnmapProc);
  if (!t) CloseProc(o);  // libtiff does not close a handle it refused
  return t;
}

bool FlushBufferedTiff(TIFF* tif) { return Out(TIFFClientdata(tif))->Flush(); }
