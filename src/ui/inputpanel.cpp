#include "ui/inputpanel.h"

#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <tuple>

#include "engine/text.h"
#include "ui/widgets.h"

namespace torvel {

InputPanel::InputPanel(QWidget* parent) : QFrame(parent) {
  placed(this, "inputPanel", 0, 80, 426, 153);
  caption_ = label(this, "Input file", 12, 12, 200);
  caption_->setObjectName("inputLabel");
  std::tie(field_, browse_) = pathRow(this, "inputFileEdit", "inputBrowseButton", 28);
  connect(browse_, &QToolButton::clicked, this, &InputPanel::browseClicked);
  // Above the browse button, right of the caption: the panel's layout stays as it is.
  preview_ = placed(new QPushButton("Preview", this), "previewButton", 349, 4, 70, 22);
  preview_->setEnabled(false);
  connect(preview_, &QPushButton::clicked, this, &InputPanel::previewClicked);

  QFrame* info = panel(this, "infoPanel", 8, 60, 408, 78);
  info->setStyleSheet("#infoPanel { background: rgb(216, 216, 216); }");
  label(info, "Info", 0, 0, 408)->setStyleSheet("background: rgb(160, 160, 160); color: white; padding-left: 4px;");
  const char* captions[] = {"File size:", "Width:", "Height:", "Bits:", "Channels:", "Image:"};
  const char* names[] = {"fileSizeValue", "widthValue", "heightValue", "bitsValue", "channelsValue", "pixelsValue"};
  for (int i = 0; i < 6; ++i) {
    const int column = i / 3, row = i % 3;
    label(info, captions[i], 8 + column * 200, 20 + row * 18, 66);
    values_[i] = label(info, "-", 76 + column * 200, 20 + row * 18, 124);
    values_[i]->setObjectName(names[i]);
  }
}

void InputPanel::setMultiple(bool multiple) { caption_->setText(multiple ? "Input files" : "Input file"); }

void InputPanel::showFile(const QString& path) {
  field_->setToolTip(path);
  field_->setText(QFileInfo(path).fileName());
}

void InputPanel::showText(const QString& text) { field_->setText(text); }

bool InputPanel::hasText() const { return !field_->text().isEmpty(); }

void InputPanel::showInfo(const ImageInfo& info) {
  // In the user's locale; the file size with its unit, the exact bytes in its tooltip.
  const QLocale locale;
  const QString texts[] = {locale.formattedDataSize(info.fileSize, 2, QLocale::DataSizeSIFormat),
                           locale.toString(info.width), locale.toString(info.height),
                           QString::number(info.bits),
                           QString::fromStdString(channelsText(info)),
                           QString::fromStdString(pixelCountText(int64_t{info.width} * info.height))};
  for (int i = 0; i < 6; ++i) values_[i]->setText(texts[i]);
  values_[0]->setToolTip(locale.toString(info.fileSize) + " bytes");
}

void InputPanel::clearInfo() {
  for (QLabel* l : values_) l->setText("");
}

void InputPanel::setBrowseEnabled(bool enabled) { browse_->setEnabled(enabled); }
void InputPanel::setPreviewEnabled(bool enabled) { preview_->setEnabled(enabled); }

}  // namespace torvel
