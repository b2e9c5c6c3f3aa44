// The libraries this build runs on, for `torvel --version` and bug reports.
#pragma once

#include <string>

namespace torvel {

// "libtiff 4.5.0, zlib 1.2.13, libpng 1.6.39, libjpeg-turbo 2.1.5, libwebp 1.2.4"
std::string libraryVersions();

}  // namespace torvel
