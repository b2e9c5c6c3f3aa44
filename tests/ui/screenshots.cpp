// Writes a picture of the window in each mode, for reviewing the layout:
//   QT_QPA_PLATFORM=offscreen build/tests/ui_screenshots OUTDIR [INPUT]
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QFrame>
#include <QTimer>

#include "engine/torvel.h"
#include "ui/mainwindow.h"

int main(int argc, char** argv) {
  InstallTiffHandlers();
  QApplication app(argc, argv);
  if (argc < 2) return 2;
  const QString out = argv[1];
  QDir().mkpath(out);
  TFrmMain w(QDir::temp().filePath("torvel-screens.ini"));
  w.CheckForUpdatesTimer->stop();
  w.show();
  if (argc > 2) {
    w.ShowPanel(1);
    w.DropFiles({QString(argv[2])}, QPoint(200, 120));
  }
  const char* names[] = {"convert", "crop", "resize", "split", "merge", "about"};
  for (uint8_t m = 1; m <= 6; ++m) {
    w.ShowPanel(m);
    QApplication::processEvents();
    w.grab().save(out + "/" + names[m - 1] + ".png");
  }
  w.ShowPanel(1);
  w.ShowProgress(100, "Step 2/4");
  w.PBStatus->setValue(42);
  QApplication::processEvents();
  w.grab().save(out + "/progress.png");
  w.btPauseClick();
  QApplication::processEvents();
  w.grab().save(out + "/paused.png");
  return 0;
}
