// TIFF files through our own buffered file procedures, with the library's
// messages about each file kept by that file. libtiff reads and writes every
// strip with a call of its own, and the tiles of a split or a merge are
// narrow, so unbuffered they would cost a system call per tile line. Inputs
// are not memory-mapped: a mapped input of many GB would count as resident
// memory line after line.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

struct tiff;
typedef struct tiff TIFF;

namespace torvel {

class TiffFile {
 public:
  // Null when the file cannot be opened or is no TIFF; `why` says which.
  static std::unique_ptr<TiffFile> openRead(const std::string& path, std::string& why);
  // Starts a classic TIFF or BigTIFF in the new, empty file open as `fd`
  // (taken over; `name` for messages); null on failure.
  static std::unique_ptr<TiffFile> create(int fd, const std::string& name, bool bigTiff, std::string& why);
  ~TiffFile();  // closes the handle if still open
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;

  TIFF* handle() const { return tif_; }
  // Why the last call failed: the file's system error, else the library's
  // last message about this file.
  std::string failureReason() const;
  // Writes the directory and every buffered byte, then closes; false when
  // any of that failed.
  bool close();
  // Where `n` bytes written next at the file's end would be buffered: data
  // made there and then written at the end is not copied again. Null when
  // the buffer cannot hold them.
  uint8_t* appendSpace(size_t n);
  // Writes `count` rows of `bytes` each, lying `stride` apart, at the file's
  // end with one call; the library's next writes of that many bytes there
  // are then taken as done (an uncompressed strip handed over raw). False
  // when the write failed.
  bool placeRows(const uint8_t* first, size_t stride, size_t bytes, uint32_t count);
  // Whether the library wrote exactly over the rows placed last.
  bool placedRowsTaken() const;

  struct Stream;

 private:
  TiffFile() = default;
  TIFF* tif_ = nullptr;
  std::unique_ptr<Stream> stream_;
};

// The library's process-wide handlers print on stderr: silenced once, before
// the first call into it. Each file's own handlers keep its messages.
void installTiffHandlers();

// A message of the library as our texts show it: "Module: text".
std::string tiffMessageText(const char* module, const char* format, va_list args);

}  // namespace torvel
