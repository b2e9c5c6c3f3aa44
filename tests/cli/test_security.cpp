// Inputs that lie or block, seen from the command line: a decompression
// bomb, FIFOs, KRO headers that promise more than the file holds; the
// preview's leftovers, and a closed stderr.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include "clikit.h"
#include "engine/files.h"
#include "testkit.h"

using namespace clikit;
using namespace testkit;
using namespace torvel;

namespace {

// A 16 × 16 planar RGB TIFF whose Deflate tiles are declared 75,000,000 × 16
// pixels: each plane's tile inflates to 300 MB of a 1.2 GB buffer.
void writeBomb(const std::string& path) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 16u);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 16u);
  TIFFSetField(t, TIFFTAG_TILEWIDTH, 75000000u);
  TIFFSetField(t, TIFFTAG_TILELENGTH, 16u);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_SEPARATE));
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
  TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE));
  std::string plane = deflatedZeros(size_t{300} << 20);
  for (uint32_t tile = 0; tile < 3; ++tile)
    ASSERT_EQ(TIFFWriteRawTile(t, tile, plane.data(), tmsize_t(plane.size())), tmsize_t(plane.size()));
  TIFFClose(t);
}

}  // namespace

// Tiles declared far larger than the image are refused at the probe, with
// the reason, before a byte of them is decoded.
TEST(CliSecurity, DecompressionBombIsRefusedAtTheProbe) {
  Scratch d;
  writeBomb(d.path("bomb.tif"));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"convert", d.path("bomb.tif"), "--out", d.dir()},
        std::vector<std::string>{"preview", d.path("bomb.tif"), "--width", "16", "--out", d.path("p.png")}}) {
    const Result r = runTorvel(args);
    EXPECT_EQ(r.status, 1) << args[0];
    EXPECT_NE(r.err.find("The tiles of this TIFF are too large: one takes 1144 MB once decoded"), std::string::npos)
        << r.err;
    EXPECT_LT(r.peakKb, 64 * 1024) << args[0];
  }
  EXPECT_EQ(runCommand("ls " + quote(d.dir())), "bomb.tif\n");
}

// A FIFO named like an image is refused as what it is, at once: opening it
// must not wait for a writer.
TEST(CliSecurity, FifoInputsAreRefusedWithoutBlocking) {
  Scratch d;
  for (const char* name : {"pipe.tif", "pipe.kro", "pipe_4X4.raw"}) {
    ASSERT_EQ(::mkfifo(d.path(name).c_str(), 0644), 0);
    for (const char* command : {"info", "convert", "preview"}) {
      SCOPED_TRACE(std::string(command) + " " + name);
      std::string line = "timeout 10 " + std::string(TORVEL_EXE) + " " + command + " " + quote(d.path(name));
      if (std::string(command) == "preview") line += " --width 8 --out " + quote(d.path("p.png"));
      int status = -1;
      const std::string err = runCommand(line + " 2>&1 >/dev/null", &status);
      EXPECT_EQ(status, 1) << err;  // 124 when it hung
      EXPECT_NE(err.find(d.path(name) + ": it is not a regular file"), std::string::npos) << err;
    }
  }
}

// KRO headers that claim more pixels than the file holds: refused at the
// probe with the reason, before anything is sized after them.
TEST(CliSecurity, KroHeadersThatLieAboutTheSize) {
  Scratch d;
  auto header = [](uint32_t side) {
    std::string h = "KRO\x01";
    for (uint32_t v : {side, side, 16u, 4u})
      for (int shift = 24; shift >= 0; shift -= 8) h.push_back(static_cast<char>(v >> shift));
    return h;
  };
  writeFile(d.path("huge.kro"), header(300000));
  writeFile(d.path("large.kro"), header(30000) + std::string(1000, '\0'));
  for (const auto& [name, width] : {std::pair{"huge.kro", "300000"}, {"large.kro", "30000"}}) {
    const Result r = runTorvel({"preview", d.path(name), "--width", width, "--out", d.path("p.png")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("The KRO file is truncated: its header promises"), std::string::npos) << r.err;
    EXPECT_LT(r.peakKb, 64 * 1024) << name;
  }
}

// The preview clears what dead runs left in its folder, as every output
// does; a closed stderr does not end a run.
TEST(CliSecurity, PreviewClearsLeftoversAndAClosedStderrIsNoStop) {
  Scratch d;
  writeRaw(d.path("a_40X30.raw"), makePixels(40, 30, 8, 3));
  writeFile(d.path(".p.png.torvel-99999.part"), "left by a killed run");
  const Result r = runTorvel({"preview", d.path("a_40X30.raw"), "--width", "20", "--out", d.path("p.png")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(runCommand("ls -A " + quote(d.dir())), "a_40X30.raw\np.png\n");

  // More status lines than a pipe holds: torvel writes on after head has gone.
  writeRaw(d.path("b_40X5000.raw"), makePixels(40, 5000, 8, 3));
  const std::string piped = runCommand("bash -c '" + std::string(TORVEL_EXE) + " convert " + d.path("b_40X5000.raw") +
                                       " --verbose 2>&1 | head -c 1 >/dev/null; echo ${PIPESTATUS[0]}'");
  EXPECT_EQ(piped, "0\n");
  EXPECT_TRUE(fileExists(d.path("b.tif")));
}
