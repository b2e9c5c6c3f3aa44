// TIFFs as other programs write them: tiles, compressions, JPEG YCbCr,
// separate planes, gray, palettes and pages, each converted to KRO and
// checked against what readers we did not write decode from the same file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cstring>
#include <fstream>

#include "engine/files.h"
#include "engine/operations.h"
#include "engine/reader.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

struct LayoutCase {
  std::string name;
  Pixels pixels;
  TiffRecipe recipe;
};

std::vector<uint16_t> rampColormap() {
  std::vector<uint16_t> map(3 * 256);
  for (int i = 0; i < 256; ++i) {
    map[i] = uint16_t(i * 257);
    map[256 + i] = uint16_t((255 - i) * 257);
    map[512 + i] = uint16_t((i * 7 % 256) * 257);
  }
  return map;
}

// Every layout in 8 and 16 bits where the format allows both.
std::vector<LayoutCase> layoutCases() {
  std::vector<LayoutCase> cases;
  auto add = [&](const std::string& name, int bits, int channels, TiffRecipe recipe) {
    cases.push_back({name + "_" + std::to_string(bits) + "_" + std::to_string(channels),
                     makePixels(75, 41, bits, channels, uint32_t(cases.size() + 1)), recipe});
  };
  const TiffRecipe tiled{PHOTOMETRIC_RGB, COMPRESSION_NONE, 1, 32, 16};
  for (int bits : {8, 16}) {
    for (int channels : {3, 4}) {
      for (auto [name, compression, predictor] :
           {std::tuple{"tiled", COMPRESSION_NONE, 1}, {"tiled_lzw", COMPRESSION_LZW, 1},
            {"tiled_deflate_pred", COMPRESSION_ADOBE_DEFLATE, 2}, {"tiled_packbits", COMPRESSION_PACKBITS, 1},
            {"tiled_zstd", COMPRESSION_ZSTD, 1}, {"tiled_lerc", COMPRESSION_LERC, 1}}) {
        if (!TIFFIsCODECConfigured(uint16_t(compression))) continue;
        TiffRecipe s = tiled;
        s.compression = uint16_t(compression);
        s.predictor = uint16_t(predictor);
        add(name, bits, channels, s);
      }
      add("strips_lzw", bits, channels, {PHOTOMETRIC_RGB, COMPRESSION_LZW, 1, 0, 0, 7});
      add("planes_strips", bits, channels, {PHOTOMETRIC_RGB, COMPRESSION_LZW, 1, 0, 0, 8, true});
      add("planes_tiles", bits, channels, {PHOTOMETRIC_RGB, COMPRESSION_ADOBE_DEFLATE, 1, 16, 16, 0, true});
    }
    add("gray", bits, 1, {PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 1, 0, 0, 5});
    add("gray_white", bits, 1, {PHOTOMETRIC_MINISWHITE, COMPRESSION_NONE, 1, 32, 32});
    add("gray_alpha", bits, 2, {PHOTOMETRIC_MINISBLACK, COMPRESSION_ADOBE_DEFLATE, 1, 16, 32});
    add("gray_alpha_planes", bits, 2, {PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE, 1, 0, 0, 9, true});
  }
  if (TIFFIsCODECConfigured(COMPRESSION_WEBP))
    for (int channels : {3, 4}) add("tiled_webp", 8, channels, {PHOTOMETRIC_RGB, COMPRESSION_WEBP, 1, 32, 16});
  TiffRecipe palette{PHOTOMETRIC_PALETTE, COMPRESSION_PACKBITS};
  palette.colormap = rampColormap();
  add("palette", 8, 1, palette);
  TiffRecipe pages{PHOTOMETRIC_RGB, COMPRESSION_LZW, 1, 32, 32};
  pages.pages = 3;
  add("pyramid", 8, 3, pages);
  add("jpeg_strips", 8, 3, {PHOTOMETRIC_YCBCR, COMPRESSION_JPEG, 1, 0, 0, 16});
  add("jpeg_tiles", 8, 3, {PHOTOMETRIC_YCBCR, COMPRESSION_JPEG, 1, 32, 32});
  return cases;
}

