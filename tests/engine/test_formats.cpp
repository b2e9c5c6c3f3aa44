// The new writers and readers where only the engine can be asked: chunks
// coded on every core against libtiff coding alone, Photoshop's matted
// composite, and damaged or unsupported inputs refused with nothing written.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "engine/operations.h"
#include "engine/reader.h"
#include "engine/rules.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

// The samples of rows [y0, y0 + rows) and columns [x0, x0 + side) of `p` as
// libtiff takes them, zeros beyond the image.
std::vector<uint8_t> chunkOf(const Pixels& p, uint32_t x0, uint32_t y0, uint32_t columns, uint32_t rows) {
  const size_t bps = p.bits / 8, pixel = bps * p.channels;
  std::vector<uint8_t> out(size_t(columns) * rows * pixel, 0);
  for (uint32_t y = y0; y < std::min(p.height, y0 + rows); ++y)
    for (uint32_t x = x0; x < std::min(p.width, x0 + columns); ++x)
      for (int c = 0; c < p.channels; ++c) {
        const uint16_t v = p.samples[(size_t(y) * p.width + x) * p.channels + c];
        std::memcpy(&out[((y - y0) * columns + (x - x0)) * pixel + c * bps], bps == 1 ? static_cast<const void*>(&v) : &v, bps);
      }
  return out;
}

// What libtiff alone, on one thread, makes of `p` with the chunk geometry
// of `ours` and the codec settings `codec` sets.
void writeAlone(const std::string& path, const Pixels& p, TIFF* ours, const std::function<void(TIFF*)>& codec) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  uint16_t photometric = 0, extra = 0, *extraTypes = nullptr;
  TIFFGetField(ours, TIFFTAG_PHOTOMETRIC, &photometric);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(p.bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(p.channels));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
  if (TIFFGetField(ours, TIFFTAG_EXTRASAMPLES, &extra, &extraTypes)) TIFFSetField(t, TIFFTAG_EXTRASAMPLES, extra, extraTypes);
  codec(t);
  uint32_t tile = 0, rows = 0;
  if (TIFFIsTiled(ours)) {
    TIFFGetField(ours, TIFFTAG_TILEWIDTH, &tile);
    TIFFSetField(t, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, tile);
    for (uint32_t y = 0; y < p.height; y += tile)
      for (uint32_t x = 0; x < p.width; x += tile) {
        std::vector<uint8_t> c = chunkOf(p, x, y, tile, tile);
        TIFFWriteEncodedTile(t, TIFFComputeTile(t, x, y, 0, 0), c.data(), static_cast<tmsize_t>(c.size()));
      }
  } else {
    TIFFGetField(ours, TIFFTAG_ROWSPERSTRIP, &rows);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows);
    for (uint32_t y = 0; y < p.height; y += rows) {
      std::vector<uint8_t> c = chunkOf(p, 0, y, p.width, std::min(rows, p.height - y));
      TIFFWriteEncodedStrip(t, y / rows, c.data(), static_cast<tmsize_t>(c.size()));
    }
  }
  TIFFClose(t);
}

// Each raw chunk of two files, and their JPEG tables, compared; "" when alike.
std::string chunkDifference(TIFF* a, TIFF* b) {
  const bool tiled = TIFFIsTiled(a);
  const uint32_t n = tiled ? TIFFNumberOfTiles(a) : TIFFNumberOfStrips(a);
  if (n != (tiled ? TIFFNumberOfTiles(b) : TIFFNumberOfStrips(b))) return "chunk count";
  for (uint32_t i = 0; i < n; ++i) {
    std::vector<uint8_t> x(1 << 22), y(1 << 22);
    const tmsize_t nx = tiled ? TIFFReadRawTile(a, i, x.data(), 1 << 22) : TIFFReadRawStrip(a, i, x.data(), 1 << 22);
    const tmsize_t ny = tiled ? TIFFReadRawTile(b, i, y.data(), 1 << 22) : TIFFReadRawStrip(b, i, y.data(), 1 << 22);
    if (nx <= 0 || nx != ny || std::memcmp(x.data(), y.data(), static_cast<size_t>(nx)) != 0) return "chunk " + std::to_string(i);
  }
  uint32_t na = 0, nb = 0;
  void *ta = nullptr, *tb = nullptr;
  const bool hasA = TIFFGetField(a, TIFFTAG_JPEGTABLES, &na, &ta), hasB = TIFFGetField(b, TIFFTAG_JPEGTABLES, &nb, &tb);
  if (hasA != hasB || na != nb || (na && std::memcmp(ta, tb, na) != 0)) return "JPEG tables";
  return "";
}

