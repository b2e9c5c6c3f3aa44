// An uncompressed ZIP written front to back, one whole entry at a time,
// with ZIP64 records where an offset or the number of entries needs them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/bytefile.h"

namespace torvel {

class ZipWriter {
 public:
  explicit ZipWriter(ByteFile& file) : file_(file) {}
  // Appends an entry; false when the file reports an error.
  bool add(const std::string& name, const uint8_t* data, size_t size);
  // Writes the central directory; false on an error.
  bool finish();
  // The errno of the first failed write; 0 when none.
  int error() const { return error_; }

 private:
  struct Entry {
    std::string name;
    uint32_t crc;
    uint32_t size;
    uint64_t offset;
  };
  bool put(const std::vector<uint8_t>& bytes);
  ByteFile& file_;
  uint64_t at_ = 0;
  int error_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace torvel
