#include <gtest/gtest.h>

#include <cstring>

#include "engine/utils.h"
#include "resize/image.h"
#include "resize/rawio.h"
#include "resize/worker.h"
#include "testkit.h"

using namespace testkit;

namespace {

// Runs a worker to the end on its own thread.
TRawResize& RunWorker(TRawResize& w, const std::string& file, long double divider, bool fast = true, int bits = 8) {
  w.Init(file, divider, fast, bits);
  w.Start();
  while (!w.Finished()) std::this_thread::yield();
  return w;
}

}  // namespace

TEST(Worker, NamesCarryTheNewSizeAndPosition) {
  TScratch d;
  struct Case {
    const char* Src;
    long double Divider;
    const char* Out;
    int W, H;
  } cases[] = {
      {"pano_1000X800_x3y2.raw", 2, "pano_500X400_x3y2.raw", 1000, 800},
      {"pano_100X100_x3y2.raw", 10, "pano_10X10_x3y2.raw", 100, 100},
      {"pano_100X94_x1y4.raw", 6, "pano_17X16_x1y4.raw", 100, 94},
      {"pano_1000X500.raw", 2.0004L, "pano_500X250.raw", 1000, 500},
      {"scan_200X100.RAW", 1.25L, "scan_160X80.RAW", 200, 100},
      {"half_1000X8.raw", 80, "half_12X0.raw", 1000, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Src);
    WriteRaw(d.Path(c.Src), MakePixels(c.W, c.H, 8, 3));
    TRawResize w;
    RunWorker(w, d.Path(c.Src), c.Divider);
    if (std::string(c.Src).rfind("half", 0) == 0) {
      EXPECT_TRUE(w.Error);  // 8 / 80 rounds to 0
      EXPECT_EQ(w.OutFileName, "");
      continue;
    }
    EXPECT_FALSE(w.Error);
    EXPECT_EQ(w.OutFileName, d.Path(c.Out));
    EXPECT_GT(GetFileSize64(d.Path(c.Out)), 0);
  }
}

TEST(Worker, HalfwayNewSizesGoToEven) {
  TScratch d;
  WriteRaw(d.Path("a_1000X80.raw"), MakePixels(1000, 80, 8, 3));
  WriteRaw(d.Path("b_1080X80.raw"), MakePixels(1080, 80, 8, 3));
  TRawResize a, b;
  RunWorker(a, d.Path("a_1000X80.raw"), 80);
  RunWorker(b, d.Path("b_1080X80.raw"), 80);
  EXPECT_EQ(a.OutFileName, d.Path("a_12X1.raw"));  // 12.5
  EXPECT_EQ(b.OutFileName, d.Path("b_14X1.raw"));  // 13.5
}

TEST(Worker, MissingSizeMissingFileAndShortFile) {
  TScratch d;
  WriteRaw(d.Path("pano.raw"), MakePixels(10, 10, 8, 3));
  TRawResize noSize;
  RunWorker(noSize, d.Path("pano.raw"), 2);
  EXPECT_FALSE(noSize.Error);
  EXPECT_EQ(noSize.OutFileName, "");
  EXPECT_EQ(RunCommand("ls " + Quote(d.Dir())), "pano.raw\n");

  TRawResize missing;
  RunWorker(missing, d.Path("gone_10X10.raw"), 2);
  EXPECT_TRUE(missing.Error);
  EXPECT_EQ(missing.OutFileName, "");

  // Half the rows: the lower part of the result is black.
  std::string full = RawBytes(MakePixels(100, 100, 8, 3, 3));
  WriteFile(d.Path("short_100X100.raw"), full.substr(0, 15000));
  TRawResize shortFile;
  RunWorker(shortFile, d.Path("short_100X100.raw"), 2);
  ASSERT_FALSE(shortFile.Error);
  std::string out = ReadFile(shortFile.OutFileName);
  ASSERT_EQ(out.size(), 50u * 50 * 3);
  EXPECT_EQ(out.substr(30 * 150), std::string(20 * 150, '\0'));
}

TEST(Worker, SixteenBitTilesStaySixteenBit) {
  TScratch d;
  TPixels px = MakePixels(40, 20, 16, 3);
  WriteRaw(d.Path("t_40X20_x1y1.raw"), px);
  TRawResize w;
  RunWorker(w, d.Path("t_40X20_x1y1.raw"), 2, false, 16);
  ASSERT_FALSE(w.Error);
  EXPECT_EQ(w.OutFileName, d.Path("t_20X10_x1y1.raw"));
  EXPECT_EQ(GetFileSize64(w.OutFileName), 20 * 10 * 6);
}

