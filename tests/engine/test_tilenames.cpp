#include <gtest/gtest.h>

#include "engine/setup.h"
#include "engine/tilenames.h"

namespace {

struct NameCase {
  const char* Name;
  const char* Base;
  const char* Ext;
  int W, H, X, Y;
};

const NameCase Cases[] = {
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
  for (const NameCase& c : Cases) {
    SCOPED_TRACE(c.Name);
    std::string base, ext;
    ParseTileName(c.Name, base, ext);
    EXPECT_EQ(base, c.Base);
    EXPECT_EQ(ext, c.Ext);
    EXPECT_EQ(TileBaseName(c.Name), c.Base);
    int32_t w = -1, h = -1, x = -1, y = -1;
    ParseTileSize(c.Name, w, h);
    EXPECT_EQ(w, c.W);
    EXPECT_EQ(h, c.H);
    ParseTilePos(c.Name, x, y);
    EXPECT_EQ(x, c.X);
    EXPECT_EQ(y, c.Y);
  }
}

TEST(TileNames, FindTileMatchesPositionAndExtensionOfTheFirstFile) {
  std::vector<std::string> files = {"/t/p_500X500_x2y2.raw", "/t/p_500X500_x11y1.raw", "/t/p_500X500_x1y11.raw",
                                    "/t/p_500X500_x1y1.RAW", "/t/p_500X500_x1y2.tif"};
  EXPECT_EQ(FindTile(files, 1, 1), "/t/p_500X500_x1y1.RAW");
  EXPECT_EQ(FindTile(files, 2, 2), "/t/p_500X500_x2y2.raw");
  EXPECT_EQ(FindTile(files, 11, 1), "/t/p_500X500_x11y1.raw");
  EXPECT_EQ(FindTile(files, 1, 2), "");  // another extension
  EXPECT_EQ(FindTile({"/t/p_x2y2.raw"}, 1, 1), "");
  EXPECT_EQ(FindTile({}, 1, 1), "");
  // A plain substring: _X1Y1.TIF also matches .tiff names.
  EXPECT_EQ(FindTile({"/t/a_x1y1.tif", "/t/b_x1y1.tiff"}, 1, 1), "/t/a_x1y1.tif");
  EXPECT_EQ(FindTile({"/t/a_x2y1.tif", "/t/b_x1y1.tiff"}, 1, 1), "/t/b_x1y1.tiff");
}

TEST(TileNames, ExtractTileXYFromTheEnd) {
  int32_t x = 7, y = 9;
  ExtractTileXY("name_X3Y12.tif", x, y);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 12);
  x = 7, y = 9;
  ExtractTileXY("plain.tif", x, y);  // no pattern: unchanged
  EXPECT_EQ(x, 7);
  EXPECT_EQ(y, 9);
  ExtractTileXY("p_1000X800_x2y3.tif", x, y);
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 3);
  ExtractTileXY("a_xQy1.tif", x, y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 1);
}

TEST(TileNames, MergeGridFromSelectedNames) {
  TMergeGrid g = DeriveMergeGrid({"/d/a_X1Y1.tif", "/d/a_X2Y1.tif", "/d/a_X1Y2.tif", "/d/a_X2Y2.tif"});
  EXPECT_TRUE(g.Ok);
  EXPECT_EQ(g.Cols, 2);
  EXPECT_EQ(g.Rows, 2);
  EXPECT_EQ(g.Message, "4 files selected");
  g = DeriveMergeGrid({"/d/a_X1Y1.tif", "/d/a_X2Y1.tif", "/d/a_X2Y2.tif"});
  EXPECT_FALSE(g.Ok);
  EXPECT_EQ(g.Message, "The number of selected files must be : 4");
  g = DeriveMergeGrid({"/d/a.tif", "/d/b.tif"});
  EXPECT_EQ(g.Message, "Can't merge the selected files");
  g = DeriveMergeGrid({"/d/a_X1Y1.tif", "/d/a_X2Y1.raw"});
  EXPECT_EQ(g.Message, "You can't select two different type of files");
  EXPECT_TRUE(IsSupportedExt(".TIFF"));
  EXPECT_FALSE(IsSupportedExt(".tif"));  // callers upper-case first
  EXPECT_FALSE(IsSupportedExt(".JPG"));
}
