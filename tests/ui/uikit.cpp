#include "uikit.h"

#include <QAbstractButton>
#include <QDialog>
#include <QElapsedTimer>
#include <QThread>

namespace uikit {

ModalAnswerer::ModalAnswerer(std::vector<Action> actions) : actions_(std::move(actions)) {
  connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
  timer_.start(20);
}

ModalAnswerer::~ModalAnswerer() { timer_.stop(); }

void ModalAnswerer::tick() {
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
  if (auto* box = qobject_cast<QMessageBox*>(w)) texts.append(box->text());
  if (answered < static_cast<int>(actions_.size())) {
    Action a = actions_[static_cast<size_t>(answered++)];
    QTimer::singleShot(0, w, [a, w] { a(w); });
  } else if (auto* d = qobject_cast<QDialog*>(w)) {
    QTimer::singleShot(3000, d, [d] { d->reject(); });
  }
}

ModalAnswerer::Action press(QMessageBox::StandardButton b) {
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

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
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
