// The main window with a scratch folder for its settings and files, as the
// window tests drive it.
#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "testkit.h"
#include "ui/abortconfirmation.h"
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

// Runs `action` once, as soon as the progress panel shows during a run.
inline void whenRunning(QWidget* ctx, QWidget* progress, std::function<void()> action) {
  auto* t = new QTimer(ctx);
  t->setInterval(2);
  QObject::connect(t, &QTimer::timeout, ctx, [t, progress, action] {
    if (!progress->isVisible()) return;
    t->stop();
    t->deleteLater();
    action();
  });
  t->start();
}

// Starts the shown mode's run and aborts it as soon as its progress shows;
// the run ends before it is done.
inline void startAndAbort(Win& w) {
  ModalAnswerer a({[](QWidget* d) { qobject_cast<torvel::AbortConfirmation*>(d)->yesButton->click(); }});
  whenRunning(w.w.get(), w.ui.progressPanel, [&] {
    w.ui.pauseButton->click();
    QTimer::singleShot(20, [&] { w.ui.abortButton->click(); });
  });
  w.start();
  EXPECT_EQ(a.answered, 1);
  EXPECT_EQ(w.status(), "Operation aborted");
}

}  // namespace uikit
