// The torvel command run as a real process: texts, exit statuses, signals,
// memory, and outputs checked by readers we did not write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <regex>

#include "engine/files.h"
#include "engine/preview.h"
#include "engine/reader.h"
#include "clikit.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;
using namespace clikit;

namespace {

std::string lastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  size_t p = t.rfind('\n');
  return p == std::string::npos ? t : t.substr(p + 1);
}

// A RAW of `w` x `h` pixels written a line at a time, so the test holds one line.
void writeTallRaw(const std::string& path, uint32_t w, uint32_t h) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::vector<uint8_t> line(size_t(w) * 3);
  for (uint32_t y = 0; y < h; ++y) {
    for (size_t i = 0; i < line.size(); ++i) line[i] = uint8_t(i * 31 + y);
    std::fwrite(line.data(), 1, line.size(), f);
  }
  std::fclose(f);
}

}  // namespace

TEST(CliInfo, PrintsTheFieldsOfEveryKind) {
  Scratch d;
  writeTiff(d.path("a.tif"), makePixels(1234, 5, 8, 3));
  writeTiff(d.path("b.tif"), makePixels(7, 3, 16, 4), true);
  writeRaw(d.path("c_1000X1500.raw"), makePixels(1000, 1500, 8, 3));
  writeRaw(d.path("e_10X10.raw"), makePixels(10, 10, 16, 3));
  writeKro(d.path("k.kro"), makePixels(6, 2, 16, 4));
  writeKro(d.path("k8.kro"), makePixels(6, 2, 8, 4));
  Result r = runTorvel({"info", d.path("a.tif")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find("format:")),
            "kind: TIF\nfile-size: " + std::to_string(fileSize(d.path("a.tif"))) +
                "\nwidth: 1234\nheight: 5\nbits: 8\nchannels: 3\nbytes-per-pixel: 3\npixels: 6.17 Kilopixels\n");
  EXPECT_NE(r.out.find("format: TIFF\npixel-count: 6170\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("codec: none\nstorage: strips of 2 rows\n"), std::string::npos) << r.out;
  r = runTorvel({"info", d.path("b.tif")});
  EXPECT_NE(r.out.find("bits: 16\nchannels: 4\nbytes-per-pixel: 8\n"), std::string::npos) << r.out;
  r = runTorvel({"info", d.path("c_1000X1500.raw")});
  EXPECT_NE(r.out.find("kind: RAW\nfile-size: 4500000\nwidth: 1000\nheight: 1500\nbits: 8\n"), std::string::npos);
  EXPECT_NE(r.out.find("pixels: 1.50 Megapixels"), std::string::npos);
  r = runTorvel({"info", d.path("e_10X10.raw")});
  EXPECT_NE(r.out.find("bits: 16\nchannels: 3\nbytes-per-pixel: 6\n"), std::string::npos);
  r = runTorvel({"info", d.path("k.kro")});
  EXPECT_NE(r.out.find("kind: KRO\n"), std::string::npos);
  EXPECT_NE(r.out.find("bits: 16\nchannels: 4\nbytes-per-pixel: 8\n"), std::string::npos);
  r = runTorvel({"info", d.path("k8.kro")});
  EXPECT_NE(r.out.find("bits: 8\nchannels: 4\nbytes-per-pixel: 4\n"), std::string::npos);
}

TEST(CliInfo, RawSizeOptionAndRefusals) {
  Scratch d;
  writeRaw(d.path("scan.raw"), makePixels(40, 25, 16, 3));
  Result r = runTorvel({"info", d.path("scan.raw")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("--raw-size"), std::string::npos);
  r = runTorvel({"info", d.path("scan.raw"), "--raw-size", "40x25"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("width: 40\nheight: 25\nbits: 16\n"), std::string::npos);
  r = runTorvel({"info", d.path("scan.raw"), "--raw-size", "80x25", "--bits", "8"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("width: 80\nheight: 25\nbits: 8\n"), std::string::npos);
  r = runTorvel({"info", d.path("scan.raw"), "--raw-size", "40x26"});
  EXPECT_EQ(r.status, 1);
  r = runTorvel({"info", d.path("scan.raw"), "--raw-size", "40y26"});
  EXPECT_EQ(r.status, 2);
  r = runTorvel({"info", d.path("scan.raw"), "--bits", "12"});
  EXPECT_EQ(r.status, 2);
  // Sizes whose byte count overflows: refused for what they are.
  r = runTorvel({"info", d.path("scan.raw"), "--raw-size", "2147483647x2147483647"});
  EXPECT_EQ(r.err, "The size given, 2147483647 × 2147483647 at 8 bits, is too large: that many pixels cannot fit in a file\n");
  writeFile(d.path("x_2147483647X2147483647.raw"), "");
  r = runTorvel({"info", d.path("x_2147483647X2147483647.raw")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "The size in the file name is too large: 2147483647 × 2147483647 pixels cannot fit in a file\n");

  writeFile(d.path("bad.kro"), "KRO\x02 and then nothing");
  r = runTorvel({"info", d.path("bad.kro")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "KRO Header error\n");
  EXPECT_EQ(r.out, "");
  writeTiff(d.path("wide.tif"), makePixels(300001, 1, 8, 3));
  r = runTorvel({"info", d.path("wide.tif")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Image dimensions exceed internal limits\n");
  writeTiff(d.path("edge.tif"), makePixels(300000, 1, 8, 3));
  EXPECT_EQ(runTorvel({"info", d.path("edge.tif")}).status, 0);
  writeFile(d.path("x.png"), "png");
  EXPECT_EQ(runTorvel({"info", d.path("x.png")}).status, 1);
  EXPECT_EQ(runTorvel({"info", d.path("missing.tif")}).status, 1);
  EXPECT_EQ(runTorvel({"frobnicate"}).status, 2);
  EXPECT_EQ(runTorvel({"info", d.path("edge.tif"), "--bogus"}).status, 2);
  EXPECT_EQ(runTorvel({"--help"}).status, 0);
}

TEST(CliOperations, ConvertCropSplitMergeAndTheirTexts) {
  Scratch d;
  Pixels px = makePixels(64, 48, 8, 3);
  writeRaw(d.path("p_64X48.raw"), px);
  ::mkdir(d.path("o").c_str(), 0755);
  Result r = runTorvel({"convert", d.path("p_64X48.raw"), "--format", "tif-lzw", "--out", d.path("o")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, d.path("o/p.tif") + "\nOperation completed successfully\n");
  // Exists now: declined without --yes, which is no success.
  r = runTorvel({"convert", d.path("p_64X48.raw"), "--format", "tif-lzw", "--out", d.path("o")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Output file exists. Do you want to overwrite it?"), std::string::npos);
  EXPECT_EQ(lastLine(r.err), "Nothing was written");
  r = runTorvel({"convert", d.path("p_64X48.raw"), "--out", d.path("o"), "--format=tif-lzw", "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;

  r = runTorvel({"crop", d.path("p_64X48.raw"), "10", "5", "20", "30", "--format", "raw", "--out", d.path("o")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(d.path("o/p_20X30.raw")), rawBytes(crop(px, 10, 5, 20, 30)));
  r = runTorvel({"crop", d.path("p_64X48.raw"), "10", "5", "60", "30", "--out", d.path("o")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Width must > 0 and <= 54: ", 0), 0u) << r.err;
  EXPECT_EQ(runTorvel({"crop", d.path("p_64X48.raw"), "1", "2", "x", "4"}).status, 2);

  ::mkdir(d.path("t").c_str(), 0755);
  r = runTorvel({"split", d.path("p_64X48.raw"), "--tile", "30x20", "--format", "kro", "--out", d.path("t")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3 * 3 + 1);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), d.path("t/p_30X20_x1y1.kro"));
  std::vector<std::string> tiles;
  for (const char* n : {"p_4X8_x3y3.kro", "p_30X20_x1y1.kro", "p_30X20_x2y1.kro", "p_4X20_x3y1.kro",
                        "p_30X20_x1y2.kro", "p_30X20_x2y2.kro", "p_4X20_x3y2.kro", "p_30X8_x1y3.kro",
                        "p_30X8_x2y3.kro"})
    tiles.push_back(d.path(std::string("t/") + n));
  std::vector<std::string> args = {"merge"};
  args.insert(args.end(), tiles.begin(), tiles.end());
  for (const char* a : {"--format", "raw", "--out"}) args.push_back(a);
  args.push_back(d.path("o"));
  r = runTorvel(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, d.path("o/p_64X48.raw") + "\nOperation completed successfully\n");
  EXPECT_EQ(readFile(d.path("o/p_64X48.raw")), rawBytes(px));
  // A grid given that does not match the count.
  args.push_back("--grid");
  args.push_back("3x2");
  r = runTorvel(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Too many files selected.\nPlease select 6 files\nOperation refused\n");
  EXPECT_EQ(runTorvel({"convert", d.path("p_64X48.raw"), "--out", d.path("nowhere")}).err,
            "Output directory doesn't exists: " + d.path("nowhere") + " does not exist\nOperation refused\n");
  EXPECT_EQ(runTorvel({"convert", d.path("p_64X48.raw"), "--out", d.path("p_64X48.raw")}).err,
            "Output directory doesn't exists: " + d.path("p_64X48.raw") + " is a file, not a folder\nOperation refused\n");
  // A failure while reading ends with its own line: Deflate strips damaged after the probe's checks.
  writeTiff(d.path("damaged.tif"), makePixels(64, 48, 8, 3), false, 8, 4);
  std::string bytes = readFile(d.path("damaged.tif"));
  bytes.replace(200, 400, std::string(400, '\xff'));
  writeFile(d.path("damaged.tif"), bytes);
  r = runTorvel({"convert", d.path("damaged.tif"), "--out", d.path("o"), "--format", "raw"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lastLine(r.err), "Operation failed") << r.err;
  EXPECT_NE(r.err.find("Read file error: row "), std::string::npos) << r.err;
}

// Readers we did not write agree with our TIFF files: pixels, LZW, BigTIFF.
TEST(CliOperations, TiffOutputsReadByIndependentReaders) {
  if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
  Scratch d;
  Pixels px8 = makePixels(33, 21, 8, 3, 4), px16 = makePixels(17, 9, 16, 3, 6);
  writeRaw(d.path("a_33X21.raw"), px8);
  writeRaw(d.path("b_17X9.raw"), px16);
  ::mkdir(d.path("lzw").c_str(), 0755);
  ASSERT_EQ(runTorvel({"convert", d.path("a_33X21.raw")}).status, 0);
  ASSERT_EQ(runTorvel({"convert", d.path("a_33X21.raw"), "--format", "tif-lzw", "--out", d.path("lzw")}).status, 0);
  ASSERT_EQ(runTorvel({"convert", d.path("b_17X9.raw")}).status, 0);
  ASSERT_EQ(runTorvel({"split", d.path("b_17X9.raw"), "--tile", "17x9"}).status, 0);
  const std::string script =
      "import sys, numpy as np, tifffile\n"
      "from PIL import Image\n"
      "d = sys.argv[1]\n"
      "raw8 = open(d + 'a_33X21.raw', 'rb').read()\n"
      "assert Image.open(d + 'a.tif').tobytes() == raw8, 'plain 8-bit'\n"
      "im = Image.open(d + 'lzw/a.tif'); assert im.info.get('compression') == 'tiff_lzw', im.info\n"
      "assert im.tobytes() == raw8, 'lzw 8-bit'\n"
      "a = tifffile.imread(d + 'b.tif'); assert a.dtype == np.uint16 and a.shape == (9, 17, 3)\n"
      "assert a.astype('<u2').tobytes() == open(d + 'b_17X9.raw', 'rb').read(), '16-bit'\n"
      "t = tifffile.TiffFile(d + 'b_17X9_x1y1.tif'); assert not t.is_bigtiff\n"
      "print('ok')\n";
  writeFile(d.path("check.py"), script);
  int rc = 0;
  std::string out = runCommand("/usr/bin/python3 " + quote(d.path("check.py")) + " " + quote(d.dir()) + " 2>&1", &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out, "ok\n");
}

// SIGINT during a run aborts it like the window's Abort: no output remains.
TEST(CliOperations, InterruptLeavesNoPartialOutput) {
  Scratch d;
  writeTallRaw(d.path("tall_200X20000.raw"), 200, 20000);
  ::mkdir(d.path("o").c_str(), 0755);
  for (const char* format : {"tif", "kro"}) {
    Result r = runTorvel({"convert", d.path("tall_200X20000.raw"), "--verbose", "--format", format, "--out", d.path("o")},
                      4096, SIGINT);
    EXPECT_EQ(r.status, 1) << format;
    EXPECT_EQ(lastLine(r.err), "Operation aborted");
    EXPECT_EQ(runCommand("ls " + quote(d.path("o"))), "");
  }
  // Split keeps the tiles it finished.
  Result r = runTorvel({"split", d.path("tall_200X20000.raw"), "--tile", "100x1000", "--verbose", "--format", "raw",
                     "--out", d.path("o")},
                    65536, SIGTERM);  // a status line a row: past the first band of 1000 rows
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(runCommand("ls " + quote(d.path("o"))), "");
}

// Streaming keeps memory small whatever the height: far below the image's
// 60 MB, beyond what torvel takes for itself in this build (about 5 MB; six
// times that in a sanitized build).
TEST(CliMemory, ConvertAndCropOfAWideImageStayUnder40MB) {
  Scratch d;
  writeTallRaw(d.path("wide_40000X500.raw"), 40000, 500);
  ::mkdir(d.path("o").c_str(), 0755);
  const long bound = runTorvel({"info", d.path("wide_40000X500.raw")}).peakKb + 34 * 1024;
  const std::vector<std::vector<std::string>> jobs = {
      {"convert", d.path("wide_40000X500.raw"), "--format", "tif", "--out", d.path("o"), "--quiet"},
      {"convert", d.path("wide_40000X500.raw"), "--format", "kro", "--out", d.path("o"), "--quiet"},
      {"crop", d.path("wide_40000X500.raw"), "5000", "100", "30000", "350", "--format", "raw", "--out", d.path("o"),
       "--quiet"},
  };
  for (const auto& job : jobs) {
    Result r = runTorvel(job);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.peakKb, bound) << job[0] << " " << job[3];
  }
  // Reading a TIFF back: the input is not mapped into memory either.
  ::mkdir(d.path("back").c_str(), 0755);
  Result r = runTorvel({"convert", d.path("o/wide.tif"), "--format", "raw", "--out", d.path("back"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.peakKb, bound);
  EXPECT_TRUE(readFile(d.path("back/wide_40000X500.raw")) == readFile(d.path("wide_40000X500.raw")));
}

// The direct scaling of the largest image it takes (10999 × 10999 at 16 bits,
// 726 MB) holds that image and a band of the result, not a second image:
// under 1 GB. The image is sparse: no disk and no time to write it.
TEST(CliMemory, DirectScalingOfTheLargestImageStaysUnderAGigabyte) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "a sanitized torvel adds shadow memory to every byte it holds, and takes minutes to scale this";
#endif
  Scratch d;
  ::mkdir(d.path("o").c_str(), 0755);
  runCommand("truncate -s " + std::to_string(int64_t{10999} * 10999 * 6) + " " + quote(d.path("deep_10999X10999.raw")));
  const FreedMemoryReturned measured;
  const Result r = runTorvel({"resize", d.path("deep_10999X10999.raw"), "--width", "10700", "--format", "raw",
                              "--out", d.path("o"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.peakKb, 1024 * 1024);
  EXPECT_EQ(fileSize(d.path("o/deep_10700X10700.raw")), int64_t{10700} * 10700 * 6);
  EXPECT_EQ(runCommand("ls -A " + quote(d.path("o"))), "deep_10700X10700.raw\n");  // no temporary left
}

// A real resize of an image just over 10000 pixels wide, both methods: the
// final step scales it directly by 10050 / 1000, giving 1000 x 149.
TEST(CliResize, BothMethodsGiveTheComputedSize) {
  Scratch d;
  writeTallRaw(d.path("pano_10050X1500.raw"), 10050, 1500);
  ::mkdir(d.path("o").c_str(), 0755);
  for (const char* m : {"--fast", "--slow"}) {
    Result r = runTorvel({"resize", d.path("pano_10050X1500.raw"), "--width", "1000", m, "--format", "raw", "--out",
                       d.path("o"), "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, d.path("o/pano_1000X149.raw") + "\nOperation completed successfully\n");
    EXPECT_EQ(fileSize(d.path("o/pano_1000X149.raw")), 1000 * 149 * 3);
  }
  EXPECT_EQ(runCommand("ls -A " + quote(d.path(""))), "o\npano_10050X1500.raw\n");
  Result small = runTorvel({"resize", d.path("pano_10050X1500.raw"), "--width", "100"});
  EXPECT_EQ(small.status, 2);
  runCommand("truncate -s " + std::to_string(9000LL * 9000 * 3) + " " + quote(d.path("s_9000X9000.raw")));
  Result r = runTorvel({"resize", d.path("s_9000X9000.raw"), "--width", "1000", "--out", d.path("o")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Width and height of the input file must be > 10000: ", 0), 0u) << r.err;
}

namespace {

// Every operation and output kind from the command line on small generated
// images; "name md5" of every output, sorted.
std::string outputChecksums(const Scratch& d) {
  writeRaw(d.path("a_301X203.raw"), makePixels(301, 203, 8, 3, 11));
  writeTiff(d.path("b.tif"), makePixels(157, 99, 16, 4, 12), false, 5, 8);
  writeKro(d.path("c.kro"), makePixels(64, 48, 8, 4, 13));
  writeRaw(d.path("d_120X80.raw"), makePixels(120, 80, 16, 3, 14));
  writeRaw(d.path("e_10050X150.raw"), makePixels(10050, 150, 8, 3, 15));
  int n = 0;
  auto run = [&](std::vector<std::string> args) {
    const std::string out = d.path("out" + std::to_string(n++));
    ::mkdir(out.c_str(), 0755);
    for (const char* a : {"--quiet", "--out"}) args.push_back(a);
    args.push_back(out);
    const Result r = runTorvel(args);
    EXPECT_EQ(r.status, 0) << args[0] << " " << args[1] << ": " << r.err;
  };
  for (const char* in : {"a_301X203.raw", "b.tif", "c.kro", "d_120X80.raw"}) {
    for (const char* format : {"tif", "tif-lzw", "raw", "kro"}) {
      run({"convert", d.path(in), "--format", format});
      run({"crop", d.path(in), "7", "5", "33", "21", "--format", format});
      run({"split", d.path(in), "--tile", "40x30", "--format", format});
    }
  }
  run({"merge", d.path("out2/a_40X30_x1y1.tif"), d.path("out2/a_40X30_x2y1.tif"), "--grid", "2x1", "--format", "raw"});
  run({"resize", d.path("e_10050X150.raw"), "--width", "1000", "--fast", "--format", "raw"});
  run({"resize", d.path("e_10050X150.raw"), "--width", "1000", "--slow", "--format", "tif"});
  return runCommand("cd " + quote(d.dir()) + " && md5sum out*/* | sort -k2");
}

std::string digestOf(const std::string& text, const Scratch& d) {
  writeFile(d.path("listing.txt"), text);
  return runCommand("md5sum < " + quote(d.path("listing.txt")) + " | cut -c1-32");
}

}  // namespace

// The outputs are byte for byte those the build before the reader/writer
// redesign wrote (recorded from it on the same generated images).
TEST(CliOutputs, ByteIdenticalToTheRecordedBuild) {
  Scratch d;
  const std::string listing = outputChecksums(d);
  EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 375);
  EXPECT_EQ(digestOf(listing, d), "179253a09533a8e1a54fec80dce0d857\n") << listing;
}

// What a TIFF holds and what it is read as, and how many pages it has.
TEST(CliInfo, FileLayoutsAndPages) {
  Scratch d;
  writeTiffLayout(d.path("g.tif"), makePixels(30, 20, 16, 2, 3), {PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 1, 16, 16});
  TiffRecipe pages{PHOTOMETRIC_RGB, COMPRESSION_NONE};
  pages.pages = 3;
  writeTiffLayout(d.path("p.tif"), makePixels(30, 20, 8, 3, 4), pages);
  Result r = runTorvel({"info", d.path("g.tif")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("bits: 16\nchannels: 2 gray + alpha, read as 4\nbytes-per-pixel: 8\n"), std::string::npos) << r.out;
  r = runTorvel({"info", d.path("p.tif")});
  EXPECT_NE(r.out.find("channels: 3\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pages: 3 (the first is read)\n"), std::string::npos) << r.out;
}

// Reading a tiled image holds one row of tiles, not the image.
TEST(CliMemory, TiledConvertHoldsOneRowOfTiles) {
  Scratch d;
  // 12000 x 4096 8-bit RGB in 512 x 512 LZW tiles: 147 MB of pixels, 18 MB a row of tiles.
  TIFF* t = TIFFOpen(d.path("tiled.tif").c_str(), "w8");
  ASSERT_NE(t, nullptr);
  for (auto [tag, value] : {std::pair{TIFFTAG_IMAGEWIDTH, 12000u}, {TIFFTAG_IMAGELENGTH, 4096u},
                            {TIFFTAG_TILEWIDTH, 512u}, {TIFFTAG_TILELENGTH, 512u}})
    TIFFSetField(t, tag, value);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
  TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_LZW));
  std::vector<uint8_t> tile(512 * 512 * 3);
  for (uint32_t i = 0; i < TIFFNumberOfTiles(t); ++i) {
    std::fill(tile.begin(), tile.end(), uint8_t(i));
    ASSERT_GE(TIFFWriteEncodedTile(t, i, tile.data(), tmsize_t(tile.size())), 0);
  }
  TIFFClose(t);
  ::mkdir(d.path("o").c_str(), 0755);
  const Result r = runTorvel({"convert", d.path("tiled.tif"), "--format", "raw", "--out", d.path("o"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  const long band = 12000L * 512 * 3 / 1024;
  // Beyond what the program itself takes in this build (a sanitized one takes more).
  const long itself = runTorvel({"info", d.path("tiled.tif")}).peakKb;
  EXPECT_LT(r.peakKb, itself + 2 * band) << "a row of tiles is " << band << " kB, torvel itself " << itself << " kB";
  EXPECT_EQ(fileSize(d.path("o/tiled_12000X4096.raw")), 12000LL * 4096 * 3);
}

// info --json parses as JSON with the fields of the text; preview writes the
// window's picture as a PNG that other readers decode.
TEST(CliInfo, JsonAndPreviewPicture) {
  Scratch d;
  writeTiffLayout(d.path("g.tif"), makePixels(300, 200, 16, 2, 3), {PHOTOMETRIC_MINISBLACK, COMPRESSION_LZW, 1, 16, 16});
  Result r = runTorvel({"info", d.path("g.tif"), "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  writeFile(d.path("info.json"), r.out);
  EXPECT_EQ(runCommand("/usr/bin/python3 -c \"import json; j = json.load(open('" + d.path("info.json") +
                       "')); print(j['kind'], j['width'], j['height'], j['bits'], j['channels'], j['file-layout'], "
                       "j['bytes-per-pixel'], j['pixels'])\""),
            "TIF 300 200 16 4 gray + alpha 8 60.00 Kilopixels\n");

  r = runTorvel({"preview", d.path("g.tif"), "--width", "120", "--out", d.path("p.png"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  PreviewPicture picture;
  ASSERT_TRUE(makePreview(probeImage(d.path("g.tif")), 120, UINT32_MAX, RunContext(), picture)
                  .completed());
  writeFile(d.path("want.rgb"), std::string(picture.rgb.begin(), picture.rgb.end()));
  EXPECT_EQ(runCommand("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + d.path("p.png") +
                       "'); print(im.size, im.mode, im.tobytes() == open('" + d.path("want.rgb") +
                       "', 'rb').read())\""),
            "(120, 80) RGB True\n");
}

// On a terminal the progress line shows the share done, the read speed and
// the time left (run under a pseudo-terminal by script(1)).
TEST(CliProgress, PercentSpeedAndTimeLeftOnATerminal) {
  if (runCommand("which script") == "") GTEST_SKIP() << "needs script(1)";
  Scratch d;
  {  // noise: slow to compress, so the run lasts long enough to be measured
    FILE* f = std::fopen(d.path("t_4000X3000.raw").c_str(), "wb");
    std::vector<uint8_t> line(4000 * 3);
    uint32_t x = 1;
    for (int y = 0; y < 3000; ++y) {
      for (auto& b : line) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
      std::fwrite(line.data(), 1, line.size(), f);
    }
    std::fclose(f);
  }
  // On a terminal of 60 columns.
  const std::string out = runCommand("script -qec 'stty cols 60; " + std::string(TORVEL_EXE) + " convert " +
                                     d.path("t_4000X3000.raw") + " --format tif-lzw --out " + d.dir() + "' /dev/null");
  // A measured line, e.g. "[######....]  15%   153.4 MB/s  0:01 left".
  EXPECT_TRUE(std::regex_search(out, std::regex("\\] +[0-9]+%  +[0-9]+\\.[0-9] MB/s  [0-9]+:[0-9][0-9] left"))) << out;
  // Every line redrawn in place is short of the width: none wraps. (A last
  // line ended by a newline, such as the output's path, may be longer.)
  for (size_t at = out.find("\033[K"); at != std::string::npos; at = out.find("\033[K", at + 1)) {
    const size_t end = out.find_first_of("\r\n", at);
    if (end == std::string::npos || out.compare(end, 2, "\r\n") == 0) continue;
    EXPECT_LT(end - at - 3, 60u) << out.substr(at, end - at);
  }
  EXPECT_NE(out.find("Operation completed successfully"), std::string::npos);
}

// What ./run.sh installs for the user (cmake --install into ~/.local): the
// programs, the desktop entry and thumbnailer pointing at them, the man page
// (which man renders) and the bash completion.
TEST(CliInstall, ManPageAndCompletionInTheUsersFolders) {
  Scratch home;
  const std::string env = "HOME=" + home.dir() + " ";
  int status = -1;
  // From this test's own build folder, wherever it is.
  const std::string build = std::filesystem::path(TORVEL_EXE).parent_path().parent_path().parent_path().string();
  runCommand(env + quote(std::string(TORVEL_SOURCE_DIR) + "/scripts/install-user.sh") + " " + quote(build), &status);
  ASSERT_EQ(status, 0);
  for (const char* f : {".local/share/man/man1/torvel.1.gz", ".local/share/bash-completion/completions/torvel",
                        ".local/bin/torvel", ".local/share/mime/packages/torvel-tools.xml"})
    EXPECT_TRUE(fileExists(home.path(f))) << f;
  const std::string version = runCommand(home.path(".local/bin/torvel") + " --version");
  EXPECT_EQ(version.substr(0, version.find('\n')), "torvel 2.1.0");
  EXPECT_TRUE(std::regex_search(version, std::regex("\nlibtiff [0-9.]+, zlib [0-9.]+, libpng [0-9.]+, .*\nResampling kernels: (AVX-512|AVX2|none)")))
      << version;
  EXPECT_NE(readFile(home.path(".local/share/thumbnailers/torvel.thumbnailer")).find("/.local/bin/torvel thumbnail -s %s %i %o"),
            std::string::npos);
  const std::string man = runCommand("MANWIDTH=80 man -l " + home.path(".local/share/man/man1/torvel.1.gz") + " 2>&1");
  EXPECT_NE(man.find("torvel preview FILE --width N --out PICTURE.png"), std::string::npos) << man;
  // Formats and options come from torvel's help; folders after --out; the
  // user's shell options stay as they were.
  std::filesystem::create_directories(home.path("w/sub"));
  writeFile(home.path("w/some.tif"), "x");
  const std::string completion = runCommand(
      "cd " + home.path("w") + " && PATH=" + home.path(".local/bin") + ":$PATH bash -c 'shopt -u extglob; source " +
      home.path(".local/share/bash-completion/completions/torvel") +
      "; COMP_WORDS=(torvel p); COMP_CWORD=1; _torvel; echo ${COMPREPLY[@]};"
      " COMP_WORDS=(torvel convert --format p); COMP_CWORD=3; _torvel; echo ${COMPREPLY[@]};"
      " COMP_WORDS=(torvel pyramid --la); COMP_CWORD=2; _torvel; echo ${COMPREPLY[@]};"
      " COMP_WORDS=(torvel split x.tif --out \"\"); COMP_CWORD=4; _torvel; echo ${COMPREPLY[@]};"
      " shopt extglob'");
  EXPECT_EQ(completion, "pyramid preview\npng psb psd\n--layout\nsub\nextglob        \toff\n");
}

// -o names the output: its extension (any case) chooses the format, one that
// disagrees with --format or names none is a usage error, and the input's own
// name is refused before anything is written.
TEST(CliOutputName, ExtensionChoosesTheFormatAndTheInputIsNeverTheOutput) {
  Scratch d;
  writeRaw(d.path("p_64X48.raw"), makePixels(64, 48, 8, 3));
  const std::string before = readFile(d.path("p_64X48.raw"));
  EXPECT_EQ(runTorvel({"convert", d.path("p_64X48.raw"), "-o", d.path("A.TIFF")}).status, 0);
  EXPECT_EQ(runTorvel({"info", d.path("A.TIFF")}).out.substr(0, 10), "kind: TIF\n");
  EXPECT_EQ(runTorvel({"convert", d.path("p_64X48.raw"), "-o", d.path("b.JPEG")}).status, 0);
  EXPECT_NE(runTorvel({"info", d.path("b.JPEG")}).out.find("format: JPEG"), std::string::npos);
  EXPECT_EQ(runTorvel({"convert", d.path("p_64X48.raw"), "-o", d.path("c.png"), "--format", "tif"}).status, 2);
  EXPECT_EQ(runTorvel({"convert", d.path("p_64X48.raw"), "-o", d.path("c.xyz")}).status, 2);
  EXPECT_EQ(runTorvel({"preview", d.path("p_64X48.raw"), "--width", "10", "--out", d.path("q.PNG")}).status, 0);
  EXPECT_EQ(runTorvel({"preview", d.path("p_64X48.raw"), "--width", "10", "--out", d.path("q.jpg")}).status, 2);
  const Result r = runTorvel({"convert", d.path("p_64X48.raw"), "--format", "raw", "-o", d.path("p_64X48.raw")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("would be the input itself"), std::string::npos) << r.err;
  EXPECT_EQ(readFile(d.path("p_64X48.raw")), before);
  EXPECT_FALSE(fileExists(d.path("c.png")) || fileExists(d.path("c.xyz")) || fileExists(d.path("q.jpg")));
}
