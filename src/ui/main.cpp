// torvel-tools: the window.
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <curl/curl.h>

#include "engine/tifffile.h"
#include "settings/settingsfile.h"
#include "ui/mainwindow.h"

int main(int argc, char** argv) {
  torvel::installTiffHandlers();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  QApplication app(argc, argv);
  QApplication::setApplicationName("Torvel Tools");
  // No display name: the platform would append it to every window's caption.
  QGuiApplication::setDesktopFileName("torvel-tools");
  QApplication::setWindowIcon(QIcon(":/torvel-tools.png"));
  const QString exe = QCoreApplication::applicationFilePath();
  torvel::MainWindow w(QString::fromStdString(torvel::settingsPath(exe.toStdString())));
  w.show();
  // Files from the desktop entry's %F, once the window is up for any question.
  const QStringList files = QCoreApplication::arguments().mid(1);
  QTimer::singleShot(0, &w, [&w, files] { w.openFiles(files); });
  return app.exec();
}
