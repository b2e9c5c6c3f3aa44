// Rows stored one after another wherever the file puts them (RAW, KRO,
// uncompressed TIFF strips), read a run of adjacent ones at a time into one
// buffer and handed out from there. When asked, and read in order, the next
// run is read on a helper thread while the caller works on this one: reading
// the input and writing the output overlap on two cores.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/backgroundjob.h"
#include "engine/bytefile.h"
#include "engine/reader.h"

namespace torvel {

class StoredRows {
 public:
  // `offsetOf` gives the file offset of a row; the file is this object's
  // alone while rows are read.
  StoredRows(ByteFile& file, uint64_t lineBytes, uint32_t height, std::function<int64_t(uint32_t)> offsetOf);
  bool allocate();
  // The row, or null with `why` set.
  const uint8_t* row(uint32_t row, std::string& why) { return rows(row, 1, why).rows; }
  // The row and those after it in the same buffer, at most `most`.
  ImageReader::RowRun rows(uint32_t first, uint32_t most, std::string& why);
  // From now on each row is read alone, and none ahead.
  void readAlone();
  // From now on, while rows are read in order, the next run is read on a
  // helper thread (when a second buffer can be had); runs grow to about
  // `runBytes` when that is more and no row was read yet.
  void readAhead(uint64_t runBytes = 0);
  // A region straight from the file, one positioned read per row.
  bool region(uint32_t x, uint32_t y, uint32_t width, uint32_t height, size_t pixel, uint8_t* out, size_t stride,
              std::string& why);

 private:
  struct Run {
    std::unique_ptr<uint8_t[]> bytes;
    uint32_t first = 0, count = 0;
    int64_t start = 0;
    size_t want = 0, got = 0;
    int error = 0;
  };
  void plan(Run& run, uint32_t first) const;
  void fill(Run& run);
  bool check(Run& run, std::string& why) const;
  ImageReader::RowRun held(uint32_t row, uint32_t most) const;

  ByteFile& file_;
  uint64_t lineBytes_;
  uint32_t height_;
  std::function<int64_t(uint32_t)> offsetOf_;
  uint32_t capacity_ = 1;
  bool readAhead_ = false;
  Run current_, ahead_;
  BackgroundJob reader_;  // last: it ends before the buffers it fills
};

// A reader of rows stored plainly: every read goes through its StoredRows;
// a kind says only where each row starts.
class StoredRowsReader : public ImageReader {
 public:
  explicit StoredRowsReader(const ImageInfo& info);
  bool open(std::string& why);
  const uint8_t* readRow(uint32_t row) override { return readRows(row, 1).rows; }
  RowRun readRows(uint32_t first, uint32_t most) override;
  void readSparsely() override { rows_.readAlone(); }
  void readAhead(uint64_t runBytes) override { rows_.readAhead(runBytes); }
  bool readsRegionsDirectly() const override { return true; }
  bool readRegion(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t* out, size_t stride) override;

 protected:
  virtual int64_t storedRowOffset(uint32_t row) const = 0;

 private:
  ByteFile file_;
  StoredRows rows_;
};

}  // namespace torvel