OutputFormat tuned(Codec codec, uint32_t tile, uint32_t rows = 0) {
  OutputFormat f{FileKind::Tiff};
  f.tuned = true;
  f.codec = codec;
  f.tileSide = tile;
  f.rowsPerStrip = rows;
  return f;
}

}  // namespace

// Every codec coded on every core writes the chunks libtiff writes alone,
// in strips and in tiles, 8 and 16 bits, gray, RGB and RGBA, with partial
// chunks at the edges.
TEST(FormatsEngine, ChunksCodedOnEveryCoreAreTheBytesOfOneThread) {
  struct Case {
    const char* name;
    Pixels pixels;
    OutputFormat format;
    std::function<void(TIFF*)> codec;
  };
  OutputFormat deflate = tuned(Codec::Deflate, 0, 7), zstd = tuned(Codec::Zstd, 32), jpeg = tuned(Codec::Jpeg, 32),
               jpeg444 = tuned(Codec::Jpeg, 0), webp = tuned(Codec::WebP, 64), lzw = tuned(Codec::Lzw, 0, 5);
  deflate.level = 6;
  zstd.level = 5;
  jpeg.quality = 80;
  jpeg444.chroma444 = true;
  webp.lossless = true;
  const auto predictor = [](TIFF* t) { TIFFSetField(t, TIFFTAG_PREDICTOR, uint16_t(PREDICTOR_HORIZONTAL)); };
  const auto jpegTags = [](int quality, uint16_t sub) {
    return [=](TIFF* t) {
      TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_JPEG));
      TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, sub, sub);
      TIFFSetField(t, TIFFTAG_JPEGQUALITY, quality);
      TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    };
  };
  const Case cases[] = {
      {"deflate", makePixels(101, 75, 8, 4), deflate,
       [&](TIFF* t) { TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE)); TIFFSetField(t, TIFFTAG_ZIPQUALITY, 6); predictor(t); }},
      {"zstd", makePixels(101, 75, 16, 3), zstd,
       [&](TIFF* t) { TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ZSTD)); TIFFSetField(t, TIFFTAG_ZSTD_LEVEL, 5); predictor(t); }},
      {"jpeg", makePixels(101, 75, 8, 3), jpeg, jpegTags(80, 2)},
      {"jpeg444", makePixels(101, 75, 8, 3), jpeg444, jpegTags(85, 1)},
      {"webp", makePixels(101, 75, 8, 4), webp,
       [](TIFF* t) { TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_WEBP)); TIFFSetField(t, TIFFTAG_WEBP_LEVEL, 85); TIFFSetField(t, TIFFTAG_WEBP_LOSSLESS, 1); }},
      {"lzw", makePixels(101, 75, 8, 1), lzw, [&](TIFF* t) { TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_LZW)); predictor(t); }},
  };
  for (const Case& c : cases) {
    Harness h;
    const std::string in = h.dir.path(std::string(c.name) + "_in.tif");
    writeTiffLayout(in, c.pixels, {c.pixels.channels == 1 ? uint16_t(PHOTOMETRIC_MINISBLACK) : uint16_t(PHOTOMETRIC_RGB)});
    ASSERT_TRUE(h.select(in));
    ASSERT_EQ(runCommand("mkdir " + quote(h.dir.path("o"))), "");
    const RunResult r = convertImage({h.input, whole(h.input), c.format, h.dir.path("o/")}, h.context());
    ASSERT_EQ(r.outcome, Outcome::Completed) << c.name << ": " << r.message;
    TIFF* ours = TIFFOpen(r.written.front().c_str(), "r");
    ASSERT_TRUE(ours);
    writeAlone(h.dir.path("alone.tif"), c.pixels, ours, c.codec);
    TIFF* alone = TIFFOpen(h.dir.path("alone.tif").c_str(), "r");
    EXPECT_EQ(chunkDifference(ours, alone), "") << c.name;
    TIFFClose(alone);
    TIFFClose(ours);
  }
}

