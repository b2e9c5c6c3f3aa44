#include "uikit.h"

#include <QAbstractButton>
#include <QDialog>
#include <QElapsedTimer>
#include <QThread>

namespace uikit {

TModalAnswerer::TModalAnswerer(std::vector<TAction> actions) : actions_(std::move(actions)) {
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  timer_.start(20);
}

TModalAnswerer::~TModalAnswerer() { timer_.stop(); }

void TModalAnswerer::Tick() {
  QWidget* w = QApplication::activeModalWidget();
  if (!w || w == current_) {
    // The same box still open after its answer, or none: count towards the guard.
    if (w && ++waitedTicks_ > 250) {
      if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
    }
    if (!w) current_ = nullptr;
    return;
  }
  current_ = w;
  waitedTicks_ = 0;
  if (auto* box = qobject_cast<QMessageBox*>(w)) Texts.append(box->text());
  if (Answered < static_cast<int>(actions_.size())) {
    TAction a = actions_[static_cast<size_t>(Answered++)];
    QTimer::singleShot(0, w, [a, w] { a(w); });
  } else if (auto* d = qobject_cast<QDialog*>(w)) {
    QTimer::singleShot(3000, d, [d] { d->reject(); });
  }
}

TModalAnswerer::TAction Press(QMessageBox::StandardButton b) {
  return [b](QWidget* w) {
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      if (QAbstractButton* btn = box->button(b)) {
        btn->click();
        return;
      }
    }
    if (auto* d = qobject_cast<QDialog*>(w)) d->accept();
  };
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace uikit
