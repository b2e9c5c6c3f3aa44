// The main window with a scratch folder for its settings and files, as the
// window tests drive it.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTimer>
#include <memory>
#include <string>

#include "testkit.h"
#include "ui/mainwindow.h"
#include "uikit.h"

namespace uikit {

struct Win {
  testkit::Scratch dir;
  std::unique_ptr<torvel::MainWindow> w;
  Parts ui;
  Win() : w(std::make_unique<torvel::MainWindow>(QString::fromStdString(dir.path("settings.ini")))), ui(w.get()) {
    w->updateTimer()->stop();  // no network in these tests
  }
  // Chooses a single input as a drop on the input panel does.
  void choose(const std::string& path) { w->dropFiles({QString::fromStdString(path)}, QPoint(200, 120)); }
  std::string status() const { return ui.statusBar->currentMessage().toStdString(); }
  // Presses Start and waits for the run to end.
  void start() {
    w->start();
    ASSERT_TRUE(waitFor([&] { return !w->busy(); }, 60000));
  }
};

inline QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace uikit
