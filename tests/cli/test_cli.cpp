// The torvel command run as a real process: texts, exit statuses, signals,
// memory, and outputs checked by readers we did not write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "engine/utils.h"
#include "testkit.h"

using namespace testkit;

namespace {

struct Result {
  int Status = -1;
  std::string Out, Err;
  long PeakKb = 0;
};

// Runs torvel with `args`; `onStarted` may act on the running child (by pid)
// once it has written at least `waitBytes` bytes of stderr.
Result Torvel(const std::vector<std::string>& args, size_t waitBytes = 0, int signalToSend = 0) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe");
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::close(out[0]);
    ::close(err[0]);
    std::vector<char*> argv;
    std::string exe = TORVEL_EXE;
    argv.push_back(exe.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(exe.c_str(), argv.data());
    _exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  Result r;
  if (signalToSend) {
    // The child writes a status line per image line; once it has written this
    // much it is certainly inside the line loop.
    char buf[4096];
    while (r.Err.size() < waitBytes) {
      ssize_t n = ::read(err[0], buf, sizeof buf);
      if (n <= 0) break;
      r.Err.append(buf, size_t(n));
    }
    ::kill(pid, signalToSend);
  }
  // Drain both pipes.
  char buf[65536];
  for (int fd : {err[0], out[0]}) {
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) (fd == err[0] ? r.Err : r.Out).append(buf, size_t(n));
    ::close(fd);
  }
  int status = 0;
  struct rusage ru {};
  ::wait4(pid, &status, 0, &ru);
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.PeakKb = ru.ru_maxrss;
  return r;
}

std::string LastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  size_t p = t.rfind('\n');
  return p == std::string::npos ? t : t.substr(p + 1);
}

// A RAW of `w` x `h` pixels written a line at a time, so the test holds one line.
void WriteTallRaw(const std::string& path, uint32_t w, uint32_t h) {
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
  TScratch d;
  WriteTiff(d.Path("a.tif"), MakePixels(1234, 5, 8, 3));
  WriteTiff(d.Path("b.tif"), MakePixels(7, 3, 16, 4), true);
  WriteRaw(d.Path("c_1000X1500.raw"), MakePixels(1000, 1500, 8, 3));
  WriteRaw(d.Path("e_10X10.raw"), MakePixels(10, 10, 16, 3));
  WriteKro(d.Path("k.kro"), MakePixels(6, 2, 16, 4));
  WriteKro(d.Path("k8.kro"), MakePixels(6, 2, 8, 4));
  Result r = Torvel({"info", d.Path("a.tif")});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "kind: TIF\nfile-size: " + std::to_string(GetFileSize64(d.Path("a.tif"))) +
                       "\nwidth: 1234\nheight: 5\nbits: 8\nchannels: 3\nbytes-per-pixel: 3\npixels: 6.17 Kilopixels\n");
  r = Torvel({"info", d.Path("b.tif")});
  EXPECT_NE(r.Out.find("bits: 16\nchannels: 4\nbytes-per-pixel: 8\n"), std::string::npos) << r.Out;
  r = Torvel({"info", d.Path("c_1000X1500.raw")});
  EXPECT_NE(r.Out.find("kind: RAW\nfile-size: 4500000\nwidth: 1000\nheight: 1500\nbits: 8\n"), std::string::npos);
  EXPECT_NE(r.Out.find("pixels: 1.50 Megapixels"), std::string::npos);
  r = Torvel({"info", d.Path("e_10X10.raw")});
  EXPECT_NE(r.Out.find("bits: 16\nchannels: 3\nbytes-per-pixel: 6\n"), std::string::npos);
  r = Torvel({"info", d.Path("k.kro")});
  EXPECT_NE(r.Out.find("kind: KRO\n"), std::string::npos);
  EXPECT_NE(r.Out.find("bits: 16\nchannels: 4\nbytes-per-pixel: 8\n"), std::string::npos);
  r = Torvel({"info", d.Path("k8.kro")});
  EXPECT_NE(r.Out.find("bits: 8\nchannels: 4\nbytes-per-pixel: 4\n"), std::string::npos);
}

