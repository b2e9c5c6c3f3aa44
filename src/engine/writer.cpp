#include "engine/writer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "engine/files.h"
#include "engine/formats.h"
#include "engine/leftovers.h"
#include "engine/reader.h"

namespace torvel {

namespace {

std::string folderOrDot(const std::string& path) {
  const std::string dir = folderOf(path);
  return dir.empty() ? "." : dir;
}

}  // namespace

ImageWriter::ImageWriter(ImageInfo info, std::string writePath)
    : info_(std::move(info)), writePath_(std::move(writePath)) {}

// The kind's own members have closed the file by now; what stays is removed.
ImageWriter::~ImageWriter() {
  if (open_) removeFile(writePath_);
}

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

bool ImageWriter::finish() {
  if (!open_) return false;
  bool ok = complete();
  // The output takes its name, replacing any old file, only once it is complete.
  if (ok && writePath_ != info_.path && std::rename(writePath_.c_str(), info_.path.c_str()) != 0) {
    const int e = errno;
    ok = fail(e == ENOENT && !folderExists(folderOrDot(info_.path))
                  ? "the output folder " + folderOrDot(info_.path) + " disappeared"
                  : systemErrorText(e));
  }
  if (!ok) removeFile(writePath_);
  open_ = false;
  return ok;
}

void ImageWriter::discard() {
  if (!open_) return;
  abandon();
  removeFile(writePath_);
  open_ = false;
}

int64_t tiffWorstCaseSize(int64_t rawSize, bool lzw) { return lzw ? rawSize + rawSize / 2 : rawSize; }

namespace {

// The output as its kind makes it: channels, sample order and extension.
ImageInfo describeOutput(const OutputRequest& r) {
  ImageInfo o;
  o.kind = r.format.kind;
  o.width = r.width;
  o.height = r.height;
  o.bits = r.bits;
  o.channels = r.format.kind == FileKind::Kro ? 4 : 3;
  o.littleEndian = r.format.kind != FileKind::Kro;
  o.accepted = true;
  return o;
}

std::unique_ptr<ImageWriter> openWriter(const OutputRequest& r, const ImageInfo& out, const std::string& path,
                                        bool bigTiff, std::string& why) {
  switch (r.format.kind) {
    case FileKind::Tiff:
      return createTiffWriter(out, path, r.format.lzw, bigTiff, why);
    case FileKind::Raw:
      return createRawWriter(out, path, why);
    case FileKind::Kro:
      return createKroWriter(out, path, why);
    case FileKind::None:
      break;
  }
  return nullptr;
}

// The guards before anything is written; a refusal leaves `made` without a writer.
bool passesGuards(const OutputRequest& r, const std::string& name, int64_t size, const RunContext& context,
                  OutputCreation& made, bool& replacing) {
  if (sameFile(name, r.inputPath)) {
    context.errorBox("Cannot overwrite input file");
    made.outcome = Outcome::Refused;
    made.message = "Cannot overwrite input file";
    return false;
  }
  const int64_t existing = fileSize(name);
  replacing = existing >= 0;
  if (replacing && !context.askYesNo("Output file exists. Do you want to overwrite it?")) {
    made.outcome = Outcome::Declined;
    return false;
  }
  made.path = name;
  std::string dir = folderOf(name);
  if (dir.empty()) dir = ".";
  // A file being replaced stays until its replacement is complete: both need room.
  if (!(diskFreeBytes(dir) > size)) {
    made.outcome = Outcome::Refused;
    made.message = "There is not enough space on the destination directory";
    context.observer().error(made.message);
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
                 (request.forceBigTiff || tiffWorstCaseSize(size, request.format.lzw) > bigTiffThreshold);
  out.path = request.basePath + outputExtension(request.format.kind, made.bigTiff);
  bool replacing = false;
  if (!passesGuards(request, out.path, size, context, made, replacing)) return made;

  std::string why;
  removeLeftovers(folderOf(out.path));
  if (replacing && folderExists(out.path))
    why = systemErrorText(EISDIR);  // a folder is never replaced
  else
    made.writer = openWriter(request, out, partNameFor(out.path), made.bigTiff, why);
  if (!made.writer) {
    if (why == systemErrorText(EACCES) || why == systemErrorText(EROFS)) why += " (folder " + folderOrDot(out.path) + ")";
    made.message = why == notEnoughMemory ? why : withReason("Write to file error", why);
    context.message(made.message);
    return made;
  }
  made.outcome = Outcome::Completed;
  return made;
}

}  // namespace torvel
