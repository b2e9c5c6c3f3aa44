// Writes a picture of the window in each mode, and with an INPUT of the
// preview in Crop, Split and Resize mode, for reviewing the layout:
//   QT_QPA_PLATFORM=offscreen build/tests/ui_screenshots OUTDIR [INPUT]
// (scripts/screenshots.sh runs it under Xvfb, also at a scale factor of 2).
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QTimer>

#include <QSpinBox>

#include "engine/tifffile.h"
#include "ui/mainwindow.h"
#include "ui/outputoptionsdialog.h"
#include "ui/pyramidchoice.h"
#include "ui/previewwindow.h"
#include "ui/rawsizedialog.h"
#include "uikit.h"

namespace {

// The preview in the modes that draw on it: a crop of the middle, a grid of
// about five by four tiles, a resize to a tenth.
void previewShots(torvel::MainWindow& w, const QString& out) {
  using torvel::Mode;
  uikit::Parts ui(&w);
  const int width = static_cast<int>(w.input().width), height = static_cast<int>(w.input().height);
  w.showMode(Mode::Crop);
  w.showPreview();
  torvel::PreviewWindow* preview = w.preview();
  preview->resize(800, 600);
  while (preview->loading()) QApplication::processEvents();
  ui.cropX->setValue(width / 4);
  ui.cropY->setValue(height / 4);
  ui.cropWidth->setValue(width / 2);
  ui.cropHeight->setValue(height / 3);
  QApplication::processEvents();
  preview->grab().save(out + "/preview-crop.png");
  w.showMode(Mode::Split);
  ui.splitTileWidth->setValue(width / 5 + 1);
  ui.splitTileHeight->setValue(height / 4 + 1);
  QApplication::processEvents();
  preview->grab().save(out + "/preview-split.png");
  w.showMode(Mode::Resize);
  ui.resizeWidth->setValue(std::max(512, width / 10));
  QApplication::processEvents();
  preview->grab().save(out + "/preview-resize.png");
  preview->close();
}

}  // namespace

int main(int argc, char** argv) {
  using torvel::Mode;
  torvel::installTiffHandlers();
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  const QString out = argv[1];
  QDir().mkpath(out);
  torvel::MainWindow w(QDir::temp().filePath("torvel-screens.ini"));
  w.updateTimer()->stop();
  w.show();
  if (argc > 2) {
    w.showMode(Mode::Convert);
    w.dropFiles({QString(argv[2])}, QPoint(200, 120));
  }
  const std::pair<Mode, const char*> modes[] = {{Mode::Convert, "convert"}, {Mode::Crop, "crop"},
                                                {Mode::Resize, "resize"},   {Mode::Split, "split"},
                                                {Mode::Merge, "merge"},     {Mode::About, "about"}};
  if (argc > 2) previewShots(w, out);  // first: the Merge mode's list takes the place of the input
  for (const auto& [mode, name] : modes) {
    w.showMode(mode);
    QApplication::processEvents();
    w.grab().save(out + "/" + name + ".png");
  }
  w.showMode(Mode::Convert);
  emit w.runController().progressStarted(100, "Step 2/4: resizing tiles");
  emit w.runController().progressChanged(42);
  emit w.runController().captionChanged("Step 2/4: resizing tile 3 of 8");
  QApplication::processEvents();
  w.grab().save(out + "/progress.png");
  w.togglePause();
  QApplication::processEvents();
  w.grab().save(out + "/paused.png");
  w.togglePause();
  emit w.runController().progressEnded();
  // The RAW size dialog, and the one question for a run's existing outputs.
  torvel::RawSizeDialog raw(&w);
  raw.prepare(qint64{6000} * 4000 * 3, 0, 0);
  raw.show();
  QApplication::processEvents();
  raw.grab().save(out + "/raw-size.png");
  raw.close();
  QTimer::singleShot(200, [out] {
    QWidget* question = QApplication::activeModalWidget();
    if (!question) return;
    question->grab().save(out + "/overwrite.png");
    question->close();
  });
  QStringList tiles;
  for (int i = 1; i <= 12; ++i) tiles << QString("/home/me/tiles/pano_1000X800_x%1y1.tif").arg(i);
  w.askReplace(tiles);
  // The options of the formats that have the most and the fewest.
  for (const char* name : {"tif", "jpg", "png"}) {
    torvel::OutputOptionsDialog options(*torvel::outputKindNamed(name), torvel::outputKindNamed(name)->format, &w);
    options.show();
    QApplication::processEvents();
    options.grab().save(out + "/options-" + name + ".png");
  }
  torvel::PyramidSettingsDialog pyramid(torvel::PyramidSettings{}, &w);
  pyramid.show();
  QApplication::processEvents();
  pyramid.grab().save(out + "/options-pyramid.png");
  return 0;
}
