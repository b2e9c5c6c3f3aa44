// A zoomable pyramid: one pass over the input, its rows made into the
// tiles' pixels (8 bits; alpha kept for PNG and WebP tiles, laid on the
// background for JPEG), every level below made by 2 × 2 means as the rows
// above it arrive, each row of tiles cut once its rows are in and coded on
// every core into a part folder (or a ZIP) that takes its final name only
// when the whole pyramid is complete.
#include <algorithm>
#include <thread>

#include "engine/files.h"
#include "engine/leftovers.h"
#include "engine/operations.h"
#include "engine/pyramidstore.h"
#include "engine/runsteps.h"
#include "engine/spans.h"
#include "engine/tilepool.h"
#include "engine/viewer.h"

namespace torvel {

namespace {

std::string stemOf(const std::string& path) {
  const std::string name = fileNameOf(path);
  return name.substr(0, name.size() - extensionOf(name).size());
}

class PyramidRun {
 public:
  PyramidRun(const PyramidRequest& request, const RunContext& context)
      : request_(request), context_(context), settings_(request.settings),
        plan_(settings_, request.input.width, request.input.height, stemOf(request.input.path)),
        alpha_(request.input.channels == 4 && tileAlpha(settings_.encoding.format)) {}
  RunResult run();

 private:
  std::string mainPath() const;
  bool prepare();
  bool stream(ImageReader& reader);
  void toTilePixels(const uint8_t* line, uint8_t* out) const;
  bool blank(const TilePiece& tile) const;
  bool code(TilePiece& tile, std::string& why);
  std::vector<StoredFile> besideFiles() const;
  bool stop(Outcome outcome, const std::string& why) {
    result_ = {outcome, why, {}};
    return false;
  }

