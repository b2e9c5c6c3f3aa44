// The preview window: its picture, and the crop rectangle that the mouse and
// the fields move together.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QElapsedTimer>
#include <QTest>

#include "engine/preview.h"
#include "engine/reader.h"
#include "testkit.h"
#include "ui/mainwindow.h"
#include "ui/previewwindow.h"
#include "uikit.h"

using namespace testkit;
using namespace torvel;

namespace {

struct Previewed {
  Scratch dir;
  MainWindow w{QString::fromStdString(dir.path("settings.ini"))};
  uikit::Parts ui{&w};
  PreviewWindow* preview = nullptr;
  explicit Previewed(Mode mode) {
    w.updateTimer()->stop();
    writeRaw(dir.path("p_400X300.raw"), makePixels(400, 300, 8, 3, 9));
    w.showMode(mode);
    w.dropFiles({QString::fromStdString(dir.path("p_400X300.raw"))}, QPoint(200, 120));
    EXPECT_TRUE(ui.previewButton->isEnabled());
    ui.previewButton->click();
    preview = w.preview();
    preview->resize(600, 500);
    EXPECT_TRUE(uikit::waitFor([&] { return !preview->loading(); }));
    QApplication::processEvents();
  }
  PreviewCanvas& canvas() { return *preview->canvas; }
  // A point of the image in the canvas's pixels.
  QPoint at(double x, double y) {
    const QRectF a = canvas().pictureArea();
    return QPointF(a.left() + x * a.width() / 400, a.top() + y * a.height() / 300).toPoint();
  }
};

}  // namespace

TEST(Preview, PictureIsTheNearestDownsample) {
  Previewed p(Mode::Convert);
  PreviewPicture want;
  ASSERT_TRUE(makePreview(p.w.input(), 1600, 1200, RunContext(), want).completed());
  const QImage& shown = p.canvas().picture();
  ASSERT_EQ(shown.width(), 400);  // never enlarged
  ASSERT_EQ(shown.height(), 300);
  bool same = true;
  for (int y = 0; y < shown.height(); ++y)
    same = same && std::equal(want.rgb.begin() + y * 1200, want.rgb.begin() + (y + 1) * 1200, shown.constScanLine(y));
  EXPECT_TRUE(same);
  EXPECT_FALSE(p.preview->progress->isVisible());
  EXPECT_EQ(p.preview->caption->text(), "400 × 300");
}

TEST(Preview, CropRectangleAndFieldsFollowEachOther) {
  Previewed p(Mode::Crop);
  p.ui.cropX->setValue(100);
  p.ui.cropY->setValue(50);
  p.ui.cropWidth->setValue(200);
  p.ui.cropHeight->setValue(100);
  // The fields place the rectangle.
  QRectF r = p.canvas().cropArea();
  EXPECT_NEAR(r.left(), p.at(100, 50).x(), 1.0);
  EXPECT_NEAR(r.width(), p.at(300, 50).x() - p.at(100, 50).x(), 1.0);
  // Dragged from inside by 40 x 30 image pixels: moved whole.
  QTest::mousePress(&p.canvas(), Qt::LeftButton, {}, p.at(200, 100));
  QTest::mouseMove(&p.canvas(), p.at(240, 130));
  QTest::mouseRelease(&p.canvas(), Qt::LeftButton, {}, p.at(240, 130));
  EXPECT_NEAR(p.ui.cropX->value(), 140, 1);
  EXPECT_NEAR(p.ui.cropY->value(), 80, 1);
  EXPECT_EQ(p.ui.cropWidth->value(), 200);
  EXPECT_EQ(p.ui.cropHeight->value(), 100);
  // Its right edge pulled out to the image's edge and beyond: kept inside.
  QTest::mousePress(&p.canvas(), Qt::LeftButton, {}, p.at(340, 130));
  QTest::mouseMove(&p.canvas(), p.at(450, 130));
  QTest::mouseRelease(&p.canvas(), Qt::LeftButton, {}, p.at(450, 130));
  EXPECT_EQ(p.ui.cropX->value() + p.ui.cropWidth->value(), 400);
  // Typing moves the rectangle.
  p.ui.cropY->setValue(10);
  r = p.canvas().cropArea();
  EXPECT_NEAR(r.top(), p.at(0, 10).y(), 1.0);
  EXPECT_NE(p.preview->caption->text().indexOf("at " + QString::number(p.ui.cropX->value()) + ", 10"), -1);
}

// Cancel while a band of large tiles decodes (two tiles of 16384 × 4096 on
// two threads): the window is back at once, the load ends after its current
// tile and reports, and a new load can start meanwhile.
TEST(Preview, CancelMidBandNeverWaitsForTheBand) {
  Scratch dir;
  writeZeroTiles(dir.path("slow.tif"), 32768, 4096, 16384, 4096);
  MainWindow w(QString::fromStdString(dir.path("settings.ini")));
  uikit::Parts ui(&w);
  w.updateTimer()->stop();
  w.showMode(Mode::Convert);
  w.dropFiles({QString::fromStdString(dir.path("slow.tif"))}, QPoint(200, 120));
  ASSERT_TRUE(w.input().accepted);
  ui.previewButton->click();
  PreviewWindow* p = w.preview();
  QTest::qWait(40);  // the worker is inside the band by now
  ASSERT_TRUE(p->loading());
  QElapsedTimer clock;
  clock.start();
  p->cancelButton->click();
  EXPECT_LT(clock.elapsed(), 100);
  EXPECT_FALSE(p->loading());
  clock.restart();
  p->load(w.input());  // a new load while the cancelled one still decodes
  p->cancelButton->click();
  EXPECT_LT(clock.elapsed(), 100);
  EXPECT_EQ(p->caption->text(), "Operation aborted");
}

TEST(Preview, SplitAndResizeCaptionsAndCancel) {
  Previewed p(Mode::Split);
  p.ui.splitTileWidth->setValue(300);
  p.ui.splitTileHeight->setValue(256);  // the partial last column and row counted
  EXPECT_EQ(p.preview->caption->text(), "400 × 300, tiles 300 × 256 in 2 columns and 2 rows");
  p.w.showMode(Mode::Resize);
  EXPECT_NE(p.preview->caption->text().indexOf(", resized to "), -1);
  // A load cancelled at once shows no picture and says so.
  p.preview->load(p.w.input());
  p.preview->cancelButton->click();
  EXPECT_FALSE(p.preview->loading());
  EXPECT_TRUE(p.canvas().picture().isNull() || p.canvas().picture().width() == 400);
}
