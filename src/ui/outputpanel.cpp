#include "ui/outputpanel.h"

#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <tuple>

#include "ui/widgets.h"

namespace torvel {

OutputPanel::OutputPanel(QWidget* parent) : QFrame(parent) {
  placed(this, "outputPanel", 0, 443, 426, 146);
  auto* g = new QGroupBox(" Output format ", this);
  g->setGeometry(8, 2, 410, 46);
  tiff_ = radio(g, "TIFF", "tiffFormat", 16, 20, 80);
  tiff_->setChecked(true);
  tiffLzw_ = radio(g, "TIFF (LZW)", "tiffLzwFormat", 104, 20, 110);
  raw_ = radio(g, "RAW", "rawFormat", 224, 20, 80);
  kro_ = radio(g, "KRO", "kroFormat", 314, 20, 80);
  label(this, "Output directory", 12, 54, 200);
  std::tie(folder_, browse_) = pathRow(this, "outputFolderEdit", "outputBrowseButton", 72);
  folder_->installEventFilter(this);  // a double click empties it
  connect(browse_, &QToolButton::clicked, this, &OutputPanel::browseClicked);
  start_ = placed(new QPushButton("Start", this), "startButton", 163, 104, 100, 30);
  connect(start_, &QPushButton::clicked, this, &OutputPanel::startClicked);
}

OutputFormat OutputPanel::format() const {
  if (tiffLzw_->isChecked()) return {FileKind::Tiff, true};
  if (kro_->isChecked()) return {FileKind::Kro, false};
  if (raw_->isChecked()) return {FileKind::Raw, false};
  return {FileKind::Tiff, false};
}

QString OutputPanel::folderText() const { return folder_->text(); }
void OutputPanel::setFolderText(const QString& text) { folder_->setText(text); }
void OutputPanel::setStartCaption(const QString& caption) { start_->setText(caption); }

void OutputPanel::setRunControlsEnabled(bool enabled) {
  browse_->setEnabled(enabled);
  start_->setEnabled(enabled);
}

bool OutputPanel::startEnabled() const { return start_->isEnabled(); }

bool OutputPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == folder_ && event->type() == QEvent::MouseButtonDblClick) {
    folder_->clear();
    return true;
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace torvel
