#include <gtest/gtest.h>
#include <tiffio.h>

#include "engine/torvel.h"
#include "engine/utils.h"
#include "testkit.h"

using namespace testkit;

namespace {

struct Probed {
  TTorvel S;
  TScriptedPrompt Prompt;
  Probed() { S.Prompt = &Prompt; }
  void Probe(const std::string& path, bool ask = true) {
    S.InInfo = TFileInfo{};
    S.InInfo.FileName = path;
    ProbeFile(S, ask);
  }
};

// A TIFF with arbitrary tags, written without our engine.
void WriteOddTiff(const std::string& path, uint16_t bits, uint16_t spp, uint16_t photometric,
                  uint16_t planar = PLANARCONFIG_CONTIG, uint16_t format = SAMPLEFORMAT_UINT) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 4u);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2u);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, planar);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2u);
  if (photometric == PHOTOMETRIC_PALETTE) {
    static uint16_t map[256] = {};
    TIFFSetField(t, TIFFTAG_COLORMAP, map, map, map);
  }
  std::vector<uint8_t> line(4 * spp * ((bits + 7) / 8) + 16, 0);
  const int planes = planar == PLANARCONFIG_SEPARATE ? spp : 1;
  for (int s = 0; s < planes; ++s)
    for (uint32_t y = 0; y < 2; ++y) TIFFWriteScanline(t, line.data(), y, static_cast<uint16_t>(s));
  TIFFClose(t);
}

}  // namespace

TEST(Probe, ExtensionChoosesTheProbe) {
  TScratch d;
  WriteTiff(d.Path("PHOTO.Tiff"), MakePixels(3, 2, 8, 3));
  WriteTiff(d.Path("photo.TIF"), MakePixels(3, 2, 8, 3));
  WriteRaw(d.Path("photo_3X2.rgb"), MakePixels(3, 2, 8, 3));
  WriteTiff(d.Path("photo.png"), MakePixels(3, 2, 8, 3));
  WriteTiff(d.Path("photo"), MakePixels(3, 2, 8, 3));
  Probed p;
  for (const char* ok : {"PHOTO.Tiff", "photo.TIF"}) {
    p.Probe(d.Path(ok));
    EXPECT_TRUE(p.S.InInfo.ImageIsOk) << ok;
    EXPECT_EQ(p.S.InInfo.ImageTypeDesc, "TIF");
  }
  p.Probe(d.Path("photo_3X2.rgb"));
  EXPECT_TRUE(p.S.InInfo.ImageIsOk);
  EXPECT_EQ(p.S.InInfo.ImageType, FileType::RAW);
  for (const char* no : {"photo.png", "photo"}) {
    p.Probe(d.Path(no));
    EXPECT_FALSE(p.S.InInfo.ImageIsOk) << no;
  }
  EXPECT_TRUE(p.Prompt.All().empty());
}

TEST(Probe, TiffFieldsAndRefusals) {
  TScratch d;
  Probed p;
  WriteTiff(d.Path("a.tif"), MakePixels(7, 5, 16, 4));
  p.Probe(d.Path("a.tif"));
  EXPECT_TRUE(p.S.InInfo.ImageIsOk);
  EXPECT_EQ(p.S.InInfo.Width, 7u);
  EXPECT_EQ(p.S.InInfo.Height, 5u);
  EXPECT_EQ(p.S.InInfo.Bits, 16);
  EXPECT_EQ(p.S.InInfo.Channels, 4);
  EXPECT_EQ(p.S.InInfo.BytesPerPixel, 8);
  EXPECT_TRUE(p.S.InInfo.IsLsb);
  EXPECT_EQ(p.S.InInfo.FileSize, GetFileSize64(d.Path("a.tif")));

  WriteOddTiff(d.Path("grey.tif"), 8, 1, PHOTOMETRIC_MINISBLACK);
  p.Probe(d.Path("grey.tif"));
  EXPECT_FALSE(p.S.InInfo.ImageIsOk);
  EXPECT_EQ(p.Prompt.Messages, (std::vector<std::string>{"The number of color channels must be 3 or 4"}));
  EXPECT_EQ(p.S.ErrorText, "The number of color channels must be 3 or 4");

  p.Prompt.Messages.clear();
  WriteOddTiff(d.Path("wide.tif"), 32, 1, PHOTOMETRIC_MINISBLACK);
  p.Probe(d.Path("wide.tif"));
  EXPECT_FALSE(p.S.InInfo.ImageIsOk);
  EXPECT_EQ(p.Prompt.Messages, (std::vector<std::string>{"The image must be 8 or 16 bits",
                                                         "The number of color channels must be 3 or 4"}));

  p.Prompt.Messages.clear();
  WriteFile(d.Path("junk.tif"), "this is not a tiff at all");
  p.Probe(d.Path("junk.tif"));
  EXPECT_FALSE(p.S.InInfo.ImageIsOk);
  EXPECT_TRUE(p.Prompt.Messages.empty());
}

