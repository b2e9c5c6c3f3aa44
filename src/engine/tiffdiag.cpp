// The TIFF library would print its own warnings and errors on stderr; the
// user must see only the engine's messages, so both are routed to hooks that
// nothing assigns.
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "engine/torvel.h"

TTiffHook TiffWarningHook = nullptr;
TTiffHook TiffErrorHook = nullptr;

namespace {

void Forward(TTiffHook hook, const char* module, const char* fmt, va_list args) {
  if (!hook) return;
  char buf[1024];
  std::vsnprintf(buf, sizeof buf, fmt, args);
  hook(module ? module : "", buf);
}

void TiffWarningHandler(const char* module, const char* fmt, va_list args) {
  Forward(TiffWarningHook, module, fmt, args);
}

void TiffErrorHandler(const char* module, const char* fmt, va_list args) {
  Forward(TiffErrorHook, module, fmt, args);
}

}  // namespace

void InstallTiffHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetWarningHandler(TiffWarningHandler);
    TIFFSetErrorHandler(TiffErrorHandler);
  });
}
