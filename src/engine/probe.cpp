// Probing inputs (TIFF tags, KRO header, RAW name and size) and opening them
// for line reading.
#include <tiffio.h>

#include <new>

#include "engine/kro.h"
#include "engine/tiffstream.h"
#include "engine/tilenames.h"
#include "engine/torvel.h"
#include "engine/utils.h"

namespace {

// Starts every probe alike: refused until proven otherwise.
void BeginProbe(TTorvel& S, FileType type, const char* desc) {
  S.InInfo.ImageIsOk = false;
  S.InInfo.FileSize = GetFileSize64(S.InInfo.FileName);
  S.InInfo.ImageType = type;
  S.InInfo.ImageTypeDesc = desc;
}

void Refuse(TTorvel& S, const std::string& msg, bool record) {
  ShowMessage(S, msg);
  if (record) S.ErrorText = msg;
}

// Layouts a plain scanline read would hand over as something else than
// interleaved unsigned RGB(A): refused with a message of their own.
const char* UnsupportedTiffLayout(TIFF* tif) {
  uint16_t planar = PLANARCONFIG_CONTIG;
  if (TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar) == 1 && planar != PLANARCONFIG_CONTIG)
    return "Separate color planes are not supported";
  uint16_t photometric = PHOTOMETRIC_RGB;
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) == 1 && photometric != PHOTOMETRIC_RGB)
    return "The image must be RGB or RGBA";
  uint16_t format = SAMPLEFORMAT_UINT;
  if (TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &format) == 1 && format != SAMPLEFORMAT_UINT)
    return "The samples must be unsigned integers";
  return nullptr;
}

}  // namespace

void ProbeFile(TTorvel& S, bool AskUser) {
  S.InInfo.ImageIsOk = false;
  const std::string ext = UpperCase(ExtractFileExt(S.InInfo.FileName));
  if (ext == ".KRO")
    ProbeKro(S);
  else if (ext == ".TIF" || ext == ".TIFF")
    ProbeTif(S);
  else if (ext == ".RAW" || ext == ".RGB")
    ProbeRaw(S, AskUser);
}

void ProbeTif(TTorvel& S) {
  BeginProbe(S, FileType::TIF, "TIF");
  InstallTiffHandlers();
  TIFF* tif = OpenBufferedTiff(S.InInfo.FileName);
  if (!tif) return;  // not a TIFF the library can open: refused silently
  uint32_t w = 0, h = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) != 1) w = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) != 1) h = 0;
  S.InInfo.Width = w;
  S.InInfo.Height = h;
  if (w == 0 || h == 0) {
    Refuse(S, "Height or Width = 0", false);
    TIFFClose(tif);
    return;
  }
  uint16_t bits = 0, channels = 0;
  if (TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits) != 1) bits = 0;
  bool ok = true;
  S.InInfo.Bits = static_cast<uint8_t>(bits);
  if (bits != 8 && bits != 16) {
    Refuse(S, "The image must be 8 or 16 bits", true);
    ok = false;
  }
  if (TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &channels) != 1) channels = 0;
  S.InInfo.Channels = static_cast<uint8_t>(channels);
  if (channels != 3 && channels != 4) {
    Refuse(S, "The number of color channels must be 3 or 4", true);
    ok = false;
  }
  S.InInfo.BytesPerPixel = static_cast<uint8_t>(S.InInfo.Channels * (bits == 16 ? 2 : 1));
  S.InInfo.IsLsb = true;
  if (ok) {
    if (const char* why = UnsupportedTiffLayout(tif)) {
      Refuse(S, why, true);
      ok = false;
    }
  }
  S.InInfo.ImageIsOk = ok;
  TIFFClose(tif);
}

void ProbeRaw(TTorvel& S, bool AskUser) {
  BeginProbe(S, FileType::RAW, "RAW");
  int32_t sw = 0, sh = 0;
  ParseTileSize(S.InInfo.FileName, sw, sh);
  uint32_t w = sw > 0 ? static_cast<uint32_t>(sw) : 0;
  uint32_t h = sh > 0 ? static_cast<uint32_t>(sh) : 0;
  const int64_t pixels = static_cast<int64_t>(w) * h;
  int bits = 0;
  if (pixels * 3 == S.InInfo.FileSize)
    bits = 8;
  else if (pixels * 6 == S.InInfo.FileSize)
    bits = 16;
  if (bits == 0 && AskUser) {
    if (!S.Prompt || !S.Prompt->AskRawGeometry(S.InInfo.FileSize, w, h, bits)) return;
    if (bits != 8 && bits != 16) bits = 0;
  }
  if (w == 0 || h == 0 || bits == 0) {
    Refuse(S, "Invalid width, height or bits", false);
    return;
  }
  S.InInfo.Width = w;
  S.InInfo.Height = h;
  S.InInfo.Bits = static_cast<uint8_t>(bits);
  S.InInfo.BytesPerPixel = bits == 8 ? 3 : 6;
  S.InInfo.Channels = 3;
  S.InInfo.IsLsb = true;
  S.InInfo.ImageIsOk = true;
}

