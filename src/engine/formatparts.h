// The formats' own probes, readers and writers, which the format table
// (formats.cpp) lists. One file or folder per format: tiff*.cpp, raw.cpp,
// kro.cpp, psd*.cpp, png*.cpp, jpeg*.cpp.
#pragma once

#include <memory>
#include <string>

#include "engine/formats.h"
#include "engine/partfile.h"
#include "engine/reader.h"
#include "engine/writer.h"

namespace torvel {

// Each probe starts from `info` holding the path, file size and kind, and
// fills in the rest, its refusals included.
void probeTiff(ImageInfo& info);
void probeRaw(ImageInfo& info, const RawGeometry& raw);
void probeKro(ImageInfo& info);
void probePsd(ImageInfo& info);
void probePng(ImageInfo& info);
void probeJpeg(ImageInfo& info);
// Records a probe's refusal.
void refuseProbe(ImageInfo& info, const std::string& text);

std::unique_ptr<ImageReader> openTiffReader(const ImageInfo& info, std::string& why);
std::unique_ptr<ImageReader> openRawReader(const ImageInfo& info, std::string& why);
std::unique_ptr<ImageReader> openKroReader(const ImageInfo& info, std::string& why);
std::unique_ptr<ImageReader> openPsdReader(const ImageInfo& info, std::string& why);
std::unique_ptr<ImageReader> openPngReader(const ImageInfo& info, std::string& why);
std::unique_ptr<ImageReader> openJpegReader(const ImageInfo& info, std::string& why);

// The writers of the format table; the TIFF one chooses between the
// original writer and the new one (`format.tuned`).
std::unique_ptr<ImageWriter> createTiffOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                              std::string& why);
std::unique_ptr<ImageWriter> createRawOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                             std::string& why);
std::unique_ptr<ImageWriter> createKroOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                             std::string& why);
std::unique_ptr<ImageWriter> createPsdOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                             std::string& why);
std::unique_ptr<ImageWriter> createPngOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                             std::string& why);
std::unique_ptr<ImageWriter> createJpegOutput(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                              std::string& why);
// The new TIFF writer: every codec, strips or tiles, alpha and gray kept.
std::unique_ptr<ImageWriter> createTunedTiffWriter(const WriterSetup& setup, std::unique_ptr<PartFile> part,
                                                   std::string& why);

}  // namespace torvel