// Decodes each file with tifffile, through tiffcp -c none where tifffile lacks
// the codec (JPEG with PIL, within 2), and
// compares with our KRO output, which keeps alpha; the names that differ.
const char* const checker = R"(
import sys, subprocess, numpy as np, tifffile
from PIL import Image
bad = []
for line in open(sys.argv[1]):
    name, tif, kro, w, h, bits = line.split()
    w, h, bits = int(w), int(h), int(bits)
    ours = np.fromfile(kro, offset=20, dtype=np.uint8 if bits == 8 else '>u2').reshape(h, w, 4)
    if name.startswith('jpeg'):
        ref = np.asarray(Image.open(tif).convert('RGB')).astype(int)
        if np.abs(ref - ours[:, :, :3].astype(int)).max() > 2: bad.append(name)
        continue
    try:
        f = tifffile.TiffFile(tif)
        a = f.pages[0].asarray()
    except ValueError:  # a compression tifffile decodes only with imagecodecs
        plain = tif + '.plain.tif'
        subprocess.run(['tiffcp', '-c', 'none', tif, plain], check=True)
        f = tifffile.TiffFile(plain)
        a = f.pages[0].asarray()
    with f:
        page = f.pages[0]
        if a.ndim == 2: a = a[:, :, None]
        elif int(page.planarconfig) == 2: a = np.moveaxis(a, 0, -1)
        if page.photometric == 0: a = np.iinfo(a.dtype).max - a
        if page.photometric == 3:
            cmap = page.colormap
            a = (cmap[:, a[:, :, 0]] >> (8 if cmap.max() > 255 else 0)).transpose(1, 2, 0).astype(np.uint8)
        elif a.shape[2] == 1: a = np.repeat(a, 3, axis=2)
        elif a.shape[2] == 2: a = np.concatenate([np.repeat(a[:, :, :1], 3, axis=2), a[:, :, 1:]], axis=2)
    if a.shape[2] == 3: a = np.concatenate([a, np.full_like(a[:, :, :1], np.iinfo(a.dtype).max)], axis=2)
    if a.shape != ours.shape or not np.array_equal(a, ours): bad.append(name)
print(' '.join(bad) if bad else 'ok')
)";

}  // namespace

TEST(TiffLayouts, EveryLayoutConvertsToThePixelsOtherReadersDecode) {
  if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
  Harness r;
  ::mkdir(r.dir.path("out").c_str(), 0755);
  std::ofstream manifest(r.dir.path("manifest.txt"));
  for (const LayoutCase& c : layoutCases()) {
    SCOPED_TRACE(c.name);
    const std::string tif = r.dir.path(c.name + ".tif");
    writeTiffLayout(tif, c.pixels, c.recipe);
    ASSERT_TRUE(r.select(tif));
    const RunResult result = convertImage({r.input, whole(r.input), kroOut, r.dir.path("out/")}, r.context());
    ASSERT_TRUE(result.completed()) << result.message;
    manifest << c.name << ' ' << tif << ' ' << result.written.front() << ' ' << r.input.width << ' '
             << r.input.height << ' ' << r.input.bits << '\n';
  }
  manifest.close();
  writeFile(r.dir.path("check.py"), checker);
  const std::string out =
      runCommand("/usr/bin/python3 " + quote(r.dir.path("check.py")) + " " + quote(r.dir.path("manifest.txt")) + " 2>&1");
  EXPECT_EQ(out, "ok\n");
}

// What the file holds and what it is read as, and the pages it has.
TEST(TiffLayouts, ProbeTellsTheFileLayoutAndItsPages) {
  Scratch d;
  for (const LayoutCase& c : layoutCases()) {
    if (c.name != "gray_alpha_16_2" && c.name != "palette_8_1" && c.name != "pyramid_8_3") continue;
    writeTiffLayout(d.path(c.name + ".tif"), c.pixels, c.recipe);
  }
  ImageInfo info = probeImage(d.path("gray_alpha_16_2.tif"));
  ASSERT_TRUE(info.accepted);
  EXPECT_EQ(info.channels, 4);
  EXPECT_EQ(channelsText(info), "2 gray + alpha, read as 4");
  info = probeImage(d.path("palette_8_1.tif"));
  EXPECT_EQ(channelsText(info), "1 palette, read as 3");
  info = probeImage(d.path("pyramid_8_3.tif"));
  EXPECT_EQ(channelsText(info), "3");
  EXPECT_EQ(info.pages, 3u);
  EXPECT_EQ(info.width, 75u);  // the first page, full size
}

// A crop decodes only its tiles, from any position.
TEST(TiffLayouts, CropOfATiledLzwImageAtAnOddPosition) {
  Harness r;
  const Pixels px = makePixels(1100, 700, 8, 3, 21);
  writeTiffLayout(r.dir.path("t.tif"), px, {PHOTOMETRIC_RGB, COMPRESSION_LZW, 1, 128, 64});
  ASSERT_TRUE(r.select(r.dir.path("t.tif")));
  ::mkdir(r.dir.path("o").c_str(), 0755);
  const RunResult result = cropImage({r.input, {517, 263, 300, 200}, rawOut, r.dir.path("o/")}, r.context());
  ASSERT_TRUE(result.completed()) << result.message;
  EXPECT_TRUE(readFile(result.written.front()) == rawBytes(crop(px, 517, 263, 300, 200)));
}

namespace {

// The value of a tag of the first directory of a classic little-endian TIFF.
size_t tagEntry(const std::string& bytes, uint16_t tag) {
  auto u16 = [&](size_t at) { return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8); };
  uint32_t ifd = 0;
  std::memcpy(&ifd, bytes.data() + 4, 4);
  for (size_t i = 0, n = u16(ifd); i < n; ++i)
    if (u16(ifd + 2 + 12 * i) == tag) return ifd + 2 + 12 * i;
  return std::string::npos;
}