void ProbeKro(TTorvel& S) {
  BeginProbe(S, FileType::KRO4, "KRO");
  uint8_t raw[KroHeaderSize] = {};
  size_t got = 0;
  if (S.InFile.OpenRead(S.InInfo.FileName)) got = S.InFile.Read(raw, sizeof raw);
  S.InFile.Close();
  S.InFile.TakeError();  // a file that failed leaves nothing pending behind

  TKroHeader hdr;
  if (got < KroHeaderSize || !DecodeKroHeader(raw, hdr)) {
    Refuse(S, "KRO Header error", true);
    return;
  }
  if (hdr.Bits != 8 && hdr.Bits != 16) {
    Refuse(S, "The image must be 8 or 16 bits", true);
    return;
  }
  S.InInfo.Bits = static_cast<uint8_t>(hdr.Bits);
  if (hdr.Channels != 4) {
    Refuse(S, "The number of color channels must be 4", true);
    return;
  }
  S.InInfo.Channels = 4;
  if (hdr.Height == 0 || hdr.Width == 0) {
    Refuse(S, "Height or Width = 0", false);
    return;
  }
  S.InInfo.Width = hdr.Width;
  S.InInfo.Height = hdr.Height;
  S.InInfo.BytesPerPixel = hdr.Bits == 8 ? 4 : 8;
  S.InInfo.IsLsb = false;
  S.InInfo.ImageIsOk = true;
}

bool OpenInFile(TTorvel& S, const std::string& FileName) {
  const uint64_t lineSize = uint64_t{S.InInfo.Width} * S.InInfo.BytesPerPixel;
  // A line buffer beyond 2 GiB is no image we can stream; treat it as memory we cannot have.
  PScanLine buf = lineSize == 0 || lineSize > 0x7FFFFFFFu ? nullptr : new (std::nothrow) uint8_t[lineSize];
  if (!buf) {
    ShowMessage(S, "Torvel.OpenInFile : Not enough memory");
    S.ErrorText = "Not enough memory";
    return false;
  }
  delete[] S.InInfo.ScanLine;
  S.InInfo.ScanLine = buf;
  S.InInfo.ScanLineSize = static_cast<uint32_t>(lineSize);
  bool ok = false;
  switch (S.InInfo.ImageType) {
    case FileType::KRO4:
    case FileType::RAW:
      S.InFile.OpenRead(FileName);
      ok = S.InFile.TakeError() == 0;
      if (ok && S.InInfo.ImageType == FileType::KRO4) ok = S.InFile.Seek(KroHeaderSize);
      break;
    case FileType::TIF:
      InstallTiffHandlers();
      S.InTiff = OpenBufferedTiff(S.InInfo.FileName);
      ok = S.InTiff != nullptr;
      // The library writes a whole scanline into our buffer: never let a
      // layout whose lines are longer than ours through.
      if (ok && !TIFFIsTiled(S.InTiff) && static_cast<uint64_t>(TIFFScanlineSize64(S.InTiff)) > lineSize) {
        TIFFClose(S.InTiff);
        S.InTiff = nullptr;
        ok = false;
      }
      break;
    case FileType::NV:
      break;
  }
  if (!ok) {
    S.InFile.Close();
    S.InFile.TakeError();
  }
  S.InOpen = ok;
  return ok;
}

void CloseInFile(TTorvel& S) {
  if (S.InOpen) {
    if (S.InInfo.ImageType == FileType::TIF) {
      if (S.InTiff) TIFFClose(S.InTiff);
      S.InTiff = nullptr;
    } else {
      S.InFile.Close();
      S.InFile.TakeError();
    }
    S.InOpen = false;
  }
  if (S.InInfo.ScanLine) {
    delete[] S.InInfo.ScanLine;
    S.InInfo.ScanLine = nullptr;
  }
}
