// TIFF outputs written through a buffered byte file: libtiff writes every
// strip (one line here) with a call of its own, and tiles of a split are
// narrow, so unbuffered they would cost one system call per tile line.
#pragma once

#include <string>

struct tiff;
typedef struct tiff TIFF;

// Creates `path` for writing ("w" classic, "w8" BigTIFF); null on failure.
TIFF* CreateBufferedTiff(const std::string& path, const char* mode);

// Writes out what the buffer still holds; false when the file has failed.
bool FlushBufferedTiff(TIFF* tif);