// Layouts a plain scanline read would misread are refused with a message of their own.
TEST(Probe, TiffLayoutsThatWouldBeMisreadAreRefused) {
  TScratch d;
  struct Case {
    const char* Name;
    uint16_t Bits, Spp, Photometric, Planar, Format;
    const char* Message;
  } cases[] = {
      {"planar.tif", 8, 3, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE, SAMPLEFORMAT_UINT,
       "Separate color planes are not supported"},
      {"cmyk.tif", 8, 4, PHOTOMETRIC_SEPARATED, PLANARCONFIG_CONTIG, SAMPLEFORMAT_UINT,
       "The image must be RGB or RGBA"},
      {"ycbcr.tif", 8, 3, PHOTOMETRIC_YCBCR, PLANARCONFIG_CONTIG, SAMPLEFORMAT_UINT,
       "The image must be RGB or RGBA"},
      {"signed.tif", 16, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, SAMPLEFORMAT_INT,
       "The samples must be unsigned integers"},
      {"half.tif", 16, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, SAMPLEFORMAT_IEEEFP,
       "The samples must be unsigned integers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteOddTiff(d.Path(c.Name), c.Bits, c.Spp, c.Photometric, c.Planar, c.Format);
    Probed p;
    p.Probe(d.Path(c.Name));
    EXPECT_FALSE(p.S.InInfo.ImageIsOk);
    EXPECT_EQ(p.Prompt.Messages, std::vector<std::string>{c.Message});
    EXPECT_EQ(p.S.ErrorText, c.Message);
  }
}

TEST(Probe, RawSizeFromNameOrDialog) {
  TScratch d;
  Probed p;
  WriteFile(d.Path("pano_1000X500.raw"), std::string(1500000, 'a'));
  p.Probe(d.Path("pano_1000X500.raw"));
  EXPECT_TRUE(p.S.InInfo.ImageIsOk);
  EXPECT_EQ(p.S.InInfo.Bits, 8);
  EXPECT_EQ(p.S.InInfo.BytesPerPixel, 3);

  WriteFile(d.Path("pano_1000X500.raw"), std::string(3000000, 'a'));
  p.Probe(d.Path("pano_1000X500.raw"));
  EXPECT_TRUE(p.S.InInfo.ImageIsOk);
  EXPECT_EQ(p.S.InInfo.Bits, 16);
  EXPECT_EQ(p.S.InInfo.BytesPerPixel, 6);
  EXPECT_EQ(p.Prompt.RawAsked, 0);

  // Size not matching the name: the dialog, or the refusal without it.
  WriteFile(d.Path("pano_1000X500.raw"), std::string(2000000, 'a'));
  p.Probe(d.Path("pano_1000X500.raw"), false);
  EXPECT_FALSE(p.S.InInfo.ImageIsOk);
  EXPECT_EQ(p.Prompt.RawAsked, 0);
  EXPECT_EQ(p.Prompt.Messages, std::vector<std::string>{"Invalid width, height or bits"});
  EXPECT_EQ(p.S.ErrorText, "");

  p.Prompt.Messages.clear();
  p.Probe(d.Path("pano_1000X500.raw"), true);  // cancelled: refused, silent
  EXPECT_EQ(p.Prompt.RawAsked, 1);
  EXPECT_FALSE(p.S.InInfo.ImageIsOk);
  EXPECT_TRUE(p.Prompt.Messages.empty());

  p.Prompt.RawAnswer = true;
  p.Prompt.RawWidth = 1000;
  p.Prompt.RawHeight = 333;
  p.Prompt.RawBits = 16;
  WriteFile(d.Path("pano_1000X500.raw"), std::string(1998000, 'a'));
  p.Probe(d.Path("pano_1000X500.raw"), true);
  EXPECT_TRUE(p.S.InInfo.ImageIsOk);
  EXPECT_EQ(p.S.InInfo.Width, 1000u);
  EXPECT_EQ(p.S.InInfo.Height, 333u);
  EXPECT_EQ(p.S.InInfo.BytesPerPixel, 6);
  EXPECT_EQ(p.S.InInfo.Channels, 3);
}

TEST(Probe, KroHeaderChecksInOrder) {
  TScratch d;
  TPixels px = MakePixels(3, 2, 16, 4);
  std::string good = KroBytes(px);
  struct Case {
    const char* Name;
    std::string Bytes;
    const char* Message;
    bool Recorded;
  };
  auto patch = [&](size_t at, uint8_t v) {
    std::string b = good;
    b[at] = static_cast<char>(v);
    return b;
  };
  const Case cases[] = {
      {"short.kro", good.substr(0, 19), "KRO Header error", true},
      {"lower.kro", "kro" + good.substr(3), "KRO Header error", true},
      {"v2.kro", patch(3, 2), "KRO Header error", true},
      {"bits.kro", patch(15, 12), "The image must be 8 or 16 bits", true},
      {"ch3.kro", patch(19, 3), "The number of color channels must be 4", true},
      {"w0.kro", patch(7, 0), "Height or Width = 0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFile(d.Path(c.Name), c.Bytes);
    Probed p;
    p.Probe(d.Path(c.Name));
    EXPECT_FALSE(p.S.InInfo.ImageIsOk);
    EXPECT_EQ(p.Prompt.Messages, std::vector<std::string>{c.Message});
    EXPECT_EQ(p.S.ErrorText, c.Recorded ? c.Message : "");
    EXPECT_EQ(p.S.InFile.TakeError(), 0) << "probe left an I/O error pending";
  }
  Probed missing;
  missing.Probe(d.Path("missing.kro"));
  EXPECT_EQ(missing.Prompt.Messages, std::vector<std::string>{"KRO Header error"});
  EXPECT_EQ(missing.S.InInfo.FileSize, -1);
  EXPECT_EQ(missing.S.InFile.TakeError(), 0);

  // A header alone is accepted; its first line read then finds nothing.
  WriteFile(d.Path("empty.kro"), good.substr(0, 20));
  Probed p;
  p.Probe(d.Path("empty.kro"));
  ASSERT_TRUE(p.S.InInfo.ImageIsOk);
  EXPECT_FALSE(p.S.InInfo.IsLsb);
  EXPECT_EQ(p.S.InInfo.BytesPerPixel, 8);
  ASSERT_TRUE(OpenInFile(p.S, p.S.InInfo.FileName));
  EXPECT_EQ(ReadLine(p.S, 0), 0);
  CloseInFile(p.S);
}

TEST(Probe, OpenInFileStartsAtTheFirstPixelLine) {
  TScratch d;
  TPixels px = MakePixels(5, 3, 8, 4);
  WriteKro(d.Path("k.kro"), px);
  Probed p;
  p.Probe(d.Path("k.kro"));
  ASSERT_TRUE(OpenInFile(p.S, p.S.InInfo.FileName));
  EXPECT_TRUE(p.S.InOpen);
  ASSERT_EQ(ReadLine(p.S, 0), 20);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p.S.InInfo.ScanLine), 20), KroBytes(px).substr(20, 20));
  CloseInFile(p.S);
  EXPECT_FALSE(p.S.InOpen);
  EXPECT_EQ(p.S.InInfo.ScanLine, nullptr);
  CloseInFile(p.S);  // twice is harmless
  CloseOutFile(p.S);  // never opened
  EXPECT_EQ(p.S.OutInfo.ScanLine, nullptr);
}

TEST(Probe, TiledTiffPassesTheProbeButItsLinesDoNotRead) {
  TScratch d;
  TIFF* t = TIFFOpen(d.Path("tiled.tif").c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 32u);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 32u);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
  TIFFSetField(t, TIFFTAG_TILEWIDTH, 16u);
  TIFFSetField(t, TIFFTAG_TILELENGTH, 16u);
  std::vector<uint8_t> tile(16 * 16 * 3, 9);
  for (uint32_t i = 0; i < 4; ++i) TIFFWriteEncodedTile(t, i, tile.data(), tile.size());
  TIFFClose(t);
  Probed p;
  p.Probe(d.Path("tiled.tif"));
  ASSERT_TRUE(p.S.InInfo.ImageIsOk);
  ASSERT_TRUE(OpenInFile(p.S, p.S.InInfo.FileName));
  EXPECT_EQ(ReadLine(p.S, 0), 0);
  CloseInFile(p.S);
}
