// Split mode's other way to cut an image: a zoomable pyramid. A check box
// chooses it, "Settings..." sets its layout, tiles and their coding, and
// "Open viewer" shows the last pyramid's viewer page in the browser.
#pragma once

#include <QDialog>
#include <QString>
#include <QWidget>

#include "engine/pyramidlayout.h"

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;

namespace torvel {

class PyramidSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  PyramidSettingsDialog(const PyramidSettings& current, QWidget* parent);
  PyramidSettings chosen() const;

 private:
  void followChoices();
  int addRow(const QString& text, QWidget* control, int y);
  PyramidSettings base_;
  QComboBox *layout_, *format_;
  QSpinBox *tile_, *overlap_, *quality_;
  QCheckBox *lossless_, *skipBlank_, *zip_, *viewer_;
};

class PyramidChoice : public QWidget {
  Q_OBJECT
 public:
  explicit PyramidChoice(QWidget* parent);
  bool chosen() const;
  const PyramidSettings& settings() const { return settings_; }
  // The page of the pyramid just made; empty when it has none.
  void setViewerPage(const QString& path);

 private:
  void editSettings();
  PyramidSettings settings_;
  QCheckBox* chosen_;
  QPushButton *settingsButton_, *open_;
  QString page_;
};

}  // namespace torvel
