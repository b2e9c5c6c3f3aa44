// Creating outputs (kind, BigTIFF decision, the guards before writing),
// single-scanline reading and writing, and closing outputs.
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "engine/kro.h"
#include "engine/tiffstream.h"
#include "engine/torvel.h"
#include "engine/utils.h"

namespace {

// A free name beside `path` for building a replacement before the old file goes.
std::string ReplacementName(const std::string& path) {
  for (int i = 0;; ++i) {
    std::string candidate = path + ".part" + std::to_string(::getpid()) + "-" + std::to_string(i);
    if (GetFileSize64(candidate) < 0) return candidate;
  }
}

bool OpenOutputAt(TTorvel& S, const std::string& path, const char* tiffMode) {
  if (S.OutInfo.ImageType == FileType::TIF) {
    InstallTiffHandlers();
    S.OutTiff = CreateBufferedTiff(path, tiffMode);
    return S.OutTiff != nullptr;
  }
  return S.OutFile.Create(path);
}

void DiscardOutputAt(TTorvel& S, const std::string& path) {
  if (S.OutTiff) {
    TIFFClose(S.OutTiff);
    S.OutTiff = nullptr;
  }
  S.OutFile.Close();
  S.OutFile.TakeError();
  DeleteFileIfExists(path);
}

void SetTiffTags(TTorvel& S) {
  TIFF* t = S.OutTiff;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, S.OutInfo.Width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, S.OutInfo.Height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(S.OutInfo.Bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(3));
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(1));
  TIFFSetField(t, TIFFTAG_COMPRESSION, static_cast<uint16_t>(S.Lzw ? COMPRESSION_LZW : COMPRESSION_NONE));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(PHOTOMETRIC_RGB));
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 240.0);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, static_cast<uint16_t>(RESUNIT_INCH));
}

// Rows of a compressed strip decode only in order, and the library refuses to
// jump into one: a crop that starts inside a strip reads the rows before it.
void CatchUpToRow(TIFF* tif, uint8_t* buf, uint32_t row) {
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (compression == COMPRESSION_NONE || TIFFIsTiled(tif) || row == TIFFCurrentRow(tif)) return;
  uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  if (rowsPerStrip <= 1) return;
  const uint32_t stripStart = row - row % rowsPerStrip;
  const uint32_t current = TIFFCurrentRow(tif);
  uint32_t from = current > stripStart && current < row ? current : stripStart;
  for (; from < row; ++from) {
    if (TIFFReadScanline(tif, buf, from, 0) != 1) return;
  }
}

}  // namespace

int64_t TiffWorstCaseSize(int64_t rawSize, bool lzw) { return lzw ? rawSize + rawSize / 2 : rawSize; }

