// Pixel lines stored one after the other from an offset, with nothing
// between them: RAW files, and KRO files after their header.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/bytefile.h"
#include "engine/reader.h"
#include "engine/writer.h"

namespace torvel {

// Rows stored one after another wherever the file puts them, read a run of
// adjacent ones at a time into one buffer and handed out from there.
class StoredRows {
 public:
  // `offsetOf` gives the file offset of a row.
  StoredRows(ByteFile& file, uint64_t lineBytes, uint32_t height, std::function<int64_t(uint32_t)> offsetOf);
  bool allocate();
  // The row, or null with `why` set.
  const uint8_t* row(uint32_t row, std::string& why);
  // From now on each row is read alone.
  void readAlone() { capacity_ = 1; }
  // A region straight from the file, one positioned read per row.
  bool region(uint32_t x, uint32_t y, uint32_t width, uint32_t height, size_t pixel, uint8_t* out, size_t stride,
              std::string& why);

 private:
  ByteFile& file_;
  uint64_t lineBytes_;
  uint32_t height_;
  std::function<int64_t(uint32_t)> offsetOf_;
  std::unique_ptr<uint8_t[]> chunk_;
  uint32_t capacity_ = 1, first_ = 0, count_ = 0;
};

class PlainLineReader : public ImageReader {
 public:
  PlainLineReader(const ImageInfo& info, int64_t dataOffset);
  bool open(std::string& why);
  void readSparsely() override { rows_.readAlone(); }
  const uint8_t* readRow(uint32_t row) override;
  bool readsRegionsDirectly() const override { return true; }
  bool readRegion(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t* out, size_t stride) override;

 private:
  int64_t storedRowOffset(uint32_t row) const;
  ByteFile file_;
  int64_t offset_;
  StoredRows rows_;
};

class PlainLineWriter : public ImageWriter {
 public:
  PlainLineWriter(const ImageInfo& info, std::unique_ptr<PartFile> part) : ImageWriter(info, std::move(part)) {}
  // Creates the file and writes `header` first; a failed header write shows
  // at the first row.
  bool open(const uint8_t* header, size_t headerBytes, std::string& why);

 protected:
  // Rows are made in place in the write buffer and gather into large writes:
  // a split keeps dozens of narrow tiles open.
  uint8_t* rowBuffer() override;
  bool putRow(const uint8_t* line) override;
  bool complete() override;
  void abandon() override { file_.close(); }

 private:
  bool flush();
  ByteFile file_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t capacity_ = 0, used_ = 0;
};

}  // namespace torvel