  const PyramidRequest& request_;
  const RunContext& context_;
  PyramidSettings settings_;
  PyramidPlan plan_;
  bool alpha_;
  bool replacing_ = false;
  std::unique_ptr<PyramidStore> store_;
  RunResult result_;
};

// The name a viewer opens the pyramid by: what is asked about when it exists.
std::string PyramidRun::mainPath() const {
  const std::string& out = request_.outDir;
  if (settings_.zip) return out + stemOf(request_.input.path) + ".zip";
  return out + (plan_.descriptorBeside().empty() ? plan_.folder() : plan_.descriptorBeside());
}

bool PyramidRun::prepare() {
  if (std::string refusal = inputRefusal(request_.input, "File not found"); !refusal.empty())
    return stop(Outcome::Refused, refusal);
  if (settings_.viewer && !settings_.zip && viewerFiles().empty() && settings_.layout != PyramidLayout::Xyz)
    return stop(Outcome::Refused, "This build has no viewer to put beside the pyramid (scripts/openseadragon.sh "
                                  "fetches it): build again, or leave the viewer page out");
  const std::string main = mainPath();
  replacing_ = fileExists(main) || folderExists(main) || folderExists(request_.outDir + plan_.folder());
  if (replacing_ && !context_.mayReplace(main)) return stop(Outcome::Declined, main + " exists and was not replaced");
  removeLeftovers(request_.outDir);
  std::string why;
  store_ = settings_.zip ? zipStore(request_.outDir, stemOf(request_.input.path) + ".zip", plan_.folder(), why)
                         : folderStore(request_.outDir, plan_.folder(), why);
  if (!store_) return stop(Outcome::Failed, withReason("Write to file error", why));
  return true;
}

RunResult PyramidRun::run() {
  if (!prepare()) return result_;
  std::unique_ptr<ImageReader> reader = openRunInput(request_.input, context_, result_);
  if (!reader || !stream(*reader)) return result_;
  std::string why;
  const PartFile::Published p = store_->publish(besideFiles(), replacing_, why);
  if (p == PartFile::Published::NameTaken)
    return {Outcome::Declined, mainPath() + " appeared while it was written and was not replaced", {}};
  if (p != PartFile::Published::Yes) return {Outcome::Failed, withReason("Write to file error", why), {}};
  return {Outcome::Completed, "", store_->written()};
}

// The input's rows into the chain, which hands every level's rows to the
// bands, which hand their tiles to the coders.
bool PyramidRun::stream(ImageReader& reader) {
  const ImageInfo& in = request_.input;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const ChainPixels pixels{8, alpha_ ? 4 : 3, alpha_};
  std::vector<uint8_t> fill(settings_.background, settings_.background + 3);
  if (alpha_) fill.push_back(255);
  TilePool pool(cores, 4 * size_t{cores}, [this](TilePiece& t, std::string& why) { return code(t, why); });
  TileBands bands(plan_.levels(), pixels.pixelBytes(), plan_.grid(), fill,
                  [&](TilePiece& t) { return pool.submit(std::move(t)); });
  LevelChain chain(plan_.levels(), pixels, [&](size_t level, uint32_t y, const uint8_t* row) {
    return bands.add(level, y, row);
  });
  context_.observer().phaseStarted({Phase::Tiling, static_cast<int64_t>(bands.tileCount())});
  const SpanConverter wide(in.layout(), {in.bits, in.channels == 4 ? 4 : 3, true});
  std::vector<uint8_t> line(size_t(in.width) * (in.channels == 4 ? 4 : 3) * in.bits / 8), row(size_t(in.width) * pixels.pixelBytes());
  for (uint32_t y = 0; y < in.height; ++y) {
    if (context_.cancelled()) return pool.stop(), stop(Outcome::Cancelled, RunContext::cancelledResult().message);
    const uint8_t* read = reader.readRow(y);
    if (!read) return pool.stop(), stop(Outcome::Failed, withReason("Input file read error", reader.error()));
    wide(read, 0, line.data(), 0, in.width);
    toTilePixels(line.data(), row.data());
    if (!chain.push(row.data())) break;  // a coder failed: its reason comes from the pool
    context_.observer().progressed({static_cast<int64_t>(pool.done()), in.height - y - 1, 0, 0});
  }
  std::string why;
  const bool finished = pool.finish(why);
  context_.observer().phaseEnded();
  if (!finished) return stop(Outcome::Failed, withReason("Write to file error", why));
  if (!plan_.descriptorInside().empty()) {
    const std::string text = plan_.descriptorText();
    if (!store_->putTile(plan_.descriptorInside(), {text.begin(), text.end()}, why))
      return stop(Outcome::Failed, withReason("Write to file error", why));
  }
  return true;
}

// A line of 8 or 16-bit samples (host order; RGB or RGBA) as 8-bit tile
// pixels: alpha kept where the tiles keep it, else laid on the background.
void PyramidRun::toTilePixels(const uint8_t* line, uint8_t* out) const {
  const ImageInfo& in = request_.input;
  const int from = in.channels == 4 ? 4 : 3, to = alpha_ ? 4 : 3;
  const auto sample = [&](size_t i) -> uint32_t {
    if (in.bits == 8) return line[i];
    return (uint32_t{reinterpret_cast<const uint16_t*>(line)[i]} * 255 + 32767) / 65535;
  };
  for (size_t x = 0; x < in.width; ++x) {
    const uint32_t a = from == 4 ? sample(x * 4 + 3) : 255;
    for (int c = 0; c < 3; ++c) {
      const uint32_t v = sample(x * from + c);
      out[x * to + c] = static_cast<uint8_t>(alpha_ || a == 255 ? v : (v * a + settings_.background[c] * (255 - a) + 127) / 255);
    }
    if (alpha_) out[x * 4 + 3] = static_cast<uint8_t>(a);
  }
}

// Every pixel transparent, or the background.
bool PyramidRun::blank(const TilePiece& tile) const {
  const size_t pixel = alpha_ ? 4 : 3;
  for (size_t i = 0; i < tile.pixels.size(); i += pixel) {
    if (alpha_ && tile.pixels[i + 3] == 0) continue;
    if (tile.pixels[i] != settings_.background[0] || tile.pixels[i + 1] != settings_.background[1] ||
        tile.pixels[i + 2] != settings_.background[2] || (alpha_ && tile.pixels[i + 3] != 255))
      return false;
  }
  return true;
}

bool PyramidRun::code(TilePiece& tile, std::string& why) {
  if (settings_.skipBlank && blank(tile)) return true;
  std::vector<uint8_t> bytes;
  if (!encodeTile(settings_.encoding, tile.pixels.data(), tile.width, tile.height, alpha_ ? 4 : 3, bytes, why))
    return false;
  return store_->putTile(plan_.tilePath(tile.level, tile.column, tile.row), bytes, why);
}

// The descriptor beside the folder (Deep Zoom's), the viewer page and its files.
std::vector<StoredFile> PyramidRun::besideFiles() const {
  std::vector<StoredFile> files;
  const auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  if (!plan_.descriptorBeside().empty()) files.push_back({plan_.descriptorBeside(), text(plan_.descriptorText())});
  if (!settings_.viewer || settings_.layout == PyramidLayout::Xyz) return files;
  const std::string name = stemOf(request_.input.path);
  files.push_back({name + ".html", text(viewerPage(plan_, fileNameOf(request_.input.path)))});
  for (const EmbeddedFile& f : viewerFiles()) files.push_back({f.path, {f.data, f.data + f.size}});
  return files;
}

}  // namespace

RunResult makePyramid(const PyramidRequest& request, const RunContext& context) {
  return PyramidRun(request, context).run();
}

}  // namespace torvel