TEST(CliInfo, RawSizeOptionAndRefusals) {
  TScratch d;
  WriteRaw(d.Path("scan.raw"), MakePixels(40, 25, 16, 3));
  Result r = Torvel({"info", d.Path("scan.raw")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("--raw-size"), std::string::npos);
  r = Torvel({"info", d.Path("scan.raw"), "--raw-size", "40x25"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("width: 40\nheight: 25\nbits: 16\n"), std::string::npos);
  r = Torvel({"info", d.Path("scan.raw"), "--raw-size", "80x25", "--bits", "8"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("width: 80\nheight: 25\nbits: 8\n"), std::string::npos);
  r = Torvel({"info", d.Path("scan.raw"), "--raw-size", "40x26"});
  EXPECT_EQ(r.Status, 1);
  r = Torvel({"info", d.Path("scan.raw"), "--raw-size", "40y26"});
  EXPECT_EQ(r.Status, 2);
  r = Torvel({"info", d.Path("scan.raw"), "--bits", "12"});
  EXPECT_EQ(r.Status, 2);

  WriteFile(d.Path("bad.kro"), "KRO\x02 and then nothing");
  r = Torvel({"info", d.Path("bad.kro")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "KRO Header error\n");
  EXPECT_EQ(r.Out, "");
  WriteTiff(d.Path("wide.tif"), MakePixels(300001, 1, 8, 3));
  r = Torvel({"info", d.Path("wide.tif")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Image dimensions exceed internal limits\n");
  WriteTiff(d.Path("edge.tif"), MakePixels(300000, 1, 8, 3));
  EXPECT_EQ(Torvel({"info", d.Path("edge.tif")}).Status, 0);
  WriteFile(d.Path("x.png"), "png");
  EXPECT_EQ(Torvel({"info", d.Path("x.png")}).Status, 1);
  EXPECT_EQ(Torvel({"info", d.Path("missing.tif")}).Status, 1);
  EXPECT_EQ(Torvel({"frobnicate"}).Status, 2);
  EXPECT_EQ(Torvel({"info", d.Path("edge.tif"), "--bogus"}).Status, 2);
  EXPECT_EQ(Torvel({"--help"}).Status, 0);
}

TEST(CliOperations, ConvertCropSplitMergeAndTheirTexts) {
  TScratch d;
  TPixels px = MakePixels(64, 48, 8, 3);
  WriteRaw(d.Path("p_64X48.raw"), px);
  ::mkdir(d.Path("o").c_str(), 0755);
  Result r = Torvel({"convert", d.Path("p_64X48.raw"), "--format", "tif-lzw", "--out", d.Path("o")});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, d.Path("o/p.tif") + "\nOperation completed successfully\n");
  // Exists now: declined without --yes, which is no success.
  r = Torvel({"convert", d.Path("p_64X48.raw"), "--format", "tif-lzw", "--out", d.Path("o")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("Output file exists. Do you want to overwrite it?"), std::string::npos);
  EXPECT_EQ(LastLine(r.Err), "Operation aborted");
  r = Torvel({"convert", d.Path("p_64X48.raw"), "--out", d.Path("o"), "--format=tif-lzw", "--yes"});
  EXPECT_EQ(r.Status, 0) << r.Err;

  r = Torvel({"crop", d.Path("p_64X48.raw"), "10", "5", "20", "30", "--format", "raw", "--out", d.Path("o")});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadFile(d.Path("o/p_20X30.raw")), RawBytes(Crop(px, 10, 5, 20, 30)));
  r = Torvel({"crop", d.Path("p_64X48.raw"), "10", "5", "60", "30", "--out", d.Path("o")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Width must > 0 and <= 54\nOperation aborted\n");
  EXPECT_EQ(Torvel({"crop", d.Path("p_64X48.raw"), "1", "2", "x", "4"}).Status, 2);

  ::mkdir(d.Path("t").c_str(), 0755);
  r = Torvel({"split", d.Path("p_64X48.raw"), "--tile", "30x20", "--format", "kro", "--out", d.Path("t")});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), 3 * 3 + 1);
  EXPECT_EQ(r.Out.substr(0, r.Out.find('\n')), d.Path("t/p_30X20_x1y1.kro"));
  std::vector<std::string> tiles;
  for (const char* n : {"p_4X8_x3y3.kro", "p_30X20_x1y1.kro", "p_30X20_x2y1.kro", "p_4X20_x3y1.kro",
                        "p_30X20_x1y2.kro", "p_30X20_x2y2.kro", "p_4X20_x3y2.kro", "p_30X8_x1y3.kro",
                        "p_30X8_x2y3.kro"})
    tiles.push_back(d.Path(std::string("t/") + n));
  std::vector<std::string> args = {"merge"};
  args.insert(args.end(), tiles.begin(), tiles.end());
  for (const char* a : {"--format", "raw", "--out"}) args.push_back(a);
  args.push_back(d.Path("o"));
  r = Torvel(args);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, d.Path("o/p_64X48.raw") + "\nOperation completed successfully\n");
  EXPECT_EQ(ReadFile(d.Path("o/p_64X48.raw")), RawBytes(px));
  // A grid given that does not match the count.
  args.push_back("--grid");
  args.push_back("3x2");
  r = Torvel(args);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Too many files selected.\nPlease select 6 files\nOperation aborted\n");
  EXPECT_EQ(Torvel({"convert", d.Path("p_64X48.raw"), "--out", d.Path("nowhere")}).Err,
            "Output directory doesn't exists\n");
}

// Readers we did not write agree with our TIFF files: pixels, LZW, BigTIFF.
TEST(CliOperations, TiffOutputsReadByIndependentReaders) {
  if (::access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
  TScratch d;
  TPixels px8 = MakePixels(33, 21, 8, 3, 4), px16 = MakePixels(17, 9, 16, 3, 6);
  WriteRaw(d.Path("a_33X21.raw"), px8);
  WriteRaw(d.Path("b_17X9.raw"), px16);
  ::mkdir(d.Path("lzw").c_str(), 0755);
  ASSERT_EQ(Torvel({"convert", d.Path("a_33X21.raw")}).Status, 0);
  ASSERT_EQ(Torvel({"convert", d.Path("a_33X21.raw"), "--format", "tif-lzw", "--out", d.Path("lzw")}).Status, 0);
  ASSERT_EQ(Torvel({"convert", d.Path("b_17X9.raw")}).Status, 0);
  ASSERT_EQ(Torvel({"split", d.Path("b_17X9.raw"), "--tile", "17x9"}).Status, 0);
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
  WriteFile(d.Path("check.py"), script);
  int rc = 0;
  std::string out = RunCommand("/usr/bin/python3 " + Quote(d.Path("check.py")) + " " + Quote(d.Dir()) + " 2>&1", &rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out, "ok\n");
}

// SIGINT during a run aborts it like the window's Abort: no output remains.
TEST(CliOperations, InterruptLeavesNoPartialOutput) {
  TScratch d;
  WriteTallRaw(d.Path("tall_200X20000.raw"), 200, 20000);
  ::mkdir(d.Path("o").c_str(), 0755);
  for (const char* format : {"tif", "kro"}) {
    Result r = Torvel({"convert", d.Path("tall_200X20000.raw"), "--verbose", "--format", format, "--out", d.Path("o")},
                      4096, SIGINT);
    EXPECT_EQ(r.Status, 1) << format;
    EXPECT_EQ(LastLine(r.Err), "Operation aborted");
    EXPECT_EQ(RunCommand("ls " + Quote(d.Path("o"))), "");
  }
  // Split keeps the tiles it finished.
  Result r = Torvel({"split", d.Path("tall_200X20000.raw"), "--tile", "100x1000", "--verbose", "--format", "raw",
                     "--out", d.Path("o")},
                    8192, SIGTERM);
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(RunCommand("ls " + Quote(d.Path("o"))), "");
}

// Streaming keeps memory small whatever the height.
TEST(CliMemory, ConvertAndCropOfAWideImageStayUnder40MB) {
  TScratch d;
  WriteTallRaw(d.Path("wide_40000X500.raw"), 40000, 500);
  ::mkdir(d.Path("o").c_str(), 0755);
  const std::vector<std::vector<std::string>> jobs = {
      {"convert", d.Path("wide_40000X500.raw"), "--format", "tif", "--out", d.Path("o"), "--quiet"},
      {"convert", d.Path("wide_40000X500.raw"), "--format", "kro", "--out", d.Path("o"), "--quiet"},
      {"crop", d.Path("wide_40000X500.raw"), "5000", "100", "30000", "350", "--format", "raw", "--out", d.Path("o"),
       "--quiet"},
  };
  for (const auto& job : jobs) {
    Result r = Torvel(job);
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_LT(r.PeakKb, 40 * 1024) << job[0] << " " << job[3];
  }
  // Reading a TIFF back: the input is not mapped into memory either.
  ::mkdir(d.Path("back").c_str(), 0755);
  Result r = Torvel({"convert", d.Path("o/wide.tif"), "--format", "raw", "--out", d.Path("back"), "--quiet"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_LT(r.PeakKb, 40 * 1024);
  EXPECT_TRUE(ReadFile(d.Path("back/wide_40000X500.raw")) == ReadFile(d.Path("wide_40000X500.raw")));
}

// A real resize of an image just over 10000 pixels wide, both methods: the
// final step scales it directly by 10050 / 1000, giving 1000 x 149.
TEST(CliResize, BothMethodsGiveTheComputedSize) {
  TScratch d;
  WriteTallRaw(d.Path("pano_10050X1500.raw"), 10050, 1500);
  ::mkdir(d.Path("o").c_str(), 0755);
  for (const char* m : {"--fast", "--slow"}) {
    Result r = Torvel({"resize", d.Path("pano_10050X1500.raw"), "--width", "1000", m, "--format", "raw", "--out",
                       d.Path("o"), "--yes"});
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, d.Path("o/pano_1000X149.raw") + "\nOperation completed successfully\n");
    EXPECT_EQ(GetFileSize64(d.Path("o/pano_1000X149.raw")), 1000 * 149 * 3);
  }
  EXPECT_EQ(RunCommand("ls -A " + Quote(d.Path(""))), "o\npano_10050X1500.raw\n");
  Result small = Torvel({"resize", d.Path("pano_10050X1500.raw"), "--width", "100"});
  EXPECT_EQ(small.Status, 2);
  RunCommand("truncate -s " + std::to_string(9000LL * 9000 * 3) + " " + Quote(d.Path("s_9000X9000.raw")));
  Result r = Torvel({"resize", d.Path("s_9000X9000.raw"), "--width", "1000", "--out", d.Path("o")});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "Width and height of the input file must be > 10000\nOperation aborted\n");
}
