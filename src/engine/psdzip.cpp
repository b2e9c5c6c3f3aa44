// ZIP-compressed planes: a composite's planes as one zlib stream or one
// after another, a layer's each in its own, read by a stream position per
// plane that inflates in order (a composite plane's first passes over the
// planes before it), with the prediction of compression 3 undone row by row.
#include <zlib.h>

#include <cstring>

#include "engine/psdlayout.h"

namespace torvel {

namespace {

class ZipCursor {
 public:
  ZipCursor(ByteFile& file, int64_t start, int64_t end) : file_(file), start_(start), end_(end), input_(1 << 16) {}
  ~ZipCursor() {
    if (open_) inflateEnd(&z_);
  }
  // The next `n` bytes of the data; false when the data is damaged or ends.
  bool produce(uint8_t* out, size_t n);
  bool skip(uint64_t n);
  uint64_t produced() const { return produced_; }

 private:
  bool refill();
  ByteFile& file_;
  int64_t start_, end_, at_ = 0;
  std::vector<uint8_t> input_;
  z_stream z_{};
  bool open_ = false;
  uint64_t produced_ = 0;
};

bool ZipCursor::refill() {
  if (at_ == 0) at_ = start_;
  const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(input_.size()), end_ - at_));
  if (n == 0 || file_.readAt(at_, input_.data(), n) != n) return false;
  at_ += static_cast<int64_t>(n);
  z_.next_in = input_.data();
  z_.avail_in = static_cast<uInt>(n);
  return true;
}

bool ZipCursor::produce(uint8_t* out, size_t n) {
  z_.next_out = out;
  z_.avail_out = static_cast<uInt>(n);
  while (z_.avail_out > 0) {
    if (!open_) {
      if (inflateInit(&z_) != Z_OK) return false;
      open_ = true;
    }
    if (z_.avail_in == 0 && !refill()) return false;
    const int rc = inflate(&z_, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {  // the next plane's stream follows
      inflateEnd(&z_);
      open_ = false;
    } else if (rc != Z_OK) {
      return false;
    }
  }
  produced_ += n;
  return true;
}

bool ZipCursor::skip(uint64_t n) {
  uint8_t scratch[1 << 14];
  while (n > 0) {
    const size_t k = static_cast<size_t>(std::min<uint64_t>(n, sizeof scratch));
    if (!produce(scratch, k)) return false;
    n -= k;
  }
  return true;
}

// Undoes the horizontal differences of compression 3, big-endian samples.
void undoPrediction(uint8_t* row, uint32_t width, int depth) {
  if (depth == 8) {
    for (uint32_t i = 1; i < width; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - 1]);
    return;
  }
  for (uint32_t i = 1; i < width; ++i)
    putBigEndian16(row + 2 * i, static_cast<uint16_t>(bigEndian16(row + 2 * i) + bigEndian16(row + 2 * i - 2)));
}

// One plane's rows: a cursor kept from row to row, started again for a row
// before it (the reader asks in order, so only a restart costs).
class ZipRows : public PsdRows {
 public:
  ZipRows(ByteFile& file, const PsdLayout& layout, const PsdPlane& plane)
      : file_(file), l_(layout), plane_(plane) {}

  bool read(uint32_t row, uint8_t* out, std::string& why) override {
    const uint64_t rowBytes = l_.rowBytes(), want = plane_.skip + row * rowBytes;
    if (!cursor_ || cursor_->produced() > want) cursor_ = std::make_unique<ZipCursor>(file_, plane_.dataAt, plane_.end);
    if (!cursor_->skip(want - cursor_->produced()) || !cursor_->produce(out, static_cast<size_t>(rowBytes))) {
      why = "its ZIP data is damaged or ends before the image does";
      return false;
    }
    if (plane_.compression == 3) undoPrediction(out, l_.header.width, l_.header.depth);
    return true;
  }

 private:
  ByteFile& file_;
  const PsdLayout& l_;
  PsdPlane plane_;
  std::unique_ptr<ZipCursor> cursor_;
};

}  // namespace

std::unique_ptr<PsdRows> openPsdZipRows(ByteFile& file, const PsdLayout& layout, const PsdPlane& plane) {
  return std::make_unique<ZipRows>(file, layout, plane);
}

}  // namespace torvel
