// Helpers for window tests: answering modal boxes from timers so no test can
// hang, and waiting for conditions while events run.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace uikit {

// Answers the next modal widgets, one action each, as they appear; texts of
// message boxes are recorded. A box that no action is left for is rejected
// after a few seconds so that a failing test cannot hang.
class ModalAnswerer : public QObject {
 public:
  using Action = std::function<void(QWidget*)>;
  explicit ModalAnswerer(std::vector<Action> actions);
  ~ModalAnswerer() override;
  QStringList texts;  // message box texts in order
  int answered = 0;

 private:
  void tick();
  std::vector<Action> actions_;
  QTimer timer_;
  QWidget* current_ = nullptr;
  int waitedTicks_ = 0;
};

// Presses the button of a message box with the given standard role.
ModalAnswerer::Action press(QMessageBox::StandardButton b);
// Waits with events running until `done` or the timeout; true when done.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000);

}  // namespace uikit
