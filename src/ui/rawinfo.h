// The RAW size dialog: the user gives the width or the height of a headerless
// RAW file, the other is derived from the file size, and only a pair that
// accounts for every pixel is accepted.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QRadioButton;
class QToolButton;

class TFrmRawInfo : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmRawInfo(QWidget* parent = nullptr);

  void Prepare(qint64 FileSize, quint32 Width, quint32 Height, quint16 Bits);
  qint64 GetNumPixel() const;
  int ChosenBits() const;

  quint32 ImgWidth = 0;
  quint32 ImgHeight = 0;
  quint16 ImgBits = 0;
  qint64 ImgFileSize = 0;
  qint64 NumPixel = 0;

  QLabel* lblSize;
  QLineEdit* edWidth;
  QLineEdit* EdHeight;
  QRadioButton* RB8bit;
  QRadioButton* RB16bit;
  QToolButton* SpeedButton1;  // accept
  QToolButton* SpeedButton2;  // cancel

  void EdWidthChange();
  void EdHeightChange();
  void RB8bitChange();
  void SpeedButton1Click();
  void SpeedButton2Click();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Derive(QLineEdit* from, QLineEdit* to);
};
