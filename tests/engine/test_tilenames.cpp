#include <gtest/gtest.h>

#include "engine/image.h"
#include "engine/rules.h"
#include "engine/tilenames.h"

using namespace torvel;

namespace {

struct NameCase {
  const char* name;
  const char* base;
  const char* ext;
  int w, h, x, y;
};

const NameCase cases[] = {
    {"/scans/pano.tif", "pano", "tif", 0, 0, 0, 0},
    {"/t/pano_1000X800_x3y2.tif", "pano", "tif", 1000, 800, 3, 2},
    {"/t/pano_1000X800_x3y2.big.tif", "pano", "big.tif", 1000, 800, 3, 2},
    {"/t/pano.BIG.TIF", "pano", "big.TIF", 0, 0, 0, 0},
    {"/t/pano_4000x3000.raw", "pano", "raw", 4000, 3000, 0, 0},
    {"/t/pano_X2Y5.tif", "pano", "tif", 0, 0, 2, 5},
    {"/t/IMG_2016.tif", "IMG_2016", "tif", 0, 0, 0, 0},
    {"/t/pano_2016_100X200.raw", "pano_2016", "raw", 100, 200, 0, 0},
    {"/t/pano_x12.tif", "pano_x12", "tif", 0, 0, 0, 0},
    {"/t/pano_x1y.tif", "pano_x1y", "tif", 0, 0, 1, 0},
    {"/t/pano_xAy2.tif", "pano_xAy2", "tif", 0, 0, 0, 2},
    {"/t/_100X200.raw", "", "raw", 0, 0, 0, 0},
    {"/t/pano_1000X800.raw", "pano", "raw", 1000, 800, 0, 0},
    {"/t/pano.raw", "pano", "raw", 0, 0, 0, 0},
    {"/t/pano_x1y1.raw", "pano", "raw", 0, 0, 1, 1},
    {"/t/noext", "noext", "", 0, 0, 0, 0},
    {"/set_x1y1/pano.tif", "set", "tif", 0, 0, 1, 0},
    {"/t/a.b/pano", "pano", "", 0, 0, 0, 0},
};

}  // namespace

TEST(TileNames, ReadersAgreeWithTheNameTable) {
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string base, ext;
    parseTileName(c.name, base, ext);
    EXPECT_EQ(base, c.base);
    EXPECT_EQ(ext, c.ext);
    EXPECT_EQ(tileBaseName(c.name), c.base);
    int32_t w = -1, h = -1, x = -1, y = -1;
    parseTileSize(c.name, w, h);
    EXPECT_EQ(w, c.w);
    EXPECT_EQ(h, c.h);
    parseTilePos(c.name, x, y);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
  }
}

TEST(TileNames, IndexFindsPositionAndExtensionOfTheFirstFile) {
  std::vector<std::string> files = {"/t/p_500X500_x2y2.raw", "/t/p_500X500_x11y1.raw", "/t/p_500X500_x1y11.raw",
                                    "/t/p_500X500_x1y1.RAW", "/t/p_500X500_x1y2.tif"};
  EXPECT_EQ(TileIndex(files).find(1, 1), "/t/p_500X500_x1y1.RAW");
  EXPECT_EQ(TileIndex(files).find(2, 2), "/t/p_500X500_x2y2.raw");
  EXPECT_EQ(TileIndex(files).find(11, 1), "/t/p_500X500_x11y1.raw");
  EXPECT_EQ(TileIndex(files).find(1, 2), "");  // another extension
  EXPECT_EQ(TileIndex(std::vector<std::string>{"/t/p_x2y2.raw"}).find(1, 1), "");
  EXPECT_EQ(TileIndex(std::vector<std::string>{}).find(1, 1), "");
  // A plain substring: _X1Y1.TIF also matches .tiff names.
  EXPECT_EQ(TileIndex(std::vector<std::string>{"/t/a_x1y1.tif", "/t/b_x1y1.tiff"}).find(1, 1), "/t/a_x1y1.tif");
  EXPECT_EQ(TileIndex(std::vector<std::string>{"/t/a_x2y1.tif", "/t/b_x1y1.tiff"}).find(1, 1), "/t/b_x1y1.tiff");
}

TEST(TileNames, extractTileXYFromTheEnd) {
  int32_t x = 7, y = 9;
  extractTileXY("name_X3Y12.tif", x, y);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 12);
  x = 7, y = 9;
  extractTileXY("plain.tif", x, y);  // no pattern: unchanged
  EXPECT_EQ(x, 7);
  EXPECT_EQ(y, 9);
  extractTileXY("p_1000X800_x2y3.tif", x, y);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 3);
  extractTileXY("a_xQy1.tif", x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 1);
}

TEST(TileNames, MergeGridFromSelectedNames) {
  MergeGrid g = mergeGridOf({"/d/a_X1Y1.tif", "/d/a_X2Y1.tif", "/d/a_X1Y2.tif", "/d/a_X2Y2.tif"});
  EXPECT_TRUE(g.ok);
  EXPECT_EQ(g.columns, 2);
  EXPECT_EQ(g.rows, 2);
  EXPECT_EQ(g.message, "4 files selected");
  g = mergeGridOf({"/d/a_X1Y1.tif", "/d/a_X2Y1.tif", "/d/a_X2Y2.tif"});
  EXPECT_FALSE(g.ok);
  EXPECT_EQ(g.message, "The number of selected files must be : 4");
  g = mergeGridOf({"/d/a.tif", "/d/b.tif"});
  EXPECT_EQ(g.message, "Can't merge the selected files");
  g = mergeGridOf({"/d/a_X1Y1.tif", "/d/a_X2Y1.raw"});
  EXPECT_EQ(g.message, "You can't select two different type of files");
  EXPECT_EQ(kindOfPath("/d/a.TIFF"), FileKind::Tiff);
  EXPECT_EQ(kindOfPath("/d/a.Rgb"), FileKind::Raw);
  EXPECT_EQ(kindOfPath("/d/a.JPG"), FileKind::Jpeg);
  EXPECT_EQ(kindOfPath("/d/a.psb"), FileKind::Psd);
  EXPECT_EQ(kindOfPath("/d/a.bmp"), FileKind::None);
  EXPECT_EQ(tileName("/d/p", 1000, 800, 2, 3), "/d/p_1000X800_x2y3");
  EXPECT_EQ(sizedName("/d/p", 40000, 25000), "/d/p_40000X25000");
}