bool CreateOutFile(TTorvel& S, const std::string& BaseName) {
  std::string name = BaseName;
  TFileInfo& O = S.OutInfo;
  switch (O.ImageType) {
    case FileType::KRO4:
      name += ".kro";
      O.Channels = 4;
      O.BytesPerPixel = 4;
      O.IsLsb = false;
      break;
    case FileType::RAW:
      name += ".raw";
      O.Channels = 3;
      O.BytesPerPixel = 3;
      O.IsLsb = true;
      break;
    case FileType::TIF:
      O.Channels = 3;
      O.BytesPerPixel = 3;
      O.IsLsb = true;
      break;
    case FileType::NV:
      break;
  }
  O.Bits = S.InInfo.Bits;
  if (O.Bits == 16) O.BytesPerPixel *= 2;
  const int64_t size = int64_t{O.Width} * O.Height * O.BytesPerPixel;

  const char* tiffMode = "w";
  if (O.ImageType == FileType::TIF) {
    S.BigTiff = S.ForceBigTiff || TiffWorstCaseSize(size, S.Lzw) > BigTiffThreshold;
    tiffMode = S.BigTiff ? "w8" : "w";
    name += S.BigTiff ? ".big.tif" : ".tif";
  }

  if (SameFile(name, S.InInfo.FileName)) {
    ShowErrorBox(S, "Cannot overwrite input file");
    return false;
  }
  // Agreeing to replace an existing file must never leave the user with
  // neither file: the old one goes only once its successor is open.
  int64_t reclaimable = 0;
  bool replacing = false;
  const int64_t existing = GetFileSize64(name);
  if (existing >= 0) {
    if (!AskYesNo(S, "Output file exists. Do you want to overwrite it?")) return false;
    replacing = true;
    reclaimable = existing;
  }
  O.FileName = name;

  std::string dir = FolderOf(name);
  if (dir.empty()) dir = ".";
  if (!(DiskFreeBytes(dir) + reclaimable > size)) {
    DoShowError(S, "There is not enough space on the destination directory");
    return false;
  }

  const uint64_t lineSize = uint64_t{O.Width} * O.BytesPerPixel;
  PScanLine buf = lineSize == 0 || lineSize > 0x7FFFFFFFu ? nullptr : new (std::nothrow) uint8_t[lineSize];
  if (!buf) {
    ShowMessage(S, "Not enough memory");
    S.ErrorText = "Not enough memory";
    return false;
  }
  delete[] O.ScanLine;
  O.ScanLine = buf;
  O.ScanLineSize = static_cast<uint32_t>(lineSize);

  if (O.ImageType == FileType::NV) return false;

  const std::string target = replacing ? ReplacementName(name) : name;
  bool ok = OpenOutputAt(S, target, tiffMode);
  if (ok && replacing && std::rename(target.c_str(), name.c_str()) != 0) {
    DiscardOutputAt(S, target);
    ok = false;
  }
  if (!ok) {
    S.OutFile.TakeError();
    ShowMessage(S, "Write to file error");
    S.ErrorText = "Write to file error";
    return false;
  }
  if (O.ImageType == FileType::TIF)
    SetTiffTags(S);
  else if (O.ImageType == FileType::KRO4)
    WriteKroHeader(S);
  S.OutOpen = true;
  return true;
}

void WriteKroHeader(TTorvel& S) {
  uint8_t raw[KroHeaderSize];
  EncodeKroHeader({S.OutInfo.Width, S.OutInfo.Height, S.OutInfo.Bits, 4}, raw);
  S.OutFile.Write(raw, sizeof raw);  // a failure stays pending for the first line's check
}

int32_t ReadLine(TTorvel& S, int32_t Row) {
  switch (S.InInfo.ImageType) {
    case FileType::KRO4:
    case FileType::RAW:
      return static_cast<int32_t>(S.InFile.Read(S.InInfo.ScanLine, S.InInfo.ScanLineSize));
    case FileType::TIF:
      CatchUpToRow(S.InTiff, S.InInfo.ScanLine, static_cast<uint32_t>(Row));
      return TIFFReadScanline(S.InTiff, S.InInfo.ScanLine, static_cast<uint32_t>(Row), 0) == 1
                 ? static_cast<int32_t>(S.InInfo.ScanLineSize)
                 : 0;
    case FileType::NV:
      break;
  }
  return 0;
}

int32_t WriteLine(TTorvel& S, uint32_t Row) {
  switch (S.OutInfo.ImageType) {
    case FileType::KRO4:
    case FileType::RAW:
      return static_cast<int32_t>(S.OutFile.Write(S.OutInfo.ScanLine, S.OutInfo.ScanLineSize));
    case FileType::TIF:
      return TIFFWriteScanline(S.OutTiff, S.OutInfo.ScanLine, Row, 0) == 1
                 ? static_cast<int32_t>(S.OutInfo.ScanLineSize)
                 : 0;
    case FileType::NV:
      break;
  }
  return 0;
}

void CloseOutFile(TTorvel& S) {
  if (S.OutOpen) {
    bool failed = false;
    if (S.OutInfo.ImageType == FileType::TIF) {
      // The directory is written here; a file without it is no image.
      failed = TIFFFlush(S.OutTiff) != 1 || !FlushBufferedTiff(S.OutTiff);
      TIFFClose(S.OutTiff);
      S.OutTiff = nullptr;
    } else {
      S.OutFile.Close();
      failed = S.OutFile.TakeError() != 0;
    }
    S.OutOpen = false;
    // Reporting success for a file whose last bytes never reached the disk
    // would lose data; let the caller's clean-up remove it instead.
    if (failed && !S.Abort) {
      DoShowError(S, "Write to file error");
      S.Abort = true;
    }
  }
  if (S.OutInfo.ScanLine) {
    delete[] S.OutInfo.ScanLine;
    S.OutInfo.ScanLine = nullptr;
  }
}