namespace {

// Why `path` is not converted: the probe's refusal, else the run's reason;
// "" when it converts. Nothing may be written either way.
std::string whyNotConverted(const std::string& path, OutputFormat format = {FileKind::Kro}) {
  Harness h;
  runCommand("mkdir " + quote(h.dir.path("o")));
  if (!h.select(path)) return refusalText(h.input);
  if (std::vector<std::string> limits = inputLimitRefusals(h.input); !limits.empty()) return limits.front();
  const RunResult r = convertImage({h.input, whole(h.input), format, h.dir.path("o/")}, h.context());
  EXPECT_EQ(runCommand("ls -A " + quote(h.dir.path("o"))), "") << path;
  return r.completed() ? "" : r.message;
}

// A Photoshop file made by hand: `resources` as they are, no layers, raw image data of zeros.
std::string handmadePsd(uint16_t version, uint16_t channels, uint32_t w, uint32_t h, uint16_t depth, uint16_t mode,
                        const std::string& resources = "") {
  auto be = [](uint64_t v, int n) {
    std::string s;
    for (int i = n - 1; i >= 0; --i) s += static_cast<char>(v >> (8 * i));
    return s;
  };
  return "8BPS" + be(version, 2) + std::string(6, '\0') + be(channels, 2) + be(h, 4) + be(w, 4) + be(depth, 2) +
         be(mode, 2) + be(0, 4) + be(resources.size(), 4) + resources + be(0, version == 2 ? 8 : 4) + be(0, 2) +
         std::string(size_t(w) * h * channels * depth / 8, '\0');
}

std::string cut(const std::string& bytes, double share) { return bytes.substr(0, size_t(bytes.size() * share)); }

// A PNG whose header declares another size, its checksum made right.
std::string pngSized(std::string png, uint32_t w, uint32_t h) {
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = static_cast<char>(w >> (24 - 8 * i));
    png[20 + i] = static_cast<char>(h >> (24 - 8 * i));
  }
  const uint32_t crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(png.data() + 12), 17));
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}

}  // namespace

// Damaged, unsupported and lying inputs of the new formats: a reason that
// names the fault, and nothing written.
TEST(FormatsEngine, DamagedAndUnsupportedInputsAreRefusedWithTheirReason) {
  Harness h;
  Scratch& d = h.dir;
  runCommand("mkdir " + quote(d.path("good")));
  writeTiff(d.path("rgba.tif"), makePixels(300, 200, 8, 4));
  writeTiff(d.path("rgb.tif"), makePixels(300, 200, 8, 3));
  ASSERT_TRUE(h.select(d.path("rgb.tif")));
  ASSERT_TRUE(convertImage({h.input, whole(h.input), {FileKind::Psd}, d.path("good/")}, h.context()).completed());
  ASSERT_TRUE(h.select(d.path("rgba.tif")));
  for (FileKind kind : {FileKind::Psd, FileKind::Png, FileKind::Jpeg})
    ASSERT_TRUE(convertImage({h.input, whole(h.input), {kind}, d.path("good/")}, h.context()).completed());
  const std::string psb = readFile(d.path("good/rgba.psb"));
  // The composite's first row count (after 26 + 4 + 4 + 8 + 2 bytes) longer than any row can be.
  const std::string overrun = readFile(d.path("good/rgb.psb")).replace(44, 4, std::string("\0\x0f\xff\xff", 4));
  const std::string noComposite = "8BIM" + std::string("\x04\x21\0\0", 4) + std::string("\0\0\0\x06\0\0\0\x01\0\0", 10);
  const std::string damaged = "The Photoshop file is damaged or truncated: ";
  const std::string mode = "only RGB, Grayscale and Indexed images are read";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"cut.psb", cut(psb, 0.6), damaged + "its composite runs past the end of the file"},  // the layer whole
      {"cut2.psb", cut(psb, 0.3), damaged + "it ends inside its sections"},
      {"overrun.psb", overrun, damaged + "its RLE rows run past the end of their data or are longer than a row can be"},
      {"cut.png", cut(readFile(d.path("good/rgba.png")), 0.6), "the file ends before the image does"},
      {"cut.jpg", cut(readFile(d.path("good/rgba.jpg")), 0.6), "Premature end of JPEG file"},
      {"cmyk.psd", handmadePsd(1, 4, 8, 8, 8, 4), "colour mode is CMYK: " + mode},
      {"lab.psb", handmadePsd(2, 3, 8, 8, 8, 9), "colour mode is Lab: " + mode},
      {"float.psd", handmadePsd(1, 3, 8, 8, 32, 3), "32-bit (floating-point) Photoshop images are not read"},
      {"huge.psb", handmadePsd(2, 3, 8, 8, 8, 3).replace(14, 8, std::string("\0\x04\x93\xe1\0\0\0\x08", 8)),
       damaged + "its image data runs past the end of the file"},
      {"liar.psb", handmadePsd(2, 3, 8, 8, 8, 3).replace(14, 8, std::string("\0\0\x75\x30\0\0\x75\x30", 8)),
       damaged + "its image data runs past the end of the file"},
      {"nocomposite.psb", handmadePsd(2, 3, 8, 8, 8, 3, noComposite), "was saved without a composite image"},
      {"huge.png", pngSized(readFile(d.path("good/rgba.png")), 0x7fffffff, 0x7fffffff), "Image dimensions exceed internal limits"},
      {"liar.png", pngSized(readFile(d.path("good/rgba.png")), 300, 20000), "Not enough image data"},
  };
  for (const auto& [name, bytes, reason] : cases) {
    writeFile(d.path(name), bytes);
    const std::string why = whyNotConverted(d.path(name));
    EXPECT_NE(why.find(reason), std::string::npos) << name << ": " << why;
  }
  runCommand("/usr/bin/python3 -c \"from PIL import Image; Image.new('CMYK', (40, 30)).save('" + d.path("cmyk.jpg") + "')\"");
  EXPECT_EQ(whyNotConverted(d.path("cmyk.jpg")), "CMYK JPEG images are not read: convert the image to RGB first");
}

