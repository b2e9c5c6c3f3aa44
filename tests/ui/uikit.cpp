#include "uikit.h"

#include <QAbstractButton>
#include <QDialog>
#include <QElapsedTimer>
#include <QThread>
#include <stdexcept>
#include <string>

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

namespace {

template <class Widget>
void find(QWidget* window, Widget*& into, const char* name) {
  into = window->findChild<Widget*>(name);
  if (!into) throw std::runtime_error(std::string("no widget named ") + name);
}

}  // namespace

Parts::Parts(QWidget* window) {
  for (auto [into, name] : {std::pair{&buttonBar, "buttonBar"},
                            {&inputPanel, "inputPanel"},
                            {&operationArea, "operationArea"},
                            {&outputPanel, "outputPanel"},
                            {&progressPanel, "progressPanel"},
                            {&aboutPage, "aboutPage"},
                            {&infoPanel, "infoPanel"},
                            {&convertPanel, "convertPanel"},
                            {&cropPanel, "cropPanel"},
                            {&resizePanel, "resizePanel"},
                            {&splitPanel, "splitPanel"},
                            {&mergePanel, "mergePanel"}})
    find(window, *into, name);
  for (auto [into, name] : {std::pair{&convertButton, "convertButton"},
                            {&cropButton, "cropButton"},
                            {&resizeButton, "resizeButton"},
                            {&splitButton, "splitButton"},
                            {&mergeButton, "mergeButton"},
                            {&aboutButton, "aboutButton"},
                            {&startButton, "startButton"},
                            {&pauseButton, "pauseButton"},
                            {&abortButton, "abortButton"},
                            {&checkUpdatesButton, "checkUpdatesButton"},
                            {&previewButton, "previewButton"}})
    find(window, *into, name);
  for (auto [into, name] : {std::pair{&inputLabel, "inputLabel"},
                            {&fileSizeValue, "fileSizeValue"},
                            {&widthValue, "widthValue"},
                            {&heightValue, "heightValue"},
                            {&bitsValue, "bitsValue"},
                            {&channelsValue, "channelsValue"},
                            {&pixelsValue, "pixelsValue"},
                            {&progressCaption, "progressCaption"},
                            {&aboutTitle, "aboutTitle"},
                            {&homePageLink, "homePageLink"},
                            {&updateResult, "updateResult"}})
    find(window, *into, name);
  for (auto [into, name] : {std::pair{&inputFileEdit, "inputFileEdit"}, {&outputFolderEdit, "outputFolderEdit"}})
    find(window, *into, name);
  for (auto [into, name] :
       {std::pair{&inputBrowseButton, "inputBrowseButton"}, {&outputBrowseButton, "outputBrowseButton"}})
    find(window, *into, name);
  for (auto [into, name] : {std::pair{&cropX, "cropX"},
                            {&cropY, "cropY"},
                            {&cropWidth, "cropWidth"},
                            {&cropHeight, "cropHeight"},
                            {&resizeWidth, "resizeWidth"},
                            {&resizeHeight, "resizeHeight"},
                            {&splitTileWidth, "splitTileWidth"},
                            {&splitTileHeight, "splitTileHeight"},
                            {&splitColumns, "splitColumns"},
                            {&splitRows, "splitRows"},
                            {&mergeColumns, "mergeColumns"},
                            {&mergeRows, "mergeRows"}})
    find(window, *into, name);
  for (auto [into, name] : {std::pair{&fastResize, "fastResize"},
                            {&slowResize, "slowResize"},
                            {&tiffFormat, "tiffFormat"},
                            {&tiffLzwFormat, "tiffLzwFormat"},
                            {&rawFormat, "rawFormat"},
                            {&kroFormat, "kroFormat"}})
    find(window, *into, name);
  for (auto [into, name] : {std::pair{&progressBar, "progressBar"}}) find(window, *into, name);
  for (auto [into, name] : {std::pair{&checkUpdatesAtStart, "checkUpdatesAtStart"}}) find(window, *into, name);
  for (auto [into, name] : {std::pair{&statusBar, "statusBar"}}) find(window, *into, name);
}

}  // namespace uikit
