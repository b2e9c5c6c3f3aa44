// TIFF files through buffered byte files. libtiff reads and writes every strip
// with a call of its own, and the tiles of a split or a merge are narrow, so
// unbuffered they would cost one system call per tile line. Inputs are not
// memory-mapped either: a mapped input of many GB would count as resident
// memory line after line.
#pragma once

#include <string>

struct tiff;
typedef struct tiff TIFF;

// Opens `path` for reading; null when it cannot be opened or is no TIFF.
TIFF* OpenBufferedTiff(const std::string& path);
// Creates `path` for writing ("w" classic, "w8" BigTIFF); null on failure.
TIFF* CreateBufferedTiff(const std::string& path, const char* mode);

// Writes out what the buffer still holds; false when the file has failed.
bool FlushBufferedTiff(TIFF* tif);
