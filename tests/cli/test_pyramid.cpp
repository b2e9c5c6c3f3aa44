// Zoomable pyramids and pyramidal TIFFs through readers we did not write:
// every tile decoded by PIL and put back together by a reference of each
// layout's geometry written here, each level checked against the 2 × 2 mean
// of the level above; descriptors parsed; ZIPs read by Python's zipfile;
// TIFF levels by tifffile, libvips and GDAL; the viewer page in Chromium.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdio>

#include "clikit.h"
#include "testkit.h"

using namespace clikit;
using namespace testkit;

namespace {

std::string python(const Scratch& d, const std::string& script) {
  writeFile(d.path("check.py"), script);
  return runCommand("/usr/bin/python3 " + quote(d.path("check.py")) + " " + quote(d.dir()) + " 2>&1");
}

void mkdirs(const Scratch& d, const std::string& name) { ::mkdir(d.path(name).c_str(), 0755); }

// The reference: each layout's levels and tile names, put back together from
// the tiles PIL decodes, and the 2 x 2 mean the levels must be.
const char* const reference = R"(import sys, os, json, math, numpy as np
from PIL import Image
import xml.etree.ElementTree as ET
def up(v, k): return -(-v // 2 ** k)
def sizes(layout, w, h, t):
    if layout == 'dz':
        top = math.ceil(math.log2(max(w, h))) if max(w, h) > 1 else 0
        return [(up(w, k), up(h, k)) for k in range(top + 1)]
    out = [(w, h)]
    while out[-1][0] > t or out[-1][1] > t:
        a, b = out[-1]
        out.append((a // 2, b // 2) if layout == 'zoomify' else (up(a, 1), up(b, 1)))
    return out
def mean2(a, alpha):
    h, w = (a.shape[0] + 1) // 2, (a.shape[1] + 1) // 2
    out = np.zeros((h, w, a.shape[2]), np.int64)
    for y in range(h):
        for x in range(w):
            p = a[2 * y:2 * y + 2, 2 * x:2 * x + 2].reshape(-1, a.shape[2]).astype(np.int64)
            n = len(p)
            if alpha:
                A = p[:, 3].sum(); out[y, x, 3] = (A + n // 2) // n
                out[y, x, :3] = (p[:, :3] * p[:, 3:4]).sum(0) + A // 2 if A else p[:, :3].sum(0) + n // 2
                out[y, x, :3] //= A if A else n
            else:
                out[y, x] = (p.sum(0) + n // 2) // n
    return out
def tile_name(layout, root, k, levels, c, r, t, w, h, ext, first):
    z = len(levels) - 1 - k
    if layout == 'dz': return f'{root}/{z}/{c}_{r}.{ext}'
    if layout == 'xyz': return f'{root}/{z}/{c}/{r}.{ext}'
    if layout == 'zoomify':
        n = first[k] + r * -(-levels[k][0] // t) + c
        return f'{root}/TileGroup{n // 256}/{z}-{c}-{r}.{ext}'
    lw, lh = levels[k]
    if lw <= t and lh <= t: return f'{root}/full/' + ('max' if k == 0 else f'{lw},{lh}') + f'/0/default.{ext}'
    s = t * 2 ** k; x, y = c * s, r * s
    return f'{root}/{x},{y},{min(s, w - x)},{min(s, h - y)}/{min(t, lw - c * t)},{min(t, lh - r * t)}/0/default.{ext}'
def check(root, layout, w, h, t, ov, ext, full, alpha, exact, background=(255, 255, 255)):
    levels = sizes(layout, w, h, t)
    first, n = [0] * len(levels), 0
    for k in reversed(range(len(levels))):
        first[k] = n; n += -(-levels[k][0] // t) * -(-levels[k][1] // t)
    made = []
    for k, (lw, lh) in enumerate(levels):
        img = np.zeros((lh, lw, full.shape[2]), np.int64)
        for r in range(-(-lh // t)):
            for c in range(-(-lw // t)):
                x0, y0 = max(0, c * t - ov), max(0, r * t - ov)
                x1, y1 = min(lw, (c + 1) * t + ov), min(lh, (r + 1) * t + ov)
                tile = np.asarray(Image.open(tile_name(layout, root, k, levels, c, r, t, w, h, ext, first))).astype(np.int64)
                want = (t, t) if layout == 'xyz' else (y1 - y0, x1 - x0)
                if tile.shape[:2] != want: print(layout, 'tile', k, c, r, tile.shape, want); return
                if layout == 'xyz':
                    pad = tile.copy(); pad[:y1 - y0, :x1 - x0] = np.array(background)[:tile.shape[2]]
                    if (pad != np.array(background)[:tile.shape[2]]).any(): print(layout, 'padding', k, c, r)
                    tile = tile[:y1 - y0, :x1 - x0]
                img[y0:y1, x0:x1] = tile
        made.append(img)
    err = (lambda a, b: np.abs(a - b).max()) if exact else (lambda a, b: np.abs(a - b).mean())
    limit = 0 if exact else 4
    if err(made[0], full) > limit: print(layout, 'full level differs by', err(made[0], full))
    for k in range(1, len(levels)):
        want = mean2(made[k - 1], alpha)
        if layout == 'zoomify': want = mean2(made[k - 1][:2 * levels[k][1], :2 * levels[k][0]], alpha)
        if err(made[k], want) > limit: print(layout, 'level', k, 'is not the mean of the one above:', err(made[k], want))
)";

}  // namespace

// Every layout with PNG tiles of an RGBA image of odd size: tiles of the
// right sizes and names, the full level the input, each level below the
// exact alpha-aware 2 x 2 mean of the one above; descriptors with the right
// numbers; JPEG tiles of a 16-bit input within JPEG's error.
TEST(Pyramid, EveryLayoutTileByTileAgainstAReference) {
  Scratch d;
  writeTiff(d.path("a.tif"), makePixels(301, 167, 8, 4, 7));
  Pixels deep{150, 90, 16, 3, std::vector<uint16_t>(150 * 90 * 3)};  // smooth: JPEG keeps it close
  for (size_t i = 0; i < deep.samples.size(); ++i) deep.samples[i] = static_cast<uint16_t>((i / 3 % 150 + i / 450) * 200 + i % 3 * 9000);
  writeTiff(d.path("deep.tif"), deep);
  const std::pair<std::string, std::vector<std::string>> runs[] = {
      {"dz1", {"--tile-format", "png", "--tile", "64"}},
      {"dz0", {"--tile-format", "png", "--tile", "64", "--overlap", "0"}},
      {"iiif", {"--tile-format", "png", "--tile", "64", "--layout", "iiif", "--base-url", "https://x.org/a"}},
      {"zoomify", {"--tile-format", "png", "--tile", "64", "--layout", "zoomify"}},
      {"xyz", {"--tile-format", "png", "--tile", "64", "--layout", "xyz", "--background", "10,20,30"}},
      {"jpg", {"--tile", "32"}}};
  for (const auto& [name, options] : runs) {
    mkdirs(d, name);
    std::vector<std::string> args = {"pyramid", d.path(name == "jpg" ? "deep.tif" : "a.tif"), "--out", d.path(name),
                                     "--no-viewer", "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    const Result r = runTorvel(args);
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
  }
  EXPECT_EQ(python(d, std::string(reference) + R"(
import tifffile
d = sys.argv[1]
a = tifffile.imread(d + 'a.tif').astype(np.int64)
deep = (tifffile.imread(d + 'deep.tif').astype(np.int64) * 255 + 32767) // 65535
check(d + 'dz1/a_files', 'dz', 301, 167, 64, 1, 'png', a, True, True)
check(d + 'dz0/a_files', 'dz', 301, 167, 64, 0, 'png', a, True, True)
check(d + 'iiif/a', 'iiif', 301, 167, 64, 0, 'png', a, True, True)
check(d + 'zoomify/a', 'zoomify', 301, 167, 64, 0, 'png', a, True, True)
check(d + 'xyz/a', 'xyz', 301, 167, 64, 0, 'png', a, True, True, (10, 20, 30, 255))
check(d + 'jpg/deep_files', 'dz', 150, 90, 32, 1, 'jpg', deep, False, False)
dzi = ET.parse(d + 'dz1/a.dzi').getroot()
print(dzi.get('TileSize'), dzi.get('Overlap'), dzi.get('Format'), dzi[0].get('Width'), dzi[0].get('Height'))
info = json.load(open(d + 'iiif/a/info.json'))
print(info['id'], info['width'], info['height'], info['tiles'][0]['scaleFactors'], info['profile'])
z = ET.parse(d + 'zoomify/a/ImageProperties.xml').getroot()
print(z.get('WIDTH'), z.get('HEIGHT'), z.get('NUMTILES'), z.get('TILESIZE'))
)"),
            "64 1 png 301 167\nhttps://x.org/a 301 167 [1, 2, 4, 8] level0\n301 167 24 64\n");
  Result r = runTorvel({"info", d.path("dz1/a.dzi")});
  EXPECT_NE(r.out.find("layout: dz\nwidth: 301\nheight: 167\nlevels: 10\ntile-size: 64\n"), std::string::npos) << r.out;
}

// --zip: one file Python's zipfile reads, with the layout, the descriptor,
// the viewer page and OpenSeadragon inside; options a layout has no use for
// are refused.
TEST(Pyramid, ZipAndRefusedOptions) {
  Scratch d;
  writeTiff(d.path("a.tif"), makePixels(200, 120, 8, 3));
  ASSERT_EQ(runTorvel({"pyramid", d.path("a.tif"), "--zip", "--quiet"}).status, 0);
  EXPECT_EQ(python(d, R"(import sys, zipfile, io
from PIL import Image
z = zipfile.ZipFile(sys.argv[1] + 'a.zip')
names = z.namelist()
print(z.testzip(), 'a.dzi' in names, 'a.html' in names, 'openseadragon/openseadragon.min.js' in names,
      'openseadragon/LICENSE.txt' in names, Image.open(io.BytesIO(z.read('a_files/8/0_0.jpg'))).size)
)"),
            "None True True True True (200, 120)\n");
  EXPECT_FALSE(runCommand("ls -A " + quote(d.dir())).find("a_files") != std::string::npos);
  const std::pair<std::vector<std::string>, std::string> refused[] = {
      {{"--layout", "iiif", "--overlap", "1"}, "--overlap applies to --layout dz"},
      {{"--tile-format", "png", "--quality", "50"}, "--quality applies to jpg and webp tiles"},
      {{"--tile", "9"}, "--tile takes 16 to 8192"},
      {{"--background", "1,2"}, "--background takes R,G,B"},
      {{"--layout", "tms"}, "--layout takes dz, iiif, zoomify or xyz"}};
  for (const auto& [options, reason] : refused) {
    std::vector<std::string> args = {"pyramid", d.path("a.tif")};
    args.insert(args.end(), options.begin(), options.end());
    const Result r = runTorvel(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
  }
}

// A pyramidal TIFF (Deflate, 16-bit RGBA, tiles of 64): its levels as
// tifffile, libvips and GDAL see them, each the 2 x 2 mean of the one above.
TEST(Pyramid, PyramidalTiffInTifffileVipsAndGdal) {
  Scratch d;
  mkdirs(d, "o");
  writeTiff(d.path("a.tif"), makePixels(300, 170, 16, 4, 5));
  Result r = runTorvel({"convert", d.path("a.tif"), "--compress", "deflate", "--tiled", "64", "--pyramid", "--out",
                        d.path("o"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(python(d, std::string(reference) + R"(
import tifffile, subprocess
d = sys.argv[1]
t = tifffile.TiffFile(d + 'o/a.tif')
levels = [l.asarray() for l in t.series[0].levels]
print([l.shape[:2] for l in levels], [p.is_reduced for p in t.pages])
for k in range(1, len(levels)):
    if not np.array_equal(levels[k], mean2(levels[k - 1].astype(np.int64), True)): print('level', k, 'differs')
print(subprocess.run(['vipsheader', '-f', 'n-pages', d + 'o/a.tif'], capture_output=True, text=True).stdout.strip())
print([l.strip() for l in subprocess.run(['gdalinfo', d + 'o/a.tif'], capture_output=True, text=True).stdout.splitlines() if 'Overviews' in l][0])
)"),
            "[(170, 300), (85, 150), (43, 75), (22, 38)] [False, True, True, True]\n4\nOverviews: 150x85, 75x43, 38x22\n");
  r = runTorvel({"info", d.path("o/a.tif")});
  EXPECT_NE(r.out.find("pyramid-levels: 4"), std::string::npos) << r.out;
}

// Interrupted (SIGINT, kill -9) a pyramid leaves no final name; one that
// replaces an earlier pyramid leaves that one as it was.
TEST(Pyramid, InterruptedRunsLeaveNoPyramidAndKeepTheOneReplaced) {
  Scratch d;
  mkdirs(d, "o");
  writeRaw(d.path("big_3000X3000.raw"), makePixels(3000, 3000, 8, 3));
  const std::vector<std::string> args = {"pyramid", d.path("big_3000X3000.raw"), "--out", d.path("o"), "--verbose",
                                         "--tile", "64", "--tile-format", "png"};
  for (int sig : {SIGINT, SIGKILL}) {
    runTorvel(args, 2000, sig);
    EXPECT_EQ(runCommand("ls " + quote(d.path("o")) + " | grep -v '^\\.' ; true"), "") << sig;
  }
  ASSERT_EQ(runTorvel({"pyramid", d.path("big_3000X3000.raw"), "--out", d.path("o"), "--quiet", "--tile", "512"}).status, 0);
  const std::string before = runCommand("cd " + quote(d.path("o")) + " && find big_3000X3000_files big_3000X3000.dzi -type f | sort | xargs md5sum");
  std::vector<std::string> again = args;
  again.push_back("--yes");
  runTorvel(again, 2000, SIGKILL);
  EXPECT_EQ(runCommand("cd " + quote(d.path("o")) + " && find big_3000X3000_files big_3000X3000.dzi -type f | sort | xargs md5sum"), before);
  // The next run into the folder clears what the killed one left.
  ASSERT_EQ(runTorvel({"pyramid", d.path("big_3000X3000.raw"), "--out", d.path("o"), "--quiet", "--yes"}).status, 0);
  EXPECT_EQ(runCommand("ls -A " + quote(d.path("o")) + " | grep torvel; true"), "");
}

// The viewer page opened from the file system in headless Chromium: the
// image shown (the middle of the screenshot is the input's middle), and
// zoomed in through the page's address, its fine checks resolved.
TEST(Pyramid, ViewerPagesShowTheImageInChromium) {
  if (runCommand("command -v chromium") == "") GTEST_SKIP() << "Chromium is not installed (scripts/deps.sh test installs it)";
  Scratch d;
  // A gradient with checks of one pixel: even when zoomed out, sharp when zoomed in.
  Pixels p{2000, 1500, 8, 3, std::vector<uint16_t>(size_t(2000) * 1500 * 3)};
  for (uint32_t y = 0; y < p.height; ++y)
    for (uint32_t x = 0; x < p.width; ++x)
      for (int c = 0; c < 3; ++c)
        p.samples[(size_t(y) * p.width + x) * 3 + c] =
            static_cast<uint16_t>((c == 0 ? x * 255 / 2000 : c == 1 ? y * 255 / 1500 : 128) / 2 + ((x + y) % 2) * 127);
  writeTiff(d.path("a.tif"), p);
  for (const char* layout : {"dz", "iiif", "zoomify"}) {
    mkdirs(d, layout);
    ASSERT_EQ(runTorvel({"pyramid", d.path("a.tif"), "--layout", layout, "--out", d.path(layout), "--quiet"}).status, 0);
  }
  EXPECT_EQ(python(d, R"(import sys, subprocess, numpy as np, tifffile
from PIL import Image
d = sys.argv[1]
a = tifffile.imread(d + 'a.tif').astype(float)
def shot(page, name, budget):
    subprocess.run(['chromium', '--headless', '--no-sandbox', '--disable-gpu', '--window-size=800,600',
                    '--virtual-time-budget=%d' % budget, '--screenshot=' + d + name, 'file://' + page],
                   capture_output=True, timeout=120)
    return np.asarray(Image.open(d + name).convert('RGB')).astype(float)
def checks(page, layout, budget):
    whole, zoomed = shot(page, layout + '.png', budget), shot(page + '#zoom=16', layout + '-zoom.png', budget)
    # The middle 40 x 40 of the screen against the input's middle, averaged over its checks.
    mid = whole[280:320, 380:420].mean(axis=(0, 1))
    want = a[730:770, 980:1020].mean(axis=(0, 1))
    detail = [zoomed[200:400, 300:500].std(), whole[280:320, 380:420].std()]
    return (np.abs(mid - want).max() < 12, detail[0] > 10, detail[1] < 6)
for layout in ['dz', 'iiif', 'zoomify']:
    page = d + layout + '/a.html'
    # A machine busy with other tests may not have loaded every tile within
    # the first budget: a page that is right shows it given more time.
    result = checks(page, layout, 5000)
    if not all(result):
        result = checks(page, layout, 30000)
    print(layout, *result)
)"),
            "dz True True True\niiif True True True\nzoomify True True True\n");
}

// A pyramid of an image larger than the bound holds a band of tile rows per
// level: under 100 MB beyond what torvel takes for itself.
TEST(Pyramid, MemoryHoldsABandPerLevel) {
  Scratch d;
  {
    std::FILE* f = std::fopen(d.path("wide_16000X4000.raw").c_str(), "wb");  // 192 MB of pixels
    std::vector<uint8_t> line(16000 * 3);
    for (uint32_t y = 0; y < 4000; ++y) {
      for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i / 5 + y);
      std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fclose(f);
  }
  FreedMemoryReturned measured;
  const long itself = runTorvel({"info", d.path("wide_16000X4000.raw")}).peakKb;
  const Result r = runTorvel({"pyramid", d.path("wide_16000X4000.raw"), "--quiet", "--no-viewer"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.peakKb, itself + 100 * 1024) << "torvel itself takes " << itself << " kB";
  // A pyramidal TIFF holds the full image's band of tiles (12 MB here) and
  // the reduced levels' bands (about as much again), not a band per level
  // twice over.
  const Result tiff = runTorvel({"convert", d.path("wide_16000X4000.raw"), "--compress", "jpeg", "--pyramid",
                                 "--out", d.dir(), "--quiet"});
  ASSERT_EQ(tiff.status, 0) << tiff.err;
  EXPECT_LT(tiff.peakKb, itself + 3 * 12000) << "torvel itself takes " << itself << " kB";
}
