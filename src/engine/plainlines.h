// Pixel lines stored one after the other from an offset, with nothing
// between them: RAW files, and KRO files after their header.
#pragma once

#include <memory>
#include <string>

#include "engine/bytefile.h"
#include "engine/reader.h"
#include "engine/writer.h"

namespace torvel {

class PlainLineReader : public ImageReader {
 public:
  PlainLineReader(const ImageInfo& info, int64_t dataOffset) : ImageReader(info), offset_(dataOffset) {}
  bool open(std::string& why);
  // Lines come in file order: a headerless file is read, not sought.
  bool sequential() const override { return true; }
  const uint8_t* readRow(uint32_t row) override;

 private:
  ByteFile file_;
  std::unique_ptr<uint8_t[]> line_;
  int64_t offset_;
};

class PlainLineWriter : public ImageWriter {
 public:
  PlainLineWriter(const ImageInfo& info, const std::string& path) : ImageWriter(info, path) {}
  // Creates the file and writes `header` first; a failed header write shows
  // at the first row.
  bool open(const uint8_t* header, size_t headerBytes, std::string& why);

 protected:
  bool putRow(const uint8_t* line) override;
  bool complete() override;
  void abandon() override { file_.close(); }

 private:
  ByteFile file_;
};

}  // namespace torvel
