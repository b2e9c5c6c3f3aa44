// Pixel lines stored one after the other from an offset, with nothing
// between them: RAW files, and KRO files after their header.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/bytefile.h"
#include "engine/reader.h"
#include "engine/storedrows.h"
#include "engine/writer.h"

namespace torvel {

class PlainLineReader : public StoredRowsReader {
 public:
  PlainLineReader(const ImageInfo& info, int64_t dataOffset) : StoredRowsReader(info), offset_(dataOffset) {}

 private:
  int64_t storedRowOffset(uint32_t row) const override {
    return offset_ + static_cast<int64_t>(row * info_.lineBytes());
  }
  int64_t offset_;
};

class PlainLineWriter : public ImageWriter {
 public:
  PlainLineWriter(const ImageInfo& info, std::unique_ptr<PartFile> part) : ImageWriter(info, std::move(part)) {}
  // Creates the file and writes `header` first; a failed header write shows
  // at the first row.
  bool open(const uint8_t* header, size_t headerBytes, std::string& why);
  bool writesRowsDirectly() const override { return true; }

 protected:
  // Rows are made in place in the write buffer and gather into large writes:
  // a split keeps dozens of narrow tiles open.
  uint8_t* rowBuffer() override;
  bool putRow(const uint8_t* line) override;
  bool putRows(const uint8_t* first, size_t stride, uint32_t count) override;
  bool complete() override;
  void abandon() override { file_.close(); }

 private:
  bool flush();
  ByteFile file_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0, used_ = 0;
};

}  // namespace torvel
