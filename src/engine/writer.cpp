#include "engine/writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/files.h"
#include "engine/formats.h"
#include "engine/leftovers.h"
#include "engine/partfile.h"
#include "engine/reader.h"

namespace torvel {

namespace {

std::string folderOrDot(const std::string& path) {
  const std::string dir = folderOf(path);
  return dir.empty() ? "." : dir;
}

}  // namespace

ImageWriter::ImageWriter(ImageInfo info, std::unique_ptr<PartFile> part)
    : info_(std::move(info)), part_(std::move(part)) {}

// The kind's own members have closed the file by now; the part file removes
// itself when it was not published.
ImageWriter::~ImageWriter() = default;

const std::string& ImageWriter::writePath() const { return part_->partPath(); }

int ImageWriter::takeDescriptor() const { return part_->duplicate(); }

bool ImageWriter::allocate() {
  line_ = allocateLine(info_.lineBytes());
  return line_ != nullptr;
}

bool ImageWriter::fail(std::string why) {
  if (error_.empty()) error_ = std::move(why);
  return false;
}

bool ImageWriter::writeRow() {
  if (!open_) return false;
  const bool ok = putRow(line());
  nextLine_ = nullptr;
  return ok;
}

bool ImageWriter::writeRows(const uint8_t* first, size_t stride, uint32_t count) {
  if (!open_) return false;
  nextLine_ = nullptr;  // a line taken and not written is not written
  return putRows(first, stride, count);
}

bool ImageWriter::putRows(const uint8_t* first, size_t stride, uint32_t count) {
  const size_t bytes = static_cast<size_t>(info_.lineBytes());
  for (uint32_t i = 0; i < count; ++i) {
    std::memcpy(line(), first + i * stride, bytes);
    if (!writeRow()) return false;
  }
  return true;
}

bool ImageWriter::finish() {
  if (!open_) return false;
  open_ = false;
  if (!complete()) {
    part_->discard();
    return false;
  }
  // The output takes its name only once it is complete.
  std::string why;
  switch (part_->publish(replace_, why)) {
    case PartFile::Published::Yes:
      return true;
    case PartFile::Published::NameTaken:
      nameTaken_ = true;
      return fail(info_.path + " appeared while it was written and was not replaced");
    case PartFile::Published::Failed:
      break;
  }
  return fail(why);
}

void ImageWriter::discard() {
  if (!open_) return;
  abandon();
  part_->discard();
  open_ = false;
}

int64_t tiffWorstCaseSize(int64_t rawSize, const OutputFormat& format) {
  const Codec codec = format.tuned ? format.codec : (format.lzw ? Codec::Lzw : Codec::None);
  int64_t size = rawSize;
  if (codec == Codec::Lzw || codec == Codec::Jpeg || codec == Codec::WebP) size += rawSize / 2;
  if (codec == Codec::Deflate || codec == Codec::Zstd) size += rawSize / 64 + (int64_t{1} << 20);
  return format.pyramid ? size + size / 3 : size;  // the levels add a third at most
}

std::string replacesInputText(const std::string& path) {
  return "Cannot overwrite input file: the output " + path +
         " would be the input itself. Choose another output folder, another format or another name";
}

KeptFromInput keptFrom(const ImageInfo& input) {
  return {input.channels, input.gray, input.dpiX, input.dpiY, input.icc};
}

namespace {

// The output as its format makes it: channels, sample order, and what it keeps.
ImageInfo describeOutput(const OutputRequest& r) {
  ImageInfo o;
  o.kind = r.format.kind;
  o.width = r.width;
  o.height = r.height;
  o.bits = r.bits;
  o.channels = outputChannels(r.format, r.kept);
  o.gray = o.channels < 3;
  // 16-bit samples: big-endian in KRO, PNG and Photoshop files, the host's order elsewhere.
  o.littleEndian = r.format.kind != FileKind::Kro && r.format.kind != FileKind::Png && r.format.kind != FileKind::Psd;
  o.dpiX = r.kept.dpiX;
  o.dpiY = r.kept.dpiY;
  o.icc = r.kept.icc;
  o.accepted = true;
  return o;
}

std::unique_ptr<ImageWriter> openWriter(const OutputRequest& r, const ImageInfo& out, bool bigTiff,
                                        std::string& why) {
  auto part = std::make_unique<PartFile>();
  if (!part->create(out.path, why)) return nullptr;
  return outputKindOf(r.format).create({out, r.format, bigTiff}, std::move(part), why);
}

// The guards before anything is written; a refusal leaves `made` without a writer.
bool passesGuards(const OutputRequest& r, const ImageInfo& out, int64_t size, const RunContext& context,
                  OutputCreation& made, bool& replacing) {
  const std::string& name = out.path;
  made.path = name;
  if (std::string refusal = formatRefusal(r.format, out); !refusal.empty()) {
    made.outcome = Outcome::Refused;
    made.message = refusal;
    return false;
  }
  if (sameFile(name, r.inputPath)) {
    made.outcome = Outcome::Refused;
    made.message = replacesInputText(name);
    return false;
  }
  const int64_t existing = fileSize(name);
  replacing = existing >= 0;
  if (replacing && !context.mayReplace(name)) {
    made.outcome = Outcome::Declined;
    made.message = name + " exists and was not replaced";
    return false;
  }
  std::string dir = folderOf(name);
  if (dir.empty()) dir = ".";
  // A file being replaced stays until its replacement is complete: both need room.
  const int64_t free = diskFreeBytes(dir);
  if (!(free > size)) {
    // A folder that takes no files at all (read-only, /sys) says so, not "no space".
    PartFile probe;
    std::string why;
    if (!probe.create(name, why)) {
      made.outcome = Outcome::Failed;
      made.message = withReason("Cannot write in " + dir, why);
      return false;
    }
    made.outcome = Outcome::Refused;
    made.message = "There is not enough space on the destination directory: " + name + " needs " +
                   byteSizeText(static_cast<uint64_t>(size)) + ", " + dir + " has " +
                   byteSizeText(static_cast<uint64_t>(std::max<int64_t>(free, 0))) + " free";
    return false;
  }
  return true;
}

}  // namespace

OutputCreation createOutput(const OutputRequest& request, const RunContext& context) {
  OutputCreation made;
  made.path = request.basePath;
  if (request.format.kind == FileKind::None) return made;
  ImageInfo out = describeOutput(request);
  const int64_t size = int64_t{out.width} * out.height * out.bytesPerPixel();
  made.bigTiff = request.format.kind == FileKind::Tiff &&
                 (request.forceBigTiff || tiffWorstCaseSize(size, request.format) > bigTiffThreshold);
  out.path = request.exactPath.empty() ? request.basePath + outputExtension(request.format, made.bigTiff)
                                       : request.exactPath;
  bool replacing = false;
  if (!passesGuards(request, out, size, context, made, replacing)) return made;

  std::string why;
  removeLeftovers(folderOf(out.path));
  if (replacing && folderExists(out.path))
    why = systemErrorText(EISDIR);  // a folder is never replaced
  else
    made.writer = openWriter(request, out, made.bigTiff, why);
  if (!made.writer) {
    if (why == systemErrorText(EACCES) || why == systemErrorText(EROFS)) why += " (folder " + folderOrDot(out.path) + ")";
    made.message = why.rfind("Not enough memory", 0) == 0 ? why : withReason("Write to file error", why);
    return made;
  }
  made.writer->setReplace(replacing);
  made.outcome = Outcome::Completed;
  return made;
}

}  // namespace torvel
