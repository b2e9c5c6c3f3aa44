// The output panel: the output format (the four original kinds as radio
// buttons, every other one of the format table behind a fifth), its
// options, the output folder with its browse button, and the Start button.
#pragma once

#include <QFrame>
#include <map>
#include <string>

#include "engine/formats.h"

class QButtonGroup;
class QComboBox;
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
  void formatChanged();
  void browseClicked();
  void startClicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  const OutputKind& chosenKind() const;
  void formatChosen();
  void editOptions();

  QButtonGroup* choices_;
  QRadioButton *tiff_, *other_;
  QComboBox* others_;
  QPushButton* options_;
  std::map<std::string, OutputFormat> formats_;  // each kind as its options were last set
  QLineEdit* folder_;
  QToolButton* browse_;
  QPushButton* start_;
};

}  // namespace torvel
