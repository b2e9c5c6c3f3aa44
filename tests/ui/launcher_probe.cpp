// Sends launcher-entry progress the way a run does, for the D-Bus test.
#include <QCoreApplication>
#include <chrono>
#include <thread>

#include "ui/launcherprogress.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  torvel::LauncherProgress bar("torvel-tools");
  bar.setState(torvel::LauncherProgress::State::Normal);
  bar.setValue(50, 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  bar.setState(torvel::LauncherProgress::State::None);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  return 0;
}
