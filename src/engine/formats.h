// The file kinds' own probes, readers and writers, which the factories in
// reader.cpp and writer.cpp choose between. One file per kind: tiff.cpp,
// raw.cpp, kro.cpp.
#pragma once

#include <memory>
#include <string>

#include "engine/reader.h"
#include "engine/partfile.h"
#include "engine/writer.h"

namespace torvel {

// Each probe starts from `info` holding the path, file size and kind, and
// fills in the rest, its refusals included.
void probeTiff(ImageInfo& info);
// Records a probe's refusal.
void refuseProbe(ImageInfo& info, const std::string& text);
void probeRaw(ImageInfo& info, const RawGeometry& raw);
void probeKro(ImageInfo& info);

std::unique_ptr<ImageReader> openTiffReader(const ImageInfo& info, std::string& why);
std::unique_ptr<ImageReader> openRawReader(const ImageInfo& info, std::string& why);
std::unique_ptr<ImageReader> openKroReader(const ImageInfo& info, std::string& why);

// `info` is the output as decided; the bytes go to `part`.
std::unique_ptr<ImageWriter> createTiffWriter(const ImageInfo& info, std::unique_ptr<PartFile> part, bool lzw,
                                              bool bigTiff, std::string& why);
std::unique_ptr<ImageWriter> createRawWriter(const ImageInfo& info, std::unique_ptr<PartFile> part,
                                             std::string& why);
std::unique_ptr<ImageWriter> createKroWriter(const ImageInfo& info, std::unique_ptr<PartFile> part,
                                             std::string& why);

}  // namespace torvel