// A transparent Photoshop file of ours is read back exactly from its layer;
// once the layer is no longer the image alone (its opacity lowered), from
// the composite, unmatted from white: alpha exact, colours within 1 where
// alpha is at least half, as Photoshop's other readers make them.
TEST(FormatsEngine, TransparentPhotoshopFilesFromTheLayerOrTheMattedComposite) {
  Harness h;
  const Pixels in = makePixels(53, 31, 16, 4);
  writeTiff(h.dir.path("in.tif"), in);
  runCommand("mkdir " + quote(h.dir.path("o")));
  ASSERT_TRUE(h.select(h.dir.path("in.tif")));
  ASSERT_TRUE(convertImage({h.input, whole(h.input), {FileKind::Psd}, h.dir.path("o/")}, h.context()).completed());
  const auto readBack = [&](const std::string& path) {
    EXPECT_TRUE(h.select(path)) << refusalText(h.input);
    EXPECT_TRUE(convertImage({h.input, whole(h.input), {FileKind::Kro}, h.dir.path("o/")}, h.context()).completed());
    return readKro(h.dir.path("o/" + path.substr(path.rfind('/') + 1, path.rfind('.') - path.rfind('/') - 1) + ".kro"));
  };
  EXPECT_EQ(readBack(h.dir.path("o/in.psb")).samples, in.samples);
  EXPECT_EQ(h.input.storage, "one layer");
  std::string file = readFile(h.dir.path("o/in.psb"));
  file[file.find("8BIMnorm") + 8] = static_cast<char>(254);
  writeFile(h.dir.path("o/lowered.psb"), file);
  const Pixels composite = readBack(h.dir.path("o/lowered.psb"));
  int worst = 0;
  for (size_t i = 0; i < in.samples.size(); i += 4)
    for (int c = 0; c < 4; ++c) {
      if (c == 3) ASSERT_EQ(composite.samples[i + 3], in.samples[i + 3]);
      else if (in.samples[i + 3] >= 32768) worst = std::max(worst, std::abs(composite.samples[i + c] - in.samples[i + c]));
    }
  EXPECT_LE(worst, 1);
  EXPECT_EQ(h.input.storage, "planes");  // the composite was read
}