TEST(RawImage, WriteAndReadBackExactBytes) {
  TScratch d;
  TImageHolder img;
  AllocImage(2, 2, ifR8G8B8, img.Image);
  for (int i = 0; i < 12; ++i) img.Image.Bits[i] = static_cast<uint8_t>(i + 1);
  WriteFile(d.Path("x.raw"), std::string(100, 'z'));  // longer file gets replaced whole
  WriteRawImage(d.Path("x.raw"), img.Image, 0, 0);
  EXPECT_EQ(ReadFile(d.Path("x.raw")), std::string("\1\2\3\4\5\6\7\10\11\12\13\14", 12));
  TImageHolder back;
  ReadRawImage(d.Path("x.raw"), 2, 2, ifR8G8B8, back.Image, 0, 0);
  EXPECT_EQ(std::memcmp(back.Image.Bits, img.Image.Bits, 12), 0);
  EXPECT_THROW(ReadRawImage("", 2, 2, ifR8G8B8, back.Image, 0, 0), EImagingError);
  EXPECT_THROW(ReadRawImage(d.Path("none.raw"), 2, 2, ifR8G8B8, back.Image, 0, 0), EInOutError);
  EXPECT_THROW(AllocImage(0, 5, ifR8G8B8, back.Image), EImagingError);
  EXPECT_THROW(AllocImage(5, 5, 12345, back.Image), EImagingError);
}

TEST(RawImage, ReleaseOfEmptyAndInconsistentRecords) {
  TImageData empty;
  ReleaseImage(empty);
  EXPECT_EQ(empty.Bits, nullptr);
  TImageData odd;
  AllocImage(4, 4, ifR8G8B8, odd);
  uint8_t* bits = odd.Bits;
  odd.Size = 7;  // no longer valid: nothing freed, record emptied
  ReleaseImage(odd);
  EXPECT_EQ(odd.Bits, nullptr);
  bits[47] = 1;  // still ours: it was not freed
  TImageData again{4, 4, ifR8G8B8, 48, bits};
  ReleaseImage(again);
}

namespace {
// A file that counts the block writes reaching it.
class TCountingFile : public TFileStream {
 public:
  std::string Data;
  std::vector<int64_t> Writes;
  int64_t Pos = 0;
  bool SetPosition(int64_t p) override {
    Pos = p;
    return true;
  }
  int64_t Position() override { return Pos; }
  int64_t Read(void* buf, int64_t n) override {
    int64_t k = std::max<int64_t>(0, std::min<int64_t>(n, int64_t(Data.size()) - Pos));
    std::memcpy(buf, Data.data() + Pos, size_t(k));
    Pos += k;
    return k;
  }
  int64_t Write(const void* buf, int64_t n) override {
    Writes.push_back(n);
    if (int64_t(Data.size()) < Pos + n) Data.resize(size_t(Pos + n));
    std::memcpy(Data.data() + Pos, buf, size_t(n));
    Pos += n;
    return n;
  }
  int64_t Size() override { return int64_t(Data.size()); }
};
}  // namespace

TEST(BufferedStream, BlocksReachTheFileWhenFull) {
  std::string bytes(16385, 'q');
  TCountingFile f;
  {
    TBufferedStream s(&f);
    s.Write(bytes.data(), 16384);
    EXPECT_EQ(f.Writes, std::vector<int64_t>{16384});  // at once, as soon as full
    s.Write(bytes.data(), 1);
    EXPECT_EQ(f.Writes.size(), 1u);
    s.Commit();
  }
  EXPECT_EQ(f.Writes, (std::vector<int64_t>{16384, 1}));
  EXPECT_EQ(f.Data.size(), 16385u);

  // A write in the middle keeps the bytes of the block it does not cover.
  TCountingFile g;
  g.Data = std::string(20000, 'a');
  {
    TBufferedStream s(&g);
    s.Seek(100, smFromBeginning);
    s.Write("XYZ", 3);
    s.Commit();
    EXPECT_EQ(s.Size(), 20000);
    char back[5];
    s.Seek(99, smFromBeginning);
    EXPECT_EQ(s.Read(back, 5), 5);
    EXPECT_EQ(std::string(back, 5), "aXYZa");
    s.Seek(-2, smFromEnd);
    EXPECT_EQ(s.Read(back, 5), 2);  // cut at the end
  }
  EXPECT_EQ(g.Data.substr(98, 7), "aaXYZaa");
  EXPECT_EQ(g.Data.size(), 20000u);
}
