// The preview picture: the nearest pixel to each picture pixel's centre,
// from every kind of input.
#include <gtest/gtest.h>

#include "engine/preview.h"
#include "engine/reader.h"
#include "testkit.h"

using namespace testkit;
using namespace torvel;

namespace {

// The picture computed here from the pixels: nearest to each centre, 8 bits.
std::vector<uint8_t> expectedPicture(const Pixels& px, uint32_t w, uint32_t h) {
  std::vector<uint8_t> out;
  for (uint32_t y = 0; y < h; ++y) {
    const uint32_t sy = static_cast<uint32_t>((y + 0.5) * px.height / h);
    for (uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        const uint16_t v = px.at(static_cast<uint32_t>((x + 0.5) * px.width / w), sy, c);
        out.push_back(static_cast<uint8_t>(px.bits == 16 ? v >> 8 : v));
      }
  }
  return out;
}

}  // namespace

TEST(Preview, NearestPixelsOfEveryKind) {
  Scratch d;
  const Pixels rgb8 = makePixels(301, 203, 8, 3, 1), rgba16 = makePixels(301, 203, 16, 4, 2);
  writeRaw(d.path("a_301X203.raw"), rgb8);
  writeTiff(d.path("b.tif"), rgba16, false, 5, 7);
  writeKro(d.path("c.kro"), rgba16);
  TiffRecipe tiled{2, 5, 2, 32, 48};
  writeTiffLayout(d.path("d.tif"), rgb8, tiled);
  for (auto [name, px] : {std::pair{"a_301X203.raw", rgb8}, {"b.tif", rgba16}, {"c.kro", rgba16}, {"d.tif", rgb8}}) {
    SCOPED_TRACE(name);
    const ImageInfo image = probeImage(d.path(name));
    ASSERT_TRUE(image.accepted);
    PreviewPicture picture;
    ASSERT_TRUE(makePreview(image, 100, 100, RunContext(), picture).completed());
    EXPECT_EQ(picture.width, 100u);
    EXPECT_EQ(picture.height, 67u);  // 203 × 100 / 301, rounded
    EXPECT_TRUE(picture.rgb == expectedPicture(px, 100, 67));
  }
  // Never enlarged; never below one pixel.
  uint32_t w = 0, h = 0;
  previewSize(301, 203, 1000, 1000, w, h);
  EXPECT_EQ(w * 1000 + h, 301203u);
  previewSize(100000, 10, 500, 500, w, h);
  EXPECT_EQ(w * 1000 + h, 500001u);
}

TEST(Preview, CancelAndReadFailureAreNoPicture) {
  Scratch d;
  writeRaw(d.path("a_40X30.raw"), makePixels(40, 30, 8, 3));
  ImageInfo image = probeImage(d.path("a_40X30.raw"));
  std::stop_source stop;
  stop.request_stop();
  PreviewPicture picture;
  EXPECT_EQ(makePreview(image, 10, 10, RunContext(nullptr, stop.get_token()), picture).outcome,
            Outcome::Cancelled);
  ::truncate(d.path("a_40X30.raw").c_str(), 40 * 3 * 10);
  const RunResult cut = makePreview(image, 40, 30, RunContext(), picture);
  EXPECT_EQ(cut.outcome, Outcome::Failed);
  EXPECT_EQ(cut.message, "Read file error: row 10: the file ends before the row does");
}
