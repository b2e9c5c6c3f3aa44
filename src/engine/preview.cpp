#include "engine/preview.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>

#include "engine/files.h"
#include "engine/bytefile.h"
#include "engine/leftovers.h"
#include "engine/partfile.h"
#include "engine/reader.h"
#include "engine/runsteps.h"
#include "engine/spans.h"

namespace torvel {

void previewSize(uint32_t width, uint32_t height, uint32_t maxWidth, uint32_t maxHeight, uint32_t& pictureWidth,
                 uint32_t& pictureHeight) {
  const double scale = std::min({1.0, double(maxWidth) / std::max(width, 1u), double(maxHeight) / std::max(height, 1u)});
  pictureWidth = std::clamp<uint32_t>(static_cast<uint32_t>(std::lround(width * scale)), 1, std::max(width, 1u));
  pictureHeight = std::clamp<uint32_t>(static_cast<uint32_t>(std::lround(height * scale)), 1, std::max(height, 1u));
}

namespace {

// One picture row from a source row in the image's layout.
class PreviewRow {
 public:
  PreviewRow(const ImageInfo& image, uint32_t shown)
      : image_(image), shown_(shown), toRgb_(image.layout(), {image.bits, 3, true}),
        line_(size_t(image.width) * 3 * (image.bits / 8)) {}
  void make(const uint8_t* source, uint8_t* out) {
    toRgb_(source, 0, line_.data(), 0, image_.width);
    const size_t bytes = static_cast<size_t>(image_.bits / 8), high = bytes - 1;  // little-endian: last byte
    for (uint32_t x = 0; x < shown_; ++x) {
      const uint8_t* p = line_.data() + size_t(previewSource(x, image_.width, shown_)) * 3 * bytes;
      for (size_t c = 0; c < 3; ++c) out[size_t(x) * 3 + c] = p[c * bytes + high];
    }
  }

 private:
  const ImageInfo& image_;
  uint32_t shown_;
  SpanConverter toRgb_;
  std::vector<uint8_t> line_;
};

}  // namespace

RunResult makePreview(const ImageInfo& image, uint32_t maxWidth, uint32_t maxHeight, const RunContext& context,
                      PreviewPicture& picture) {
  if (!image.accepted) return {Outcome::Refused, refusalText(image), {}};
  RunResult result;
  std::unique_ptr<ImageReader> reader = openRunInput(image, context, result);
  if (!reader) return result;
  reader->readSparsely();
  previewSize(image.width, image.height, maxWidth, maxHeight, picture.width, picture.height);
  const uint64_t bytes = uint64_t{picture.width} * picture.height * 3;
  if (bytes > maxPreviewBytes)
    return {Outcome::Refused,
            "A preview of " + std::to_string(picture.width) + " × " + std::to_string(picture.height) +
                " pixels would take " + std::to_string(bytes >> 20) + " MB of memory: choose a smaller width",
            {}};
  try {
    picture.rgb.resize(bytes);
  } catch (const std::bad_alloc&) {
    return {Outcome::Failed, "Not enough memory for a preview of " + std::to_string(bytes >> 20) + " MB", {}};
  }
  PreviewRow row(image, picture.width);
  RunObserver& observer = context.observer();
  observer.phaseStarted({Phase::Preview, picture.height});
  for (uint32_t y = 0; y < picture.height && result.completed(); ++y) {
    if (context.cancelled()) {
      result = RunContext::cancelledResult();
    } else if (const uint8_t* source = reader->readRow(previewSource(y, image.height, picture.height))) {
      row.make(source, &picture.rgb[size_t(y) * picture.width * 3]);
      observer.progressed({y + 1});
    } else {
      result = context.cancelled() ? RunContext::cancelledResult()
                                   : RunResult{Outcome::Failed, withReason("Read file error", reader->error()), {}};
    }
  }
  observer.phaseEnded();
  return result;
}

namespace {

void putBig32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

// A PNG chunk: length, type, data, and the CRC of type and data.
void putChunk(std::string& out, const char* type, const std::string& data) {
  putBig32(out, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  out += body;
  putBig32(out, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

}  // namespace

bool writePng(const std::string& path, const PreviewPicture& picture, std::string& why) {
  std::string rows;  // each row led by filter type 0
  const size_t rowBytes = size_t(picture.width) * 3;
  rows.reserve((rowBytes + 1) * picture.height);
  for (uint32_t y = 0; y < picture.height; ++y)
    rows.append(1, '\0').append(reinterpret_cast<const char*>(&picture.rgb[y * rowBytes]), rowBytes);
  std::string packed(compressBound(uLong(rows.size())), '\0');
  uLongf packedSize = uLongf(packed.size());
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(rows.data()),
                uLong(rows.size()), 6) != Z_OK) {
    why = notEnoughMemoryFor("the compressed picture", packed.size());
    return false;
  }
  packed.resize(packedSize);
  std::string header;
  putBig32(header, picture.width);
  putBig32(header, picture.height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter choice, no interlace
  std::string png("\x89PNG\r\n\x1a\n", 8);
  putChunk(png, "IHDR", header);
  putChunk(png, "IDAT", packed);
  putChunk(png, "IEND", "");
  // Like every output: complete under its name, or not there.
  removeLeftovers(folderOf(path));
  PartFile part;
  if (!part.create(path, why)) return false;
  ByteFile file;
  file.adopt(part.duplicate());
  file.write(png.data(), png.size());
  file.close();
  if (int e = file.takeError()) {
    why = systemErrorText(e);
    return false;
  }
  switch (part.publish(true, why)) {
    case PartFile::Published::Yes:
      return true;
    case PartFile::Published::NameTaken:
      why = path + " appeared while it was written and was not replaced";
      break;
    case PartFile::Published::Failed:
      break;
  }
  return false;
}

}  // namespace torvel
