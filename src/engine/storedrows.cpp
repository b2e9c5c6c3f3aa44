#include "engine/storedrows.h"

#include <algorithm>

#include "engine/files.h"
#include "engine/reader.h"

namespace torvel {

StoredRows::StoredRows(ByteFile& file, uint64_t lineBytes, uint32_t height, std::function<int64_t(uint32_t)> offsetOf)
    : file_(file), lineBytes_(lineBytes), height_(height), offsetOf_(std::move(offsetOf)) {}

namespace {

// Adjacent rows of about this many bytes per read, however narrow they are.
uint32_t rowsPerRun(uint64_t lineBytes, uint64_t bytes) {
  return static_cast<uint32_t>(std::max<uint64_t>(1, bytes / lineBytes));
}

}  // namespace

bool StoredRows::allocate() {
  capacity_ = rowsPerRun(lineBytes_, uint64_t{1} << 20);
  current_.bytes = allocateLine(lineBytes_ * capacity_);
  return current_.bytes != nullptr;
}

void StoredRows::readAhead(uint64_t runBytes) {
  const uint32_t larger = rowsPerRun(lineBytes_, runBytes);
  if (larger > capacity_ && current_.count == 0) {
    std::unique_ptr<uint8_t[]> bytes = allocateLine(lineBytes_ * larger);
    if (bytes) {
      current_.bytes = std::move(bytes);
      capacity_ = larger;
    }
  }
  readAhead_ = capacity_ > 1;
}

void StoredRows::readAlone() {
  reader_.wait();
  ahead_.want = 0;
  readAhead_ = false;
  capacity_ = 1;
}

// The run of adjacent rows from `first` on. Offsets come from the file:
// adjacent only where the sum does not overflow.
void StoredRows::plan(Run& run, uint32_t first) const {
  run.first = first;
  run.start = offsetOf_(first);
  uint32_t n = 1;
  int64_t next = 0;
  while (n < capacity_ && first + n < height_ &&
         !__builtin_add_overflow(run.start, static_cast<int64_t>(n * lineBytes_), &next) &&
         offsetOf_(first + n) == next)
    ++n;
  run.want = static_cast<size_t>(n * lineBytes_);
  run.count = 0;
}

void StoredRows::fill(Run& run) {
  run.got = file_.readAt(run.start, run.bytes.get(), run.want);
  run.error = file_.takeError();
}

bool StoredRows::check(Run& run, std::string& why) const {
  const std::string row = "row " + std::to_string(run.first) + ": ";
  if (run.error) {
    why = row + systemErrorText(run.error);
    return false;
  }
  // A short last line must never reach an output with stale bytes in it.
  if (run.got < lineBytes_) {
    why = row + "the file ends before the row does";
    return false;
  }
  run.count = static_cast<uint32_t>(run.got / lineBytes_);
  return true;
}

ImageReader::RowRun StoredRows::rows(uint32_t row, uint32_t most, std::string& why) {
  if (row >= current_.first && row - current_.first < current_.count)
    return held(row, most);
  reader_.wait();
  if (ahead_.want && ahead_.first == row) {
    std::swap(current_, ahead_);
  } else {
    plan(current_, row);
    fill(current_);
  }
  ahead_.want = 0;
  if (!check(current_, why)) return {};
  const uint32_t next = current_.first + current_.count;
  if (readAhead_ && !ahead_.bytes) ahead_.bytes = allocateLine(lineBytes_ * capacity_);
  if (readAhead_ && ahead_.bytes && next < height_) {
    plan(ahead_, next);
    reader_.run([this] { fill(ahead_); });
  }
  return held(row, most);
}

ImageReader::RowRun StoredRows::held(uint32_t row, uint32_t most) const {
  const uint32_t at = row - current_.first;
  return {current_.bytes.get() + at * lineBytes_, std::max(1u, std::min(most, current_.count - at))};
}

bool StoredRows::region(uint32_t x, uint32_t y, uint32_t width, uint32_t height, size_t pixel, uint8_t* out,
                        size_t stride, std::string& why) {
  reader_.wait();
  ahead_.want = 0;
  const size_t bytes = width * pixel;
  for (uint32_t r = 0; r < height; ++r) {
    const size_t got = file_.readAt(offsetOf_(y + r) + static_cast<int64_t>(x * pixel), out + r * stride, bytes);
    if (int e = file_.takeError()) {
      why = "row " + std::to_string(y + r) + ": " + systemErrorText(e);
      return false;
    }
    if (got != bytes) {
      why = "row " + std::to_string(y + r) + ": the file ends before the row does";
      return false;
    }
  }
  return true;
}

StoredRowsReader::StoredRowsReader(const ImageInfo& info)
    : ImageReader(info),
      rows_(file_, info.lineBytes(), info.height, [this](uint32_t row) { return storedRowOffset(row); }) {}

bool StoredRowsReader::open(std::string& why) {
  if (!rows_.allocate()) {
    why = rowMemoryText(info_);
    return false;
  }
  if (file_.openRead(info_.path)) return true;
  why = systemErrorText(file_.takeError());
  return false;
}

ImageReader::RowRun StoredRowsReader::readRows(uint32_t first, uint32_t most) {
  std::string why;
  const RowRun run = rows_.rows(first, most, why);
  if (!run.rows) fail(why);
  return run;
}

bool StoredRowsReader::readRegion(uint32_t x, uint32_t y, uint32_t width, uint32_t height, uint8_t* out,
                                  size_t stride) {
  std::string why;
  return rows_.region(x, y, width, height, static_cast<size_t>(info_.bytesPerPixel()), out, stride, why) ||
         fail(why);
}

}  // namespace torvel
