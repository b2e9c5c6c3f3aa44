#include <gtest/gtest.h>
#include <tiffio.h>

#include "engine/files.h"
#include "engine/reader.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

struct Probed {
  ImageInfo info;
  void probe(const std::string& path, const RawGeometry& raw = {}) { info = probeImage(path, raw); }
};

// A TIFF with arbitrary tags, written without our engine.
void writeOddTiff(const std::string& path, uint16_t bits, uint16_t spp, uint16_t photometric,
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
    static uint16_t map[65536] = {};  // enough for 16-bit indexes
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
  Scratch d;
  writeTiff(d.path("PHOTO.Tiff"), makePixels(3, 2, 8, 3));
  writeTiff(d.path("photo.TIF"), makePixels(3, 2, 8, 3));
  writeRaw(d.path("photo_3X2.rgb"), makePixels(3, 2, 8, 3));
  writeTiff(d.path("photo.png"), makePixels(3, 2, 8, 3));
  writeTiff(d.path("photo.bmp"), makePixels(3, 2, 8, 3));
  writeTiff(d.path("photo"), makePixels(3, 2, 8, 3));
  Probed p;
  for (const char* ok : {"PHOTO.Tiff", "photo.TIF"}) {
    p.probe(d.path(ok));
    EXPECT_TRUE(p.info.accepted) << ok;
    EXPECT_EQ(std::string(kindText(p.info.kind)), "TIF");
  }
  p.probe(d.path("photo_3X2.rgb"));
  EXPECT_TRUE(p.info.accepted);
  EXPECT_EQ(p.info.kind, FileKind::Raw);
  for (const char* no : {"photo.bmp", "photo"}) {
    p.probe(d.path(no));
    EXPECT_FALSE(p.info.accepted) << no;
    EXPECT_TRUE(p.info.refusals.empty()) << no;  // not ours: refused without a word
  }
  // A name that disagrees with the content: read as what it holds, and said so.
  p.probe(d.path("photo.png"));
  EXPECT_TRUE(p.info.accepted);
  EXPECT_EQ(p.info.kind, FileKind::Tiff);
  EXPECT_EQ(p.info.notes, std::vector<std::string>{d.path("photo.png") +
                                                   " holds a TIFF image, not what its name says (PNG): it is read as TIFF"});
}

TEST(Probe, TiffFieldsAndRefusals) {
  Scratch d;
  Probed p;
  writeTiff(d.path("a.tif"), makePixels(7, 5, 16, 4));
  p.probe(d.path("a.tif"));
  EXPECT_TRUE(p.info.accepted);
  EXPECT_EQ(p.info.width, 7u);
  EXPECT_EQ(p.info.height, 5u);
  EXPECT_EQ(p.info.bits, 16);
  EXPECT_EQ(p.info.channels, 4);
  EXPECT_EQ(p.info.bytesPerPixel(), 8);
  EXPECT_TRUE(p.info.littleEndian);
  EXPECT_EQ(p.info.fileSize, fileSize(d.path("a.tif")));

  // One gray channel is read as RGB; two samples of RGB are nothing we read.
  writeOddTiff(d.path("grey.tif"), 8, 1, PHOTOMETRIC_MINISBLACK);
  p.probe(d.path("grey.tif"));
  EXPECT_TRUE(p.info.accepted);
  EXPECT_EQ(p.info.channels, 3);
  EXPECT_EQ(channelsText(p.info), "1 gray, read as 3");
  writeOddTiff(d.path("two.tif"), 8, 2, PHOTOMETRIC_RGB);
  p.probe(d.path("two.tif"));
  EXPECT_FALSE(p.info.accepted);
  EXPECT_EQ(p.info.refusals, (std::vector<std::string>{"The number of color channels must be 3 or 4"}));

    writeOddTiff(d.path("wide.tif"), 32, 2, PHOTOMETRIC_RGB);
  p.probe(d.path("wide.tif"));
  EXPECT_FALSE(p.info.accepted);
  EXPECT_EQ(p.info.refusals, (std::vector<std::string>{"The image must be 8 or 16 bits",
                                                         "The number of color channels must be 3 or 4"}));

    // A file that is no TIFF, or no longer one, says why.
  const std::pair<std::string, std::string> broken[] = {
      {"this is not a tiff at all", "Not a TIFF file: it does not begin with a TIFF header"},
      {"", "Not a TIFF file: the file is empty"},
      {readFile(d.path("wide.tif")).substr(0, 12), "The TIFF file is truncated or damaged: "}};
  for (const auto& [bytes, reason] : broken) {
        writeFile(d.path("junk.tif"), bytes);
    p.probe(d.path("junk.tif"));
    EXPECT_FALSE(p.info.accepted);
    ASSERT_EQ(p.info.refusals.size(), 1u);
    EXPECT_EQ(p.info.refusals[0].substr(0, reason.size()), reason);
  }
}

