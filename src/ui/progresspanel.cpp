#include "ui/progresspanel.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "ui/widgets.h"

namespace torvel {

ProgressPanel::ProgressPanel(QWidget* parent) : QFrame(parent) {
  // The whole operation area goes under a plain cover: no field shows
  // around the panel while a run goes on.
  cover_ = placed(new QFrame(parent), "progressCover", 0, 233, 426, 210);
  cover_->setAutoFillBackground(true);
  cover_->hide();
  placed(this, "progressPanel", 25, 239, 377, 193);
  setFrameStyle(QFrame::Panel | QFrame::Raised);
  setLineWidth(2);
  QLabel* t = label(this, "Progress info", 2, 2, 373, 19);
  t->setStyleSheet("background: rgb(160, 160, 160); color: white;");
  t->setAlignment(Qt::AlignCenter);
  QFont f = t->font();
  f.setPointSize(10);
  t->setFont(f);
  caption_ = label(this, "", 1, 45, 371, 13);
  caption_->setObjectName("progressCaption");
  caption_->setAlignment(Qt::AlignHCenter);
  bar_ = placed(new QProgressBar(this), "progressBar", 18, 68, 337, 26);
  bar_->setMinimum(0);
  bar_->setValue(0);
  bar_->setAlignment(Qt::AlignCenter);
  bar_->setFormat("%p%");
  bar_->setStyleSheet(
      "QProgressBar { background: white; border: 1px solid gray; text-align: center; }"
      "QProgressBar::chunk { background: rgb(0, 224, 0); }");
  rate_ = label(this, "", 1, 104, 371, 16);
  rate_->setObjectName("progressRate");
  rate_->setAlignment(Qt::AlignHCenter);
  pause_ = placed(new QPushButton("Pause", this), "pauseButton", 18, 140, 75, 25);
  connect(pause_, &QPushButton::clicked, this, &ProgressPanel::pauseClicked);
  abort_ = placed(new QPushButton("Abort", this), "abortButton", 280, 140, 75, 25);
  connect(abort_, &QPushButton::clicked, this, &ProgressPanel::abortClicked);
  setPaused(false);
}

void ProgressPanel::begin(qint64 max, const QString& caption, bool paused) {
  abort_->setText("Abort");
  caption_->setText(caption);
  bar_->setValue(0);
  bar_->setMaximum(static_cast<int>(std::min<qint64>(max, INT32_MAX)));
  setPaused(paused);
}

void ProgressPanel::setPosition(qint64 position) {
  bar_->setValue(static_cast<int>(std::clamp<qint64>(position, 0, bar_->maximum())));
}

int ProgressPanel::maximum() const { return bar_->maximum(); }

void ProgressPanel::setCaption(const QString& caption) { caption_->setText(caption); }

void ProgressPanel::setRate(const QString& rate) {
  if (!paused_) rate_->setText(rate);
}

void ProgressPanel::setVisible(bool visible) {
  cover_->setVisible(visible);
  if (visible) cover_->raise();
  QFrame::setVisible(visible);
  if (visible) raise();
}

void ProgressPanel::setPaused(bool paused) {
  paused_ = paused;
  rate_->setText(paused ? "Paused" : "");
  pause_->setText(paused ? "Continue" : "Pause");
  setStyleSheet(paused ? "#progressPanel { background: rgb(216, 216, 216); }" : "#progressPanel { background: white; }");
}

}  // namespace torvel
