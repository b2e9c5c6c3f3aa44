// torvel-tools: the window.
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <curl/curl.h>

#include "engine/torvel.h"
#include "settings/setup.h"
#include "ui/mainwindow.h"

int main(int argc, char** argv) {
  InstallTiffHandlers();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  QApplication app(argc, argv);
  QApplication::setApplicationName("Torvel Tools");
  QApplication::setApplicationDisplayName("Torvel Tools");
  QGuiApplication::setDesktopFileName("torvel-tools");
  QApplication::setWindowIcon(QIcon(":/torvel-tools.png"));
  const QString exe = QCoreApplication::applicationFilePath();
  TFrmMain w(QString::fromStdString(SettingsPath(exe.toStdString())));
  w.lbAboutInfo->setText(w.windowTitle());
  w.show();
  return app.exec();
}