// Layouts we do not read are refused with a reason of their own.
TEST(Probe, TiffLayoutsWeDoNotReadAreRefused) {
  Scratch d;
  struct Case {
    const char* name;
    uint16_t bits, spp, photometric, planar, format;
    const char* message;
  } cases[] = {
      {"cmyk.tif", 8, 4, PHOTOMETRIC_SEPARATED, PLANARCONFIG_CONTIG, SAMPLEFORMAT_UINT,
       "The image must be RGB or RGBA: CMYK images are not read"},
      {"ycbcr.tif", 8, 3, PHOTOMETRIC_YCBCR, PLANARCONFIG_CONTIG, SAMPLEFORMAT_UINT,
       "The image must be RGB or RGBA: YCbCr images are read only when JPEG-compressed"},
      {"lab.tif", 8, 3, PHOTOMETRIC_CIELAB, PLANARCONFIG_CONTIG, SAMPLEFORMAT_UINT,
       "The image must be RGB or RGBA: Lab images are not read"},
      {"palette16.tif", 16, 1, PHOTOMETRIC_PALETTE, PLANARCONFIG_CONTIG, SAMPLEFORMAT_UINT,
       "The image must be RGB or RGBA: palette images must have 8-bit indexes"},
      {"gray4.tif", 4, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, SAMPLEFORMAT_UINT,
       "The image must be 8 or 16 bits"},
      {"signed.tif", 16, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, SAMPLEFORMAT_INT,
       "The samples must be unsigned integers"},
      {"half.tif", 16, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, SAMPLEFORMAT_IEEEFP,
       "The samples must be unsigned integers"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeOddTiff(d.path(c.name), c.bits, c.spp, c.photometric, c.planar, c.format);
    Probed p;
    p.probe(d.path(c.name));
    EXPECT_FALSE(p.info.accepted);
    EXPECT_EQ(p.info.refusals, std::vector<std::string>{c.message});
  }
}

TEST(Probe, RawSizeFromNameOrDialog) {
  Scratch d;
  Probed p;
  writeFile(d.path("pano_1000X500.raw"), std::string(1500000, 'a'));
  p.probe(d.path("pano_1000X500.raw"));
  EXPECT_TRUE(p.info.accepted);
  EXPECT_EQ(p.info.bits, 8);
  EXPECT_EQ(p.info.bytesPerPixel(), 3);

  writeFile(d.path("pano_1000X500.raw"), std::string(3000000, 'a'));
  p.probe(d.path("pano_1000X500.raw"));
  EXPECT_TRUE(p.info.accepted);
  EXPECT_EQ(p.info.bits, 16);
  EXPECT_EQ(p.info.bytesPerPixel(), 6);

  // Size not matching the name: the probe asks for a geometry, with the
  // name's size as its guess; given, it is checked against the file.
  writeFile(d.path("pano_1000X500.raw"), std::string(2000000, 'a'));
  p.probe(d.path("pano_1000X500.raw"));
  EXPECT_FALSE(p.info.accepted);
  EXPECT_TRUE(p.info.needsGeometry);
  EXPECT_EQ(p.info.guess.width, 1000u);
  EXPECT_EQ(p.info.guess.height, 500u);
  EXPECT_TRUE(p.info.refusals.empty());

  writeFile(d.path("pano_1000X500.raw"), std::string(1998000, 'a'));
  p.probe(d.path("pano_1000X500.raw"), {1000, 333, 16});
  EXPECT_TRUE(p.info.accepted);
  EXPECT_EQ(p.info.width, 1000u);
  EXPECT_EQ(p.info.height, 333u);
  EXPECT_EQ(p.info.bytesPerPixel(), 6);
  EXPECT_EQ(p.info.channels, 3);
  p.probe(d.path("pano_1000X500.raw"), {1000, 334, 16});
  EXPECT_FALSE(p.info.accepted);
  EXPECT_EQ(p.info.refusals, std::vector<std::string>{"The RAW file holds 1998000 bytes, not the 2004000 of 1000 × 334 at 16 bits"});
  p.probe(d.path("pano_1000X500.raw"), {0, 333, 16});
  EXPECT_EQ(p.info.refusals, std::vector<std::string>{"Invalid width, height or bits"});

  // A name that gives the size: a given size must agree with it.
  writeFile(d.path("scan_20X10.raw"), std::string(600, 'a'));
  p.probe(d.path("scan_20X10.raw"), {20, 10, 8});
  EXPECT_TRUE(p.info.accepted);
  p.probe(d.path("scan_20X10.raw"), {10, 20, 0});
  EXPECT_EQ(p.info.refusals, std::vector<std::string>{
                                 "The size given, 10 × 20 at 8 bits, does not agree with the size in the file name, "
                                 "20 × 10 at 8 bits"});
  p.probe(d.path("scan_20X10.raw"), {0, 0, 8});  // bits alone keep the name's size
  EXPECT_TRUE(p.info.accepted);
  p.probe(d.path("scan_20X10.raw"), {0, 0, 16});
  EXPECT_EQ(p.info.refusals, std::vector<std::string>{
                                 "The size given, 20 × 10 at 16 bits, does not agree with the size in the file name, "
                                 "20 × 10 at 8 bits"});
}

TEST(Probe, KroHeaderChecksInOrder) {
  Scratch d;
  Pixels px = makePixels(3, 2, 16, 4);
  std::string good = kroBytes(px);
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  auto patch = [&](size_t at, uint8_t v) {
    std::string b = good;
    b[at] = static_cast<char>(v);
    return b;
  };
  const Case cases[] = {
      {"short.kro", good.substr(0, 19), "KRO Header error"},
      {"lower.kro", "kro" + good.substr(3), "KRO Header error"},
      {"v2.kro", patch(3, 2), "KRO Header error"},
      {"bits.kro", patch(15, 12), "The image must be 8 or 16 bits"},
      {"ch3.kro", patch(19, 3), "The number of color channels must be 4"},
      {"w0.kro", patch(7, 0), "Height or Width = 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(d.path(c.name), c.bytes);
    Probed p;
    p.probe(d.path(c.name));
    EXPECT_FALSE(p.info.accepted);
    EXPECT_EQ(p.info.refusals, std::vector<std::string>{c.message});
  }
  Probed missing;
  missing.probe(d.path("missing.kro"));
  EXPECT_EQ(missing.info.refusals, std::vector<std::string>{"KRO Header error"});
  EXPECT_EQ(missing.info.fileSize, -1);

  // A header that promises more pixels than the file holds is refused at the
  // probe, before anything is sized after it: a header alone, a huge claim.
  writeFile(d.path("empty.kro"), good.substr(0, 20));
  std::string huge = good.substr(0, 20);
  for (int at : {4, 8}) huge.replace(at, 4, std::string("\x00\x04\x93\xE0", 4));  // 300000
  writeFile(d.path("huge.kro"), huge);
  for (const char* name : {"empty.kro", "huge.kro"}) {
    Probed p;
    p.probe(d.path(name));
    EXPECT_FALSE(p.info.accepted);
    ASSERT_EQ(p.info.refusals.size(), 1u);
    EXPECT_EQ(p.info.refusals[0].rfind("The KRO file is truncated: its header promises ", 0), 0u) << p.info.refusals[0];
  }
  Probed whole;
  writeFile(d.path("whole.kro"), good);
  whole.probe(d.path("whole.kro"));
  EXPECT_TRUE(whole.info.accepted);
  EXPECT_FALSE(whole.info.littleEndian);
  EXPECT_EQ(whole.info.bytesPerPixel(), 8);
}

TEST(Probe, ReaderStartsAtTheFirstPixelLine) {
  Scratch d;
  Pixels px = makePixels(5, 3, 8, 4);
  writeKro(d.path("k.kro"), px);
  Probed p;
  p.probe(d.path("k.kro"));
  std::string why;
  auto reader = openReader(p.info, why);
  ASSERT_TRUE(reader);
  // Rows are sought, not read in order: a region comes straight from the file.
  EXPECT_FALSE(reader->sequential());
  const uint8_t* line = reader->readRow(0);
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(line), 20), kroBytes(px).substr(20, 20));
  ASSERT_TRUE(reader->readsRegionsDirectly());
  std::string region(2 * 2 * 4, '\0');
  ASSERT_TRUE(reader->readRegion(3, 1, 2, 2, reinterpret_cast<uint8_t*>(region.data()), 8));
  EXPECT_EQ(region, kroBytes(px).substr(20 + (5 + 3) * 4, 8) + kroBytes(px).substr(20 + (10 + 3) * 4, 8));
}
