// Writes a picture of the window in each mode, for reviewing the layout:
//   QT_QPA_PLATFORM=offscreen build/tests/ui_screenshots OUTDIR [INPUT]
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QTimer>

#include "engine/tiffio.h"
#include "ui/mainwindow.h"

int main(int argc, char** argv) {
  using torvel::Mode;
  torvel::installTiffHandlers();
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  const QString out = argv[1];
  QDir().mkpath(out);
  torvel::MainWindow w(QDir::temp().filePath("torvel-screens.ini"));
  w.updateTimer->stop();
  w.show();
  if (argc > 2) {
    w.showMode(Mode::Convert);
    w.dropFiles({QString(argv[2])}, QPoint(200, 120));
  }
  const std::pair<Mode, const char*> modes[] = {{Mode::Convert, "convert"}, {Mode::Crop, "crop"},
                                                {Mode::Resize, "resize"},   {Mode::Split, "split"},
                                                {Mode::Merge, "merge"},     {Mode::About, "about"}};
  for (const auto& [mode, name] : modes) {
    w.showMode(mode);
    QApplication::processEvents();
    w.grab().save(out + "/" + name + ".png");
  }
  w.showMode(Mode::Convert);
  emit w.runController().progressStarted(100, "Step 2/4");
  emit w.runController().progressChanged(42);
  QApplication::processEvents();
  w.grab().save(out + "/progress.png");
  w.togglePause();
  QApplication::processEvents();
  w.grab().save(out + "/paused.png");
  return 0;
}
