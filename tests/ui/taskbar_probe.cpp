// Sends launcher-entry progress the way a run does, for the D-Bus test.
#include <QCoreApplication>
#include <chrono>
#include <thread>

#include "ui/taskbar.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  TTaskbarProgress bar("torvel-tools");
  bar.SetProgressState(TTaskbarProgress::tsNormal);
  bar.SetProgressValue(50, 100);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  bar.SetProgressState(TTaskbarProgress::tsNone);
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  return 0;
}
