// The RAW size dialog: the user gives the width or the height of a headerless
// RAW file, the other is derived from the file size, and only a pair that
// accounts for every pixel is accepted.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QRadioButton;
class QToolButton;

namespace torvel {

class RawSizeDialog : public QDialog {
  Q_OBJECT
 public:
  explicit RawSizeDialog(QWidget* parent = nullptr);

  // Readies the dialog for a file of `fileSize` bytes whose name gave
  // width x height (0 when it gave nothing).
  void prepare(qint64 fileSize, quint32 width, quint32 height);
  int chosenBits() const;

  quint32 chosenWidth = 0;
  quint32 chosenHeight = 0;
  qint64 pixelCount = 0;  // pixels the file holds at the chosen bits

  QLabel* fileSizeLabel;
  QLineEdit* widthEdit;
  QLineEdit* heightEdit;
  QRadioButton* bits8;
  QRadioButton* bits16;
  QToolButton* acceptButton;
  QToolButton* cancelButton;

  void onWidthChanged();
  void onHeightChanged();
  void onBitsChanged();
  // Accepts when width x height accounts for every pixel; stays open otherwise.
  void acceptIfExact();
  void cancel();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  qint64 pixelCountOf() const;
  void derive(QLineEdit* from, QLineEdit* to);
  qint64 fileSize_ = 0;
};

}  // namespace torvel
