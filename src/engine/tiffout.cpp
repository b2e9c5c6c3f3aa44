#include "engine/tiffout.h"

#include <tiffio.h>

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

}  // namespace

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
