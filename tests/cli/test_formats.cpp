// Every output format through readers we did not write, and inputs written
// by other programs read by us: TIFF codecs, predictors and tilings read by
// tifffile (after tiffcp -c none where it lacks the codec), PSB and PSD by
// and from ImageMagick, PNG and JPEG by and from PIL.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "clikit.h"
#include "engine/files.h"
#include "testkit.h"

using namespace clikit;
using namespace testkit;
using namespace torvel;

namespace {

// Smooth pixels, which lossy codecs keep close: a gradient with a ripple.
Pixels smooth(uint32_t w, uint32_t h, int bits, int channels) {
  Pixels p{w, h, bits, channels, std::vector<uint16_t>(size_t(w) * h * channels)};
  const int max = bits == 8 ? 255 : 65535;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c)
        p.samples[(size_t(y) * w + x) * channels + c] =
            static_cast<uint16_t>(max * ((x * (c + 1) + y * (3 - c % 3)) % 512) / 511);
  return p;
}

// Runs a Python script with Debian's numpy, PIL and tifffile; what it prints.
std::string python(const Scratch& d, const std::string& script) {
  writeFile(d.path("check.py"), script);
  return runCommand("/usr/bin/python3 " + quote(d.path("check.py")) + " " + quote(d.dir()) + " 2>&1");
}

void mkdirs(const Scratch& d, const std::string& name) { ::mkdir(d.path(name).c_str(), 0755); }


}  // namespace

