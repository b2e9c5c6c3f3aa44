// The output panel: the output format, the output folder with its browse
// button, and the Start button.
#pragma once

#include <QFrame>

#include "engine/writer.h"

class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;

namespace torvel {

class OutputPanel : public QFrame {
  Q_OBJECT
 public:
  explicit OutputPanel(QWidget* parent);
  OutputFormat format() const;
  QString folderText() const;
  void setFolderText(const QString& text);
  void setStartCaption(const QString& caption);
  // The controls that could start a second run; the format stays choosable.
  void setRunControlsEnabled(bool enabled);
  bool startEnabled() const;

 signals:
  void browseClicked();
  void startClicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QRadioButton *tiff_, *tiffLzw_, *raw_, *kro_;
  QLineEdit* folder_;
  QToolButton* browse_;
  QPushButton* start_;
};

}  // namespace torvel
