#include "ui/rawsizedialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include "engine/files.h"
#include "engine/rules.h"
#include "ui/widgets.h"

namespace torvel {

RawSizeDialog::RawSizeDialog(QWidget* parent) : QDialog(parent, Qt::Tool) {
  setObjectName("rawSizeDialog");
  setWindowTitle("Size of the RAW image");
  setFixedSize(185, 168);
  setStyleSheet("#rawSizeDialog { background: rgb(186, 205, 240); }");
  auto* title = placed(new QLabel("RAW Info", this), "rawSizeTitle", 0, 0, 185, 18);
  title->setAlignment(Qt::AlignCenter);
  title->setStyleSheet("background: rgb(160, 160, 160); color: white;");
  const char* captions[] = {"File size :", "Width :", "Height :", "Bits :"};
  const int tops[] = {24, 48, 76, 104};
  for (int i = 0; i < 4; ++i) {
    auto* l = new QLabel(captions[i], this);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setGeometry(8, tops[i], 64, 14);
  }
  fileSizeLabel = placed(new QLabel(this), "fileSizeLabel", 82, 24, 98, 14);
  widthEdit = placed(new QLineEdit("0", this), "widthEdit", 80, 44, 70, 21);
  heightEdit = placed(new QLineEdit("0", this), "heightEdit", 80, 72, 70, 21);
  bits8 = placed(new QRadioButton("8", this), "bits8", 80, 104, 36, 17);
  bits8->setChecked(true);
  bits16 = placed(new QRadioButton("16", this), "bits16", 120, 104, 40, 17);
  cancelButton = placed(new QToolButton(this), "cancelButton", 24, 136, 26, 26);
  cancelButton->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  acceptButton = placed(new QToolButton(this), "acceptButton", 136, 136, 26, 26);
  acceptButton->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));

  for (QLineEdit* e : {widthEdit, heightEdit}) e->installEventFilter(this);
  connect(widthEdit, &QLineEdit::textChanged, this, [this] { onWidthChanged(); });
  connect(widthEdit, &QLineEdit::editingFinished, this, [this] { onWidthChanged(); });
  connect(heightEdit, &QLineEdit::textChanged, this, [this] { onHeightChanged(); });
  connect(heightEdit, &QLineEdit::editingFinished, this, [this] { onHeightChanged(); });
  connect(bits8, &QRadioButton::toggled, this, [this] { onBitsChanged(); });
  connect(acceptButton, &QToolButton::clicked, this, [this] { acceptIfExact(); });
  connect(cancelButton, &QToolButton::clicked, this, [this] { cancel(); });
}

void RawSizeDialog::prepare(qint64 fileSize, quint32 width, quint32 height) {
  if (parentWidget()) move(parentWidget()->x() + 20, parentWidget()->y() + 20);
  fileSize_ = fileSize;
  fileSizeLabel->setText(QLocale().toString(fileSize));
  // From the defaults each time: never what an earlier, cancelled answer left.
  bits8->setChecked(true);
  pixelCount = pixelCountOf();
  widthEdit->setText(width > 0 && height > 0 ? QString::number(width) : "0");
  heightEdit->setText("0");
  onWidthChanged();
}

qint64 RawSizeDialog::pixelCountOf() const { return bits8->isChecked() ? fileSize_ / 3 : fileSize_ / 6; }

int RawSizeDialog::chosenBits() const { return bits8->isChecked() ? 8 : 16; }

void RawSizeDialog::derive(QLineEdit* from, QLineEdit* to) {
  int v = safeStrToInt(from->text().toStdString());
  const int maxSide = static_cast<int>(maxInputSide);
  if (v > maxSide) {
    v = maxSide;
    from->setText(QString::number(maxSide));
  }
  if (v < 100) return;
  if (pixelCount % v != 0) return;
  const qint64 q = pixelCount / v;
  if (q < maxSide) to->setText(QString::number(q));
}

void RawSizeDialog::onWidthChanged() { derive(widthEdit, heightEdit); }
void RawSizeDialog::onHeightChanged() { derive(heightEdit, widthEdit); }

void RawSizeDialog::onBitsChanged() {
  pixelCount = pixelCountOf();
  onWidthChanged();
}

void RawSizeDialog::acceptIfExact() {
  const qint64 w = safeStrToInt(widthEdit->text().toStdString()), h = safeStrToInt(heightEdit->text().toStdString());
  if (w * h == pixelCount) {
    chosenWidth = static_cast<quint32>(w);
    chosenHeight = static_cast<quint32>(h);
    accept();
    return;
  }
  QMessageBox::information(this, windowTitle(),
                           QString("%1 × %2 at %3 bits does not fit this file: its %4 bytes hold %5 pixels of %3 bits")
                               .arg(w)
                               .arg(h)
                               .arg(chosenBits())
                               .arg(QLocale().toString(fileSize_))
                               .arg(QLocale().toString(pixelCount)));
}

void RawSizeDialog::cancel() {
  chosenWidth = 0;
  chosenHeight = 0;
  reject();
}

// Only digits and editing keys reach the edits, and at most six digits
// unless a selection is being replaced.
bool RawSizeDialog::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit == widthEdit && event->type() == QEvent::FocusIn) {
    QTimer::singleShot(0, widthEdit, [this] { widthEdit->selectAll(); });  // widthEditEnter
    return false;
  }
  if (!edit || event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const int key = static_cast<QKeyEvent*>(event)->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    acceptIfExact();
    return true;
  }
  if (key == Qt::Key_Escape) {
    cancel();
    return true;
  }
  const bool editing = key == Qt::Key_Backspace || key == Qt::Key_Tab || key == Qt::Key_End ||
                       key == Qt::Key_Home || key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Delete;
  const bool digit = key >= Qt::Key_0 && key <= Qt::Key_9;
  if (editing) return false;
  if (!digit) return true;
  return edit->text().size() >= 6 && !edit->hasSelectedText();
}

}  // namespace torvel
