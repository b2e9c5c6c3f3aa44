// The input panel: the chosen file (or the merge selection), its browse and
// Preview buttons, and the info box of the probed image.
#pragma once

#include <QFrame>

#include "engine/image.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace torvel {

class InputPanel : public QFrame {
  Q_OBJECT
 public:
  explicit InputPanel(QWidget* parent);
  // "Input files" for a merge selection, "Input file" otherwise.
  void setMultiple(bool multiple);
  // A chosen file: its name in the field, its path in the tooltip.
  void showFile(const QString& path);
  // A text in the field instead of a file name ("4 files selected"); empty clears it.
  void showText(const QString& text);
  bool hasText() const;
  void showInfo(const ImageInfo& info);
  void clearInfo();
  void setBrowseEnabled(bool enabled);
  void setPreviewEnabled(bool enabled);

 signals:
  void browseClicked();
  void previewClicked();

 private:
  QLabel* caption_;
  QLineEdit* field_;
  QToolButton* browse_;
  QPushButton* preview_;
  QLabel* values_[6];
};

}  // namespace torvel