// Every codec, predictor and storage of the new TIFF writer, 8 and 16 bits,
// with and without alpha, gray, at sizes that leave partial strips and
// tiles: read back by tifffile with the input's pixels (JPEG and WebP close).
TEST(Formats, TiffCodecsPredictorsAndTilingsReadByTifffile) {
  Scratch d;
  const std::pair<const char*, Pixels> inputs[] = {
      {"rgb8", smooth(301, 203, 8, 3)}, {"rgba8", smooth(301, 203, 8, 4)}, {"rgb16", smooth(301, 203, 16, 3)},
      {"rgba16", smooth(301, 203, 16, 4)}};
  for (const auto& [name, px] : inputs) writeTiff(d.path(std::string(name) + ".tif"), px);
  writeTiffLayout(d.path("gray8.tif"), smooth(301, 203, 8, 1), {PHOTOMETRIC_MINISBLACK});
  const char* options[] = {"--compress none --tiled",      "--compress lzw",
                           "--compress lzw --predictor none --tiled 32", "--compress deflate --level 9",
                           "--compress deflate --rows-per-strip 7",      "--compress zstd --tiled",
                           "--compress zstd --level 19 --predictor none", "--compress jpeg --quality 90",
                           "--compress jpeg --tiled --subsampling 444",  "--compress webp --tiled",
                           "--compress webp --lossless --tiled 64"};
  std::string manifest;
  int n = 0;
  for (const char* input : {"rgb8", "rgba8", "rgb16", "rgba16", "gray8"}) {
    for (const char* opts : options) {
      const bool lossy = std::string(opts).find("jpeg") != std::string::npos ||
                         (std::string(opts).find("webp") != std::string::npos && !std::strstr(opts, "lossless"));
      if (std::string(input).find("16") != std::string::npos && (std::strstr(opts, "jpeg") || std::strstr(opts, "webp")))
        continue;  // 8-bit codecs: refused, tested below
      const std::string out = "o" + std::to_string(++n);
      mkdirs(d, out);
      std::vector<std::string> args = {"convert", d.path(std::string(input) + ".tif"), "--out", d.path(out), "--quiet"};
      std::istringstream words(opts);
      for (std::string w; words >> w;) args.push_back(w);
      const Result r = runTorvel(args);
      ASSERT_EQ(r.status, 0) << input << " " << opts << ": " << r.err;
      manifest += out + " " + input + " " + (lossy ? "lossy" : "exact") + (std::strstr(opts, "jpeg") ? " noalpha" : " keep") +
                  (std::strstr(opts, "webp") ? " webp" : " other") + "\n";
    }
  }
  writeFile(d.path("manifest.txt"), manifest);
  EXPECT_EQ(python(d, R"(import sys, subprocess, numpy as np, tifffile
from PIL import Image
d = sys.argv[1]
for line in open(d + 'manifest.txt'):
    out, name, kind, alpha, codec = line.split()
    a = tifffile.imread(d + name + '.tif').astype(int)
    if alpha == 'noalpha':  # JPEG: YCbCr with chroma subsampling, which tifffile does not undo; PIL does
        b = np.asarray(Image.open(d + out + '/' + name + '.tif')).astype(int)
    else:
        subprocess.run(['tiffcp', '-c', 'none', d + out + '/' + name + '.tif', d + out + '/plain.tif'], check=True)
        b = tifffile.imread(d + out + '/plain.tif').astype(int)
    if alpha == 'noalpha' and a.ndim == 3 and a.shape[2] == 4: a = a[:, :, :3]
    if codec == 'webp' and a.ndim == 2: a = np.stack([a] * 3, axis=2)  # WebP codes colour only
    if a.shape != b.shape: print(out, name, 'shape', a.shape, b.shape); continue
    if codec == 'webp' and a.shape[2] == 4: a[a[:, :, 3] == 0], b[a[:, :, 3] == 0] = 0, 0  # unseen colour not kept
    err = np.abs(a - b).max() if kind == 'exact' else np.abs(a - b).mean()
    if err > (0 if kind == 'exact' else 6): print(out, name, kind, 'differs by', err)
)"), "");
}

// Options a format has no use for, and values a codec cannot hold, are
// refused before anything is written, with the reason.
TEST(Formats, OptionsAndLimitsAreRefusedWithTheReason) {
  Scratch d;
  writeTiff(d.path("deep.tif"), smooth(40, 30, 16, 3));
  mkdirs(d, "o");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--format", "png", "--quality", "80"}, "--quality does not apply to --format png"},
      {{"--compress", "jpeg"}, "JPEG compression holds 8 bits per sample: this image has 16"},
      {{"--format", "jpg"}, "JPEG holds 8 bits per sample: this image has 16"},
      {{"--compress", "lzw", "--level", "5"}, "--level applies to --compress deflate (1-9) and zstd (1-19)"},
      {{"--tiled", "100"}, "--tiled takes a multiple of 16"}};
  for (const auto& [options, reason] : cases) {
    std::vector<std::string> args = {"convert", d.path("deep.tif"), "--out", d.path("o")};
    args.insert(args.end(), options.begin(), options.end());
    const Result r = runTorvel(args);
    EXPECT_NE(r.status, 0) << reason;
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  }
  writeRaw(d.path("wide_70000X2.raw"), smooth(70000, 2, 8, 3));
  const Result r = runTorvel({"convert", d.path("wide_70000X2.raw"), "--format", "jpg", "--out", d.path("o")});
  EXPECT_NE(r.err.find("JPEG holds at most 65500 pixels a side: this output is 70000 × 2"), std::string::npos) << r.err;
  EXPECT_EQ(runCommand("ls -A " + quote(d.path("o"))), "");
}

