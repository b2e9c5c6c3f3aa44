#include "cli/commands.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>

#include "cli/batch.h"
#include "cli/outputoptions.h"
#include "cli/terminal.h"
#include "engine/files.h"
#include "engine/formats.h"
#include "engine/operations.h"
#include "engine/preview.h"
#include "engine/pyramidinfo.h"
#include "engine/reader.h"
#include "engine/rules.h"
#include "engine/text.h"
#include "engine/tilenames.h"
#include "engine/runtexts.h"
#include "resize/pipeline.h"

namespace torvel::cli {

// Paths as a file dialog gives them: folder rules compare folders as text.
std::string absolute(const std::string& path) { return std::filesystem::absolute(path).lexically_normal().string(); }

namespace {

void requirePositional(const Arguments& a, size_t n, const char* what) {
  if (a.positional.size() != n) throw UsageError{std::string("expected ") + what};
}

OutputFormat outputFormat(const Arguments& a) { return outputFormatOf(a); }

// What the RAW size dialog would ask, from --raw-size and --bits.
RawGeometry rawGeometry(const Arguments& a) { return {a.rawWidth, a.rawHeight, a.rawBits}; }

// Why a probe needs a geometry, and how to give it here.
std::string geometryQuestion(const ImageInfo& info) {
  return refusalText(info) + ": give it with --raw-size WxH [--bits 8|16]";
}

}  // namespace

std::vector<std::string> selectInput(const std::string& file, const Arguments& a, ImageInfo& info) {
  if (!fileExists(file)) return {"File not found: " + file};
  info = probeImage(absolute(file), rawGeometry(a));
  for (const std::string& note : info.notes) printError(note);
  if (info.needsGeometry) return {geometryQuestion(info)};
  if (!info.accepted) return info.refusals.empty() ? std::vector<std::string>{refusalText(info)} : info.refusals;
  std::vector<std::string> refusals = inputLimitRefusals(info);
  info.accepted = refusals.empty();
  return refusals;
}

std::string outFolderRefusal(const Arguments& a) {
  return a.has("--out") ? outputFolderRefusal(a.value("--out")) : std::string();
}

int refuseInput(const std::vector<std::string>& messages) {
  for (const std::string& m : messages) printError(m);
  printError(outcomeText(Outcome::Refused));
  return 1;
}

std::string outputDir(const Arguments& a, const std::string& input) {
  const std::string chosen = a.has("--out") ? absolute(a.value("--out")) : "";
  const std::string dir = outputFolder(chosen, input);
  return dir.empty() ? "./" : dir;
}

namespace {
bool quietSuccess = false;
}

void setQuiet(bool quiet) { quietSuccess = quiet; }

int finish(const RunResult& result) {
  if (!result.completed()) {
    // A cancel's message is the outcome line itself.
    if (!result.message.empty() && result.outcome != Outcome::Cancelled) printError(result.message);
    printError(outcomeText(result.outcome));
    return 1;
  }
  if (quietSuccess) return 0;  // the exit status says it
  for (const std::string& p : result.written) std::printf("%s\n", p.c_str());
  std::printf("%s\n", outcomeText(Outcome::Completed).c_str());
  return 0;
}

namespace {

int runMerge(const Arguments& a, const RunContext& context) {
  if (a.positional.empty()) throw UsageError{"expected at least one FILE"};
  MergeRequest r{{}, 0, 0, outputFormat(a), "", "", a.has("--output") ? absolute(a.value("--output")) : ""};
  for (const std::string& f : a.positional) r.tiles.push_back(absolute(f));
  if (a.has("--grid")) {
    parsePair(a.value("--grid"), "--grid", r.columns, r.rows);
  } else {
    const MergeGrid grid = mergeGridOf(r.tiles);
    if (!grid.ok) return finish({Outcome::Refused, grid.message, {}});
    r.columns = static_cast<uint32_t>(grid.columns);
    r.rows = static_cast<uint32_t>(grid.rows);
  }
  r.outDir = outputFolder(a.has("--out") ? absolute(a.value("--out")) : "", r.tiles.front());
  return finish(mergeSelectedTiles(r, context));
}

Region cropRegion(const Arguments& a) {
  const Region r{parseCount(a.positional[1], "X"), parseCount(a.positional[2], "Y"), parseCount(a.positional[3], "W"),
                 parseCount(a.positional[4], "H")};
  if (r.width == 0 || r.height == 0) throw UsageError{"W and H must be at least 1"};
  return r;
}

uint32_t resizeWidthOf(const Arguments& a) {
  if (!a.has("--width")) throw UsageError{"resize needs --width N"};
  const uint32_t w = parseCount(a.value("--width"), "--width");
  if (w < 512 || w > 999999) throw UsageError{"--width takes 512 to 999999"};
  return w;
}

void splitTileOf(const Arguments& a, uint32_t& w, uint32_t& h) {
  if (!a.has("--tile")) throw UsageError{"split needs --tile WxH"};
  parsePair(a.value("--tile"), "--tile", w, h);
  if (w == 0 || h == 0) throw UsageError{"--tile sides must be at least 1"};
}

// The run of one input file, its arguments checked before the input is probed.
RunResult runOnInput(const Arguments& a, const RunContext& context, const ImageInfo& in, const Region& crop,
                     uint32_t resizeWidth, uint32_t tileWidth, uint32_t tileHeight) {
  const OutputFormat format = outputFormat(a);
  static std::atomic<bool> noted{false};  // once, however many files a batch runs
  if (std::string note = lossNote(format, in); !note.empty() && !a.quiet && !noted.exchange(true)) printError(note);
  const std::string dir = outputDir(a, a.positional[0]);
  const std::string named = a.has("--output") ? absolute(a.value("--output")) : "";
  if (a.command == "convert") return convertImage({in, {0, 0, in.width, in.height}, format, dir, 0, 0, named}, context);
  if (a.command == "crop") return cropImage({in, crop, format, dir, 0, 0, named}, context);
  if (a.command == "resize") {
    const auto height = static_cast<uint32_t>(resizeHeight(in.width, in.height, resizeWidth));
    ResizeRequest r{in, resizeWidth, height, a.fast, format, a.has("--out") ? absolute(a.value("--out")) : ""};
    r.outputPath = named;
    return resizeImage(r, context);
  }
  return splitImage({in, fitSplitTile(tileWidth, in.width), fitSplitTile(tileHeight, in.height), format, dir}, context);
}

}  // namespace

std::string jsonText(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

namespace {

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

// The fields `info` prints: key, value, and whether the value is a number in JSON.
struct Field {
  std::string key, value;
  bool numeric;
};

std::vector<Field> infoFields(const ImageInfo& info) {
  std::vector<Field> f = {{"kind", kindText(info.kind), false},
                          {"file-size", std::to_string(info.fileSize), true},
                          {"width", std::to_string(info.width), true},
                          {"height", std::to_string(info.height), true},
                          {"bits", std::to_string(info.bits), true},
                          {"channels", std::to_string(info.channels), true}};
  if (!info.fileLayout.empty()) {
    f.push_back({"file-channels", std::to_string(info.fileChannels), true});
    f.push_back({"file-layout", info.fileLayout, false});
  }
  f.push_back({"bytes-per-pixel", std::to_string(info.bytesPerPixel()), true});
  f.push_back({"pixels", pixelCountText(int64_t{info.width} * info.height), false});
  f.push_back({"format", info.format.empty() ? kindText(info.kind) : info.format, false});
  f.push_back({"pixel-count", std::to_string(uint64_t{info.width} * info.height), true});
  f.push_back({"pages", std::to_string(std::max(info.pages, 1u)), true});
  if (info.reducedLevels) f.push_back({"pyramid-levels", std::to_string(info.reducedLevels + 1), true});
  if (!info.codec.empty()) f.push_back({"codec", info.codec, false});
  if (!info.storage.empty()) f.push_back({"storage", info.storage, false});
  if (info.dpiX > 0) f.push_back({"dpi", number(info.dpiX) + (info.dpiY != info.dpiX ? "x" + number(info.dpiY) : ""), false});
  if (!info.icc.empty()) f.push_back({"icc-profile-bytes", std::to_string(info.icc.size()), true});
  if (!info.mode.empty()) f.push_back({"mode", info.mode, false});
  if (info.kind == FileKind::Psd) f.push_back({"composite", info.composite ? "yes" : "no", false});
  if (info.orientation) f.push_back({"orientation", std::to_string(info.orientation), true});
  return f;
}

}  // namespace

// The fields of `info` as one JSON object, numbers as numbers.
void printInfoJson(const ImageInfo& info) {
  std::string json;
  for (const Field& f : infoFields(info))
    json += (json.empty() ? "{" : ", ") + jsonText(f.key) + ": " + (f.numeric ? f.value : jsonText(f.value));
  std::printf("%s}\n", json.c_str());
}

// A pyramid's descriptor: what it says, in the fields of an image's.
int pyramidInfo(const Arguments& a) {
  PyramidInfo p;
  std::string why;
  if (!readPyramidDescriptor(a.positional[0], p, why)) {
    printError(withReason("Cannot read " + a.positional[0], why));
    return 1;
  }
  const std::vector<Field> fields = {{"kind", "pyramid", false},
                                     {"layout", p.layout, false},
                                     {"width", std::to_string(p.width), true},
                                     {"height", std::to_string(p.height), true},
                                     {"levels", std::to_string(p.levels), true},
                                     {"tile-size", std::to_string(p.tile), true},
                                     {"overlap", std::to_string(p.overlap), true},
                                     {"tile-format", p.tileFormat.empty() ? "-" : p.tileFormat, false}};
  std::string json;
  for (const Field& f : fields) {
    if (!a.json) std::printf("%s: %s\n", f.key.c_str(), f.value.c_str());
    json += (json.empty() ? "{" : ", ") + jsonText(f.key) + ": " + (f.numeric ? f.value : jsonText(f.value));
  }
  if (a.json) std::printf("%s}\n", json.c_str());
  return 0;
}

int runInfo(const Arguments& a) {
  requirePositional(a, 1, "one FILE");
  if (isPyramidDescriptor(a.positional[0]) && fileExists(a.positional[0])) return pyramidInfo(a);
  ImageInfo info;
  if (auto refusals = selectInput(a.positional[0], a, info); !info.accepted) {
    for (const std::string& m : refusals) printError(m);
    return 1;
  }
  if (a.json) {
    printInfoJson(info);
    return 0;
  }
  for (const Field& f : infoFields(info)) {
    std::string value = f.key == "channels" ? channelsText(info) : f.value;
    if (f.key == "pages" && info.pages > 1) value += " (the first is read)";
    if ((f.key == "pages" && info.pages <= 1) || f.key == "file-channels" || f.key == "file-layout") continue;
    std::printf("%s: %s\n", f.key.c_str(), value.c_str());
  }
  return 0;
}

namespace {

RunResult refusedInput(const std::vector<std::string>& refusals) {
  std::string text;
  for (const std::string& r : refusals) text += (text.empty() ? "" : "\n") + r;
  return {Outcome::Refused, text, {}};
}

// A picture of `file` that fits `width` × `height`, written as the PNG `out`.
RunResult pictureOf(const Arguments& a, const std::string& file, uint32_t width, uint32_t height, const std::string& out,
                    const RunContext& context) {
  ImageInfo in;
  if (auto refusals = selectInput(file, a, in); !in.accepted) return refusedInput(refusals);
  if (fileExists(out) && !context.mayReplace(out)) return {Outcome::Declined, out + " exists and was not replaced", {}};
  PreviewPicture picture;
  RunResult result = makePreview(in, width, height, context, picture);
  std::string why;
  if (result.completed() && !writePng(out, picture, why))
    result = {Outcome::Failed, withReason("Write to file error", why), {}};
  else if (result.completed())
    result.written = {out};
  return result;
}

// Where a batch puts a file's picture: NAME.png in the --out folder.
std::string pictureIn(const Arguments& a, const std::string& file) {
  if (!a.has("--out")) throw UsageError{"several inputs need --out DIR for their pictures"};
  std::string name = fileNameOf(file);
  return absolute(a.value("--out")) + "/" + name.substr(0, name.rfind('.')) + ".png";
}

uint32_t previewWidthOf(const Arguments& a) {
  if (!a.has("--width")) throw UsageError{"preview needs --width N"};
  const uint32_t width = parseCount(a.value("--width"), "--width");
  if (width == 0) throw UsageError{"--width must be at least 1"};
  return width;
}

// The file-manager thumbnail: the longer side at most --size (default 256).
uint32_t thumbnailSizeOf(const Arguments& a) {
  if (!a.has("--size")) return 256;
  const uint32_t size = parseCount(a.value("--size"), "--size");
  if (size == 0 || size > 4096) throw UsageError{"--size takes 1 to 4096"};
  return size;
}

RunResult operationResult(const Arguments& a, const RunContext& context) {
  const Region crop = a.command == "crop" ? cropRegion(a) : Region{};
  const uint32_t width = a.command == "resize" ? resizeWidthOf(a) : 0;
  uint32_t tileWidth = 0, tileHeight = 0;
  if (a.command == "split") splitTileOf(a, tileWidth, tileHeight);
  ImageInfo in;
  if (auto refusals = selectInput(a.positional[0], a, in); !in.accepted) return refusedInput(refusals);
  return runOnInput(a, context, in, crop, width, tileWidth, tileHeight);
}

}  // namespace

int runPreview(const Arguments& a, const RunContext& context) {
  if (a.positional.empty()) throw UsageError{"expected FILE"};
  const uint32_t width = previewWidthOf(a);
  if (isBatch(a.positional) || (a.has("--out") && folderExists(a.value("--out")) && !a.has("--output"))) {
    if (std::string refusal = outFolderRefusal(a); !refusal.empty()) return finish({Outcome::Refused, refusal, {}});
    return runBatch(a, batchInputs(a, a.positional), context, [width](const Arguments& one, const RunContext& c) {
      return pictureOf(one, one.positional[0], width, UINT32_MAX, pictureIn(one, one.positional[0]), c);
    });
  }
  const char* named = a.has("--output") ? "--output" : "--out";
  if (!a.has(named)) throw UsageError{"preview needs --out PICTURE.png"};
  if (upperCase(extensionOf(a.value(named))) != ".PNG")
    throw UsageError{"preview writes a PNG: " + a.value(named) + " must end in .png"};
  return finish(pictureOf(a, a.positional[0], width, UINT32_MAX, absolute(a.value(named)), context));
}

int runThumbnail(const Arguments& a, const RunContext& context) {
  const uint32_t size = thumbnailSizeOf(a);
  if (a.has("--out")) {  // a batch: every positional is an input
    if (std::string refusal = outFolderRefusal(a); !refusal.empty()) return finish({Outcome::Refused, refusal, {}});
    return runBatch(a, batchInputs(a, a.positional), context, [size](const Arguments& one, const RunContext& c) {
      return pictureOf(one, one.positional[0], size, size, pictureIn(one, one.positional[0]), c);
    });
  }
  requirePositional(a, 2, "FILE OUT.png");
  return finish(pictureOf(a, a.positional[0], size, size, absolute(a.positional[1]), context));
}

int runOperation(const Arguments& a, const RunContext& context) {
  if (std::string refusal = outFolderRefusal(a); !refusal.empty()) return finish({Outcome::Refused, refusal, {}});
  outputFormat(a);  // a malformed format is a usage error before anything else
  if (a.has("--output") && a.command == "split") throw UsageError{"-o names one output: split writes many (use --out DIR)"};
  if (a.command == "merge") return runMerge(a, context);
  const bool batchable = a.command == "convert" || a.command == "resize";
  if (batchable && isBatch(a.positional)) {
    if (a.has("--output")) throw UsageError{"-o names one output: several inputs write several (use --out DIR)"};
    if (a.command == "resize") resizeWidthOf(a);  // a usage error before any file
    return runBatch(a, batchInputs(a, a.positional), context, operationResult);
  }
  requirePositional(a, a.command == "crop" ? 5 : 1, a.command == "crop" ? "FILE X Y W H" : "one FILE");
  return finish(operationResult(a, context));
}

}  // namespace torvel::cli