void patch16(std::string& bytes, size_t at, uint16_t v) { std::memcpy(&bytes[at], &v, 2); }
void patch32(std::string& bytes, size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); }

}  // namespace

// Damaged tiled files are refused with a reason, or read correctly; never a
// crash, a hang or an output left behind.
TEST(TiffLayouts, MalformedTiledFilesAreRefusedOrReadCorrectly) {
  Harness r;
  const Pixels px = makePixels(64, 64, 8, 3, 5);
  writeTiffLayout(r.dir.path("good.tif"), px, {PHOTOMETRIC_RGB, COMPRESSION_NONE, 1, 32, 32});
  const std::string good = readFile(r.dir.path("good.tif"));
  std::string cut = good, noSize = good, noCounts = good, moreTiles = good;
  // The last of the four tiles placed past the end of the file.
  uint32_t offsets = 0;
  std::memcpy(&offsets, good.data() + tagEntry(good, TIFFTAG_TILEOFFSETS) + 8, 4);
  patch32(cut, offsets + 12, uint32_t(good.size() + 1000));
  patch32(noSize, tagEntry(noSize, TIFFTAG_TILEWIDTH) + 8, 0);
  patch16(noCounts, tagEntry(noCounts, TIFFTAG_TILEBYTECOUNTS), 65000);
  patch32(moreTiles, tagEntry(moreTiles, TIFFTAG_IMAGELENGTH) + 8, 128);
  ::mkdir(r.dir.path("o").c_str(), 0755);
  for (auto [name, bytes] : {std::pair{"cut.tif", cut}, {"nosize.tif", noSize}, {"nocounts.tif", noCounts},
                             {"moretiles.tif", moreTiles}}) {
    SCOPED_TRACE(name);
    writeFile(r.dir.path(name), bytes);
    r.input = probeImage(r.dir.path(name));
    if (!r.input.accepted) continue;
    const RunResult result = convertImage({r.input, whole(r.input), rawOut, r.dir.path("o/")}, r.context());
    if (result.completed()) {
      EXPECT_TRUE(readFile(result.written.front()) == rawBytes(px));
      removeFile(result.written.front());
    } else {
      EXPECT_EQ(result.message.rfind("Read file error: row ", 0), 0u) << result.message;
    }
    EXPECT_EQ(runCommand("ls " + quote(r.dir.path("o"))), "");
  }
  r.input = probeImage(r.dir.path("cut.tif"));
  EXPECT_FALSE(r.input.accepted);
  EXPECT_EQ(r.input.refusals, std::vector<std::string>{"The TIFF file is truncated: its image data runs past the end of the file"});
}

namespace {

// A BigTIFF of one strip of 100 x 10 RGB pixels whose strip offset is `offset`.
std::string bigTiffWithStripAt(uint64_t offset) {
  std::string b("II\x2B\x00\x08\x00\x00\x00", 8);
  auto put = [&b](uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<char>(v >> (8 * i)));
  };
  put(16, 8);  // the directory follows the header
  const uint64_t entries[][4] = {{256, 4, 1, 100}, {257, 4, 1, 10},     {259, 3, 1, 1},    {262, 3, 1, 2},
                                 {273, 16, 1, offset}, {277, 3, 1, 3}, {278, 4, 1, 10},   {279, 16, 1, 3000}};
  put(std::size(entries) + 1, 8);
  put(258, 2), put(3, 2), put(3, 8), put(8 | 8 << 16 | uint64_t{8} << 32, 8);  // bits per sample, inline
  for (const auto& e : entries) put(e[0], 2), put(e[1], 2), put(e[2], 8), put(e[3], 8);
  put(0, 8);
  return b + std::string(3000, '\x7f');
}

}  // namespace

// Strip offsets far beyond the file (near 2^55 and 2^63): refused with the
// reason, and never read (the sanitizer build checks the memory).
TEST(TiffLayouts, BigTiffStripOffsetsBeyondTheFileAreRefused) {
  Harness r;
  for (uint64_t offset : {(uint64_t{1} << 55) - 4096, (uint64_t{1} << 63) - 100, uint64_t{0xFFFFFFFFFFFFFF00}}) {
    writeFile(r.dir.path("far.tif"), bigTiffWithStripAt(offset));
    r.input = probeImage(r.dir.path("far.tif"));
    EXPECT_FALSE(r.input.accepted);
    EXPECT_EQ(r.input.refusals, std::vector<std::string>{"The TIFF file is truncated: its image data runs past the end of the file"});
    std::string why;
    r.input.accepted = true;  // forced past the probe: the reader must fail cleanly
    auto reader = openReader(r.input, why);
    if (reader) {
      EXPECT_EQ(reader->readRow(0), nullptr);
    }
  }
  writeFile(r.dir.path("near.tif"), bigTiffWithStripAt(16 + 8 + 9 * 20 + 8));
  r.input = probeImage(r.dir.path("near.tif"));
  EXPECT_TRUE(r.input.accepted) << refusalText(r.input);
}
