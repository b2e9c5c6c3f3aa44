#include "ui/outputpanel.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <tuple>

#include "ui/outputoptionsdialog.h"
#include "ui/widgets.h"

namespace torvel {

namespace {

// The kinds of the four radio buttons, in their order; the rest are "Other".
const char* const radioKinds[] = {"tif", "tif-lzw", "raw", "kro"};

bool hasRadio(const OutputKind& k) {
  for (const char* name : radioKinds)
    if (std::string(name) == k.name) return true;
  return false;
}

}  // namespace

OutputPanel::OutputPanel(QWidget* parent) : QFrame(parent), choices_(new QButtonGroup(this)) {
  placed(this, "outputPanel", 0, 443, 426, 146);
  auto* g = new QGroupBox(" Output format ", this);
  g->setGeometry(8, 2, 410, 46);
  tiff_ = radio(g, "TIFF", "tiffFormat", 16, 20, 80);
  choices_->addButton(tiff_, 0);
  choices_->addButton(radio(g, "TIFF (LZW)", "tiffLzwFormat", 104, 20, 110), 1);
  choices_->addButton(radio(g, "RAW", "rawFormat", 224, 20, 80), 2);
  choices_->addButton(radio(g, "KRO", "kroFormat", 314, 20, 80), 3);
  other_ = radio(this, "Other", "otherFormat", 12, 108, 62);
  choices_->addButton(other_, 4);
  tiff_->setChecked(true);
  others_ = placed(new QComboBox(this), "otherFormatChoice", 74, 106, 82, 26);
  for (const OutputKind& k : outputKinds()) {
    formats_[k.name] = k.format;
    if (!hasRadio(k)) others_->addItem(k.label, QString(k.name));
  }
  options_ = placed(new QPushButton("Options...", this), "optionsButton", 284, 104, 100, 30);
  label(this, "Output directory", 12, 54, 200);
  std::tie(folder_, browse_) = pathRow(this, "outputFolderEdit", "outputBrowseButton", 72);
  folder_->setReadOnly(false);  // typed or pasted, checked on Start
  folder_->setPlaceholderText("the input's folder");
  folder_->setToolTip("Type or paste a folder, or choose one with the ... button.\n"
                      "Left empty, outputs go beside the input. A double click empties it.");
  folder_->installEventFilter(this);  // a double click empties it
  connect(browse_, &QToolButton::clicked, this, &OutputPanel::browseClicked);
  start_ = placed(new QPushButton("Start", this), "startButton", 163, 104, 100, 30);
  connect(start_, &QPushButton::clicked, this, &OutputPanel::startClicked);
  connect(choices_, &QButtonGroup::idToggled, this, &OutputPanel::formatChosen);
  connect(others_, &QComboBox::activated, this, [this] {
    other_->setChecked(true);
    formatChosen();
  });
  connect(options_, &QPushButton::clicked, this, &OutputPanel::editOptions);
  formatChosen();
}

const OutputKind& OutputPanel::chosenKind() const {
  const int id = choices_->checkedId();
  const std::string name = id >= 0 && id < 4 ? radioKinds[id] : others_->currentData().toString().toStdString();
  return *outputKindNamed(name);
}

OutputFormat OutputPanel::format() const { return formats_.at(chosenKind().name); }

// Options are offered where the format has some.
void OutputPanel::formatChosen() {
  options_->setEnabled(chosenKind().options != 0);
  emit formatChanged();
}

void OutputPanel::editOptions() {
  const OutputKind& kind = chosenKind();
  OutputOptionsDialog dialog(kind, formats_[kind.name], this);
  if (dialog.exec() != QDialog::Accepted) return;
  formats_[kind.name] = dialog.chosen();
  emit formatChanged();
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
