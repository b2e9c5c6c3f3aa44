#include "resize/worker.h"

#include <pthread.h>

#include <cmath>

#include "engine/tilenames.h"
#include "engine/utils.h"
#include "resize/rawio.h"
#include "resize/resample.h"

TRawResize::~TRawResize() {
  if (thread_.joinable()) thread_.join();
}

void TRawResize::Init(const std::string& InFile, long double aDivider, bool Fast, int Bits) {
  SrcFileName = InFile;
  OutFileName.clear();
  Divider = aDivider;
  FastMethod = Fast;
  Error = false;
  Format = Bits == 16 ? ifR16G16B16 : ifR8G8B8;
}

void TRawResize::Start() {
  finished_ = false;
  thread_ = std::thread([this] { Execute(); });
}

void TRawResize::Execute() {
  pthread_setname_np(pthread_self(), "TRawResizeTh");
  ResizeTile();
  finished_.store(true, std::memory_order_release);
}

void TRawResize::ResizeTile() {
  int32_t w = 0, h = 0;
  ParseTileSize(SrcFileName, w, h);
  if (w <= 0 || h <= 0) {
    OutFileName.clear();
    return;
  }
  TImageData image;
  try {
    // Rounded halfway to even; a side that rounds to 0 is refused by the scaling.
    const long double nw = std::nearbyintl(w / Divider), nh = std::nearbyintl(h / Divider);
    const int32_t newW = nw > INT32_MAX ? INT32_MAX : static_cast<int32_t>(nw);
    const int32_t newH = nh > INT32_MAX ? INT32_MAX : static_cast<int32_t>(nh);
    std::string base, ext;
    ParseTileName(SrcFileName, base, ext);
    int32_t x = 0, y = 0;
    ParseTilePos(SrcFileName, x, y);
    base = FolderOf(SrcFileName) + base;
    EmptyImage(image);
    ReadRawImage(SrcFileName, w, h, Format, image, 0, 0);
    ScaleImage(image, newW, newH, FastMethod ? rfNearest : rfLanczos);
    std::string name = base + "_" + std::to_string(image.Width) + "X" + std::to_string(image.Height);
    if (x != 0) name += "_x" + std::to_string(x) + "y" + std::to_string(y);
    name += "." + ext;
    WriteRawImage(name, image, 0, 0);
    OutFileName = name;
    ReleaseImage(image);
  } catch (...) {
    Error = true;
    ReleaseImage(image);
  }
}
