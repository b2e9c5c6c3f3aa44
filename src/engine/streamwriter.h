// A writer whose codec library (libpng, libjpeg) writes through a C stream
// of the output's part file: the stream opened, closed and dropped alike.
#pragma once

#include <string>

#include "engine/stdiofile.h"
#include "engine/text.h"
#include "engine/writer.h"

namespace torvel {

class StreamWriter : public ImageWriter {
 public:
  using ImageWriter::ImageWriter;

 protected:
  // The line's memory and the stream over the part file; false with `why`.
  bool openStream(std::string& why) {
    if (!allocate()) {
      why = rowMemoryText(info());
      return false;
    }
    return file_.adoptWrite(takeDescriptor(), why);
  }
  // The codec's last bytes; false after fail().
  virtual bool endEncoding() = 0;
  bool complete() override {
    std::string why;
    return endEncoding() && (file_.close(why) || fail(why));
  }
  void abandon() override {
    std::string why;
    file_.close(why);
  }
  StdioFile file_;
};

}  // namespace torvel