// PSB and PSD written by us, read by ImageMagick: without alpha the
// composite holds the input's pixels; with alpha the layer does, and the
// composite, matted against white as Photoshop's is, is unmatted by
// ImageMagick to within 1 where alpha is at least half. ImageMagick's own
// files (raw and RLE, 8 and 16 bits, with and without alpha) read by us with
// the pixels ImageMagick reads from them.
TEST(Formats, PhotoshopFilesBothWaysWithImageMagick) {
  if (runCommand("test -x /usr/bin/convert && echo yes") != "yes\n") GTEST_SKIP() << "ImageMagick is not installed";
  Scratch d;
  mkdirs(d, "o");
  const std::pair<const char*, Pixels> inputs[] = {
      {"rgb8", smooth(123, 45, 8, 3)}, {"rgba8", smooth(123, 45, 8, 4)}, {"rgba16", smooth(123, 45, 16, 4)}};
  for (const auto& [name, px] : inputs) writeTiff(d.path(std::string(name) + ".tif"), px);
  writeTiffLayout(d.path("gray16.tif"), smooth(123, 45, 16, 1), {PHOTOMETRIC_MINISBLACK});
  for (const char* name : {"rgb8", "rgba8", "rgba16", "gray16"})
    for (const char* format : {"psb", "psd"})
      ASSERT_EQ(runTorvel({"convert", d.path(std::string(name) + ".tif"), "--format", format, "--out", d.path("o")}).status, 0);
  EXPECT_EQ(python(d, R"(import sys, subprocess, numpy as np, tifffile
d = sys.argv[1]
def magick(path, depth, shape):
    kind = 'gray' if len(shape) == 2 else 'rgba' if shape[2] == 4 else 'rgb'
    data = subprocess.run(['/usr/bin/convert', path, '-depth', str(depth), '-endian', 'MSB', kind + ':-'], capture_output=True, check=True).stdout
    return np.frombuffer(data, dtype='>u2' if depth == 16 else 'u1').astype(int).reshape(shape)
for name in ['rgb8', 'rgba8', 'rgba16', 'gray16']:
    a = tifffile.imread(d + name + '.tif').astype(int)
    depth, alpha = (16 if '16' in name else 8), 'rgba' in name
    for ext in ['psb', 'psd']:
        f = d + 'o/' + name + '.' + ext
        if not np.array_equal(magick(f + ('[1]' if alpha else '[0]'), depth, a.shape), a): print(name, ext, 'differs')
        if alpha:
            half = a[:, :, 3] >= a[:, :, 3].max() // 2
            err = np.abs(magick(f + '[0]', depth, a.shape) - a)[half].max()
            if err > 1: print(name, ext, 'composite differs by', err)
)"), "");
  const std::pair<const char*, const char*> files[] = {{"rgba16.tif", "-compress RLE im16a.psb"},
                                                       {"rgba16.tif", "-compress None im16a_raw.psd"},
                                                       {"gray16.tif", "-compress RLE im16g.psd"},
                                                       {"rgb8.tif", "-compress None im8_raw.psd"},
                                                       {"rgba8.tif", "-compress RLE im8a.psb"}};
  for (const auto& [from, args] : files) {
    runCommand("cd " + quote(d.dir()) + " && /usr/bin/convert " + from + " " + args);
    const std::string name = std::string(args).substr(std::string(args).rfind(' ') + 1);
    const std::string stem = name.substr(0, name.find('.'));
    ASSERT_EQ(runTorvel({"convert", d.path(name), "--format", "kro", "--out", d.path("o"), "--yes"}).status, 0) << name;
    const Pixels ours = readKro(d.path("o/" + stem + ".kro"));
    // Their layer where there is alpha: ImageMagick's composite is not matted, yet it unmattes it.
    const std::string frame = std::string(from).find("rgba") != std::string::npos ? "[1]" : "[0]";
    const std::string theirs = runCommand("/usr/bin/convert " + quote(d.path(name)) + "'" + frame + "' -depth " +
                                          std::to_string(ours.bits) + " -endian MSB rgba:-");
    EXPECT_TRUE(kroBytes(ours).substr(20) == theirs) << name;
  }
}

// ZIP composites, with and without prediction, as psd-tools writes them
// (RGB, RGBA and gray): read with its pixels.
TEST(Formats, ZipPhotoshopFilesOfPsdTools) {
  Scratch d;
  mkdirs(d, "o");
  EXPECT_EQ(python(d, R"(import sys, numpy as np
from PIL import Image
from psd_tools import PSDImage
from psd_tools.constants import Compression
d = sys.argv[1]
a = (np.arange(37 * 23 * 4) * 37 % 256).astype(np.uint8).reshape(23, 37, 4)
opaque = np.full((23, 37, 1), 255, np.uint8)
for mode, pixels, kro in [('rgb', a[:, :, :3], np.dstack([a[:, :, :3], opaque])), ('rgba', a, a),
                          ('gray', a[:, :, 0], np.dstack([a[:, :, :1]] * 3 + [opaque]))]:
    for name, c in [('zip', Compression.ZIP), ('zipp', Compression.ZIP_WITH_PREDICTION)]:
        PSDImage.frompil(Image.fromarray(pixels), compression=c).save(d + mode + '_' + name + '.psd')
        kro.tofile(d + mode + '_' + name + '.want')  # as a KRO holds it: RGBA
)"), "");
  for (const char* mode : {"rgb", "rgba", "gray"})
    for (const char* zip : {"zip", "zipp"}) {
      const std::string stem = std::string(mode) + "_" + zip;
      ASSERT_EQ(runTorvel({"convert", d.path(stem + ".psd"), "--format", "kro", "--out", d.path("o")}).status, 0) << stem;
      EXPECT_TRUE(readFile(d.path("o/" + stem + ".kro")).substr(20) == readFile(d.path(stem + ".want"))) << stem;
    }
}

// PNG and JPEG written by us read by PIL, and PIL's read by us: the same
// pixels (JPEG close), alpha and gray kept, resolution and profile carried.
TEST(Formats, PngAndJpegBothWaysWithPil) {
  Scratch d;
  mkdirs(d, "o");
  Pixels rgba = smooth(97, 61, 16, 4);
  writeTiff(d.path("rgba16.tif"), rgba);
  writeTiffLayout(d.path("gray8.tif"), smooth(97, 61, 8, 1), {PHOTOMETRIC_MINISBLACK});
  for (const char* in : {"rgba16.tif", "gray8.tif"})
    for (const char* format : {"png", "jpg"})
      if (!(std::string(in) == "rgba16.tif" && std::string(format) == "jpg")) {
        ASSERT_EQ(runTorvel({"convert", d.path(in), "--format", format, "--out", d.path("o")}).status, 0) << in;
      }
  EXPECT_EQ(python(d, R"(import sys, numpy as np, tifffile
from PIL import Image
d = sys.argv[1]
png = Image.open(d + 'o/rgba16.png'); a = tifffile.imread(d + 'rgba16.tif')
print(png.mode, png.size)
g = Image.open(d + 'o/gray8.png'); j = Image.open(d + 'o/gray8.jpg'); s = tifffile.imread(d + 'gray8.tif').astype(int)
print(g.mode, j.mode, np.array_equal(np.asarray(g), s), np.abs(np.asarray(j).astype(int) - s).mean() < 4)
Image.fromarray((a[:, :, :3] >> 8).astype('uint8')).save(d + 'pil.jpg', quality=95, dpi=(300, 300))
Image.fromarray((a >> 8).astype('uint8')).save(d + 'pil.png', dpi=(150, 150))
)"), "RGBA (97, 61)\nL L True True\n");
  // PIL's 16-bit RGBA PNG is written by PIL as 8-bit: compare what PIL itself reads back.
  Result r = runTorvel({"info", d.path("pil.png")});
  EXPECT_NE(r.out.find("dpi: 150"), std::string::npos) << r.out;
  ASSERT_EQ(runTorvel({"convert", d.path("pil.png"), "--format", "kro", "--out", d.path("o")}).status, 0);
  ASSERT_EQ(runTorvel({"convert", d.path("pil.jpg"), "--format", "raw", "--out", d.path("o")}).status, 0);
  EXPECT_EQ(python(d, R"(import sys, numpy as np
from PIL import Image
d = sys.argv[1]
k = np.fromfile(d + 'o/pil.kro', dtype='u1', offset=20).reshape(61, 97, 4)
j = np.fromfile(d + 'o/pil_97X61.raw', dtype='u1').reshape(61, 97, 3)
print(np.array_equal(k, np.asarray(Image.open(d + 'pil.png'))), np.array_equal(j, np.asarray(Image.open(d + 'pil.jpg'))))
)"), "True True\n");
}

// To every new format and back, an image larger than the bound: each run
// holds less than 64 MB (the TIFF encoders' queue included) beyond what
// torvel takes for itself, and the lossless ones give the pixels back.
TEST(Formats, EveryFormatAndBackInBoundedMemory) {
  Scratch d;
  const uint32_t w = 12000, h = 2000;  // 72 MB of pixels
  {
    std::FILE* f = std::fopen(d.path("big_12000X2000.raw").c_str(), "wb");
    std::vector<uint8_t> line(size_t(w) * 3);
    for (uint32_t y = 0; y < h; ++y) {
      for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i / 3 / 7 + y / 5 + i % 3 * 40);
      std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fclose(f);
  }
  FreedMemoryReturned measured;
  const long itself = runTorvel({"info", d.path("big_12000X2000.raw")}).peakKb, bound = itself + 64 * 1024;
  const std::vector<std::pair<std::vector<std::string>, bool>> outputs = {
      {{"--format", "psb"}, true},  {{"--format", "psd"}, true},  {{"--format", "png"}, true},
      {{"--format", "jpg"}, false}, {{"--compress", "deflate", "--tiled"}, true}, {{"--compress", "zstd"}, true},
      {{"--compress", "jpeg", "--tiled", "512"}, false}, {{"--compress", "webp", "--tiled"}, false}};
  int n = 0;
  for (const auto& [options, lossless] : outputs) {
    const std::string out = d.path("o" + std::to_string(++n)), back = d.path("b" + std::to_string(n));
    mkdirs(d, "o" + std::to_string(n));
    mkdirs(d, "b" + std::to_string(n));
    std::vector<std::string> args = {"convert", d.path("big_12000X2000.raw"), "--out", out, "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    Result r = runTorvel(args);
    ASSERT_EQ(r.status, 0) << options[1] << ": " << r.err;
    EXPECT_LT(r.peakKb, bound) << options[1] << " written; torvel itself takes " << itself << " kB";
    const std::string written = runCommand("ls " + quote(out) + " | head -1");
    r = runTorvel({"convert", out + "/" + written.substr(0, written.size() - 1), "--format", "raw", "--out", back, "--quiet"});
    ASSERT_EQ(r.status, 0) << options[1] << ": " << r.err;
    EXPECT_LT(r.peakKb, bound) << options[1] << " read";
    if (lossless) {  // compared outside: a child's peak counts what its parent held when it forked
      EXPECT_EQ(runCommand("cmp " + quote(back + "/big_12000X2000.raw") + " " + quote(d.path("big_12000X2000.raw"))), "")
          << options[1];
    }
  }
}

// Split into PNG tiles and merge them back: the image, 16 bits and alpha
// kept; JPEG tiles merge too.
TEST(Formats, SplitIntoPngAndJpegTilesAndMergeThemBack) {
  Scratch d;
  const Pixels px = smooth(70, 45, 16, 4);
  writeKro(d.path("k.kro"), px);
  for (const char* f : {"png", "jpg", "m"}) mkdirs(d, f);
  for (const char* f : {"png", "jpg"}) {
    ASSERT_EQ(runTorvel({"split", d.path("k.kro"), "--tile", "32x20", "--format", f, "--out", d.path(f)}).status,
              std::string(f) == "jpg" ? 1 : 0);  // JPEG holds 8 bits: refused
  }
  const auto tiles = [&](const std::string& folder) {
    std::vector<std::string> names;
    std::istringstream list(runCommand("ls " + quote(d.path(folder))));
    for (std::string name; list >> name;) names.push_back(d.path(folder + "/" + name));
    return names;
  };
  std::vector<std::string> args = {"merge", "--format", "kro", "--out", d.path("m")};
  const std::vector<std::string> png = tiles("png");
  ASSERT_EQ(png.size(), 9u);
  args.insert(args.begin() + 1, png.begin(), png.end());
  ASSERT_EQ(runTorvel(args).status, 0);
  EXPECT_TRUE(readKro(d.path("m/k.kro")).samples == px.samples);
  writeKro(d.path("k8.kro"), smooth(70, 45, 8, 4));
  ASSERT_EQ(runTorvel({"split", d.path("k8.kro"), "--tile", "32x20", "--format", "jpg", "--out", d.path("jpg")}).status, 0);
  args = {"merge", "--format", "png", "--out", d.path("m")};
  const std::vector<std::string> jpg = tiles("jpg");
  args.insert(args.begin() + 1, jpg.begin(), jpg.end());
  const Result r = runTorvel(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(runTorvel({"info", d.path("m/k8.png")}).out.find("width: 70\nheight: 45\n"), std::string::npos);
}
