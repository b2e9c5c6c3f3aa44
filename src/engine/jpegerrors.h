// What the JPEG reader and writer share: the library's errors turned into a
// long jump with the message kept, and the EXIF orientation of a file.
#pragma once

#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <string>

namespace torvel {

struct JpegErrors {
  jpeg_error_mgr manager;  // first: the library hands back its address
  std::jmp_buf jump;
  std::string message;
  // The error manager to put in a compress or decompress struct.
  jpeg_error_mgr* attach();
};

// The orientation (1 to 8) an EXIF block among the saved APP1 markers
// gives; 0 when there is none.
int exifOrientation(const jpeg_decompress_struct& cinfo);

}  // namespace torvel
