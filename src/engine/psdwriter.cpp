// Photoshop outputs: PSB (or PSD where the size allows), RGB or Grayscale,
// 8 or 16 bits, RLE. The image data is planar, so the run hands the rows
// over once per plane; each pass codes one plane, whose table of RLE row
// lengths, reserved before it, is filled in when the plane is complete.
//
// With alpha the file is what Photoshop saves for a transparent image: one
// layer holding the pixels exactly (its channels first), then the composite,
// whose colours are matted against white and whose fourth channel is the
// transparency, as the composite's readers expect. Without alpha it is the
// composite alone.
#include <cstring>

#include "engine/bytefile.h"
#include "engine/files.h"
#include "engine/formatparts.h"
#include "engine/psd.h"
#include "engine/psdsections.h"

namespace torvel {

namespace {

class PsdWriter : public ImageWriter {
 public:
  PsdWriter(const ImageInfo& info, std::unique_ptr<PartFile> part, bool psd)
      : ImageWriter(info, std::move(part)), large_(!psd), entry_(psd ? 2 : 4), alpha_(info.channels % 2 == 0) {}

  bool open(std::string& why);
  int passes() const override { return layerPlanes() + info().channels; }
  void beginPass(int pass) override;

 protected:
  bool putRow(const uint8_t* line) override;
  bool complete() override { return flush() && (file_.close(), check()); }
  void abandon() override { file_.close(); }

 private:
  int layerPlanes() const { return alpha_ ? info().channels : 0; }
  bool composite() const { return pass_ >= layerPlanes(); }
  void sample(const uint8_t* line);
  void endLayers();
  void put(const std::vector<uint8_t>& bytes) {
    file_.write(bytes.data(), bytes.size());
    at_ += static_cast<int64_t>(bytes.size());
  }
  bool flush();
  bool check() {
    const int e = file_.takeError();
    return e == 0 || fail(systemErrorText(e));
  }
  ByteFile file_;
  bool large_;
  size_t entry_;                  // bytes of a row length in a table
  bool alpha_;
  int64_t at_ = 0;                // where the next byte goes
  PsdLayerRecord record_;         // where the layer's lengths go
  int64_t compositeTableAt_ = 0;  // the composite's table of row lengths
  int64_t planeAt_ = 0;           // the current layer plane's compression field
  int64_t tableAt_ = 0;           // the current plane's table of row lengths
  std::vector<uint8_t> lengths_;  // the current plane's part of it
  std::vector<uint8_t> sample_, packed_, buffer_;
  int pass_ = -1;
  uint32_t row_ = 0;
};

bool PsdWriter::open(std::string& why) {
  if (!allocate()) {
    why = rowMemoryText(info());
    return false;
  }
  file_.adopt(takeDescriptor());
  std::vector<uint8_t> head = psdHead(info(), large_);
  if (alpha_) record_ = appendLayerRecord(head, info(), large_);
  else head.resize(head.size() + (large_ ? 8 : 4));  // no layer section
  put(head);
  lengths_.assign(size_t(info().height) * entry_, 0);
  buffer_.reserve(size_t{1} << 20);
  beginPass(0);  // the run begins only the passes after the first
  if (int e = file_.takeError()) {
    why = systemErrorText(e);
    return false;
  }
  return true;
}

// Each plane starts with room for its table; a layer's planes each with
// their compression, the composite's with one compression for all.
void PsdWriter::beginPass(int pass) {
  pass_ = pass;
  row_ = 0;
  const int64_t table = int64_t{info().height} * static_cast<int64_t>(entry_);
  if (pass < layerPlanes()) {
    planeAt_ = at_;
    put({0, 1});  // RLE
    tableAt_ = at_;
    at_ += table;
    file_.seek(at_);
    return;
  }
  if (pass == layerPlanes()) {
    if (alpha_) endLayers();
    put({0, 1});
    compositeTableAt_ = at_;
    at_ += table * info().channels;
    file_.seek(at_);
  }
  tableAt_ = compositeTableAt_ + table * (pass - layerPlanes());
}

// The layer section is complete: padded, an empty global mask, its lengths filled in.
void PsdWriter::endLayers() {
  const int64_t infoLength = at_ - (record_.infoAt + (large_ ? 8 : 4));
  put(std::vector<uint8_t>(static_cast<size_t>((4 - infoLength % 4) % 4) + 4, 0));
  putPsdLength(file_, record_.infoAt, infoLength + (4 - infoLength % 4) % 4, large_);
  putPsdLength(file_, record_.sectionAt, at_ - (record_.sectionAt + (large_ ? 8 : 4)), large_);
}

// The current plane's samples of `line`; the composite's colours matted against white.
void PsdWriter::sample(const uint8_t* line) {
  const ImageInfo& i = info();
  const size_t bps = static_cast<size_t>(i.bits / 8), pixel = bps * static_cast<size_t>(i.channels);
  const int plane = composite() ? pass_ - layerPlanes() : pass_;
  const bool matte = alpha_ && composite() && plane < i.channels - 1;
  sample_.resize(size_t(i.width) * bps);
  for (size_t x = 0; x < i.width; ++x) {
    const uint8_t* p = line + x * pixel;
    uint8_t* d = &sample_[x * bps];
    std::memcpy(d, p + plane * bps, bps);
    if (!matte) continue;
    const uint8_t* a = p + (i.channels - 1) * bps;
    if (bps == 1)
      *d = static_cast<uint8_t>((*d * *a + 255 * (255 - *a) + 127) / 255);
    else
      putBigEndian16(d, static_cast<uint16_t>((uint64_t{bigEndian16(d)} * bigEndian16(a) +
                                               65535ull * (65535 - bigEndian16(a)) + 32767) / 65535));
  }
}

bool PsdWriter::putRow(const uint8_t* line) {
  sample(line);
  packed_.clear();
  packBits(sample_.data(), sample_.size(), packed_);
  if (entry_ == 2)
    putBigEndian16(&lengths_[row_ * 2], static_cast<uint16_t>(packed_.size()));
  else
    putBigEndian32(&lengths_[row_ * 4], static_cast<uint32_t>(packed_.size()));
  buffer_.insert(buffer_.end(), packed_.begin(), packed_.end());
  at_ += static_cast<int64_t>(packed_.size());
  if (buffer_.size() >= (size_t{1} << 20) && !flush()) return false;
  if (++row_ < info().height) return true;
  // The plane is complete: its table goes in, and a layer plane's length.
  if (!flush()) return false;
  file_.writeAt(tableAt_, lengths_.data(), lengths_.size());
  if (!composite()) putPsdLength(file_, record_.channelLengthAt[static_cast<size_t>(pass_)], at_ - planeAt_, large_);
  return check();
}

bool PsdWriter::flush() {
  file_.write(buffer_.data(), buffer_.size());
  buffer_.clear();
  return check();
}

}  // namespace

std::unique_ptr<ImageWriter> createPsdOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                             std::string& why) {
  auto w = std::make_unique<PsdWriter>(setup.info, std::move(part), setup.format.psd);
  if (!w->open(why)) return nullptr;
  return w;
}

}  // namespace torvel
