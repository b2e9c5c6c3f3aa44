#include "ui/rawinfo.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include "engine/utils.h"

namespace {
constexpr int MaxSide = 300000;
}

TFrmRawInfo::TFrmRawInfo(QWidget* parent) : QDialog(parent, Qt::Tool) {
  setObjectName("FrmRawInfo");
  setWindowTitle("Open file");
  setFixedSize(185, 168);
  setStyleSheet("TFrmRawInfo { background: rgb(186, 205, 240); }");
  auto* title = new QLabel("RAW Info", this);
  title->setObjectName("RawInfoTitle");
  title->setAlignment(Qt::AlignCenter);
  title->setGeometry(0, 0, 185, 18);
  title->setStyleSheet("background: rgb(160, 160, 160); color: white;");
  const char* captions[] = {"File size :", "Width :", "Height :", "Bits :"};
  const int tops[] = {24, 48, 76, 104};
  for (int i = 0; i < 4; ++i) {
    auto* l = new QLabel(captions[i], this);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setGeometry(8, tops[i], 64, 14);
  }
  lblSize = new QLabel(this);
  lblSize->setObjectName("lblSize");
  lblSize->setGeometry(82, 24, 98, 14);
  edWidth = new QLineEdit("0", this);
  edWidth->setObjectName("edWidth");
  edWidth->setGeometry(80, 44, 70, 21);
  EdHeight = new QLineEdit("0", this);
  EdHeight->setObjectName("EdHeight");
  EdHeight->setGeometry(80, 72, 70, 21);
  RB8bit = new QRadioButton("8", this);
  RB8bit->setObjectName("RB8bit");
  RB8bit->setGeometry(80, 104, 36, 17);
  RB8bit->setChecked(true);
  RB16bit = new QRadioButton("16", this);
  RB16bit->setObjectName("RB16bit");
  RB16bit->setGeometry(120, 104, 40, 17);
  SpeedButton2 = new QToolButton(this);
  SpeedButton2->setObjectName("SpeedButton2");
  SpeedButton2->setGeometry(24, 136, 26, 26);
  SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName("SpeedButton1");
  SpeedButton1->setGeometry(136, 136, 26, 26);
  SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));

  for (QLineEdit* e : {edWidth, EdHeight}) e->installEventFilter(this);
  connect(edWidth, &QLineEdit::textChanged, this, [this] { EdWidthChange(); });
  connect(edWidth, &QLineEdit::editingFinished, this, [this] { EdWidthChange(); });
  connect(EdHeight, &QLineEdit::textChanged, this, [this] { EdHeightChange(); });
  connect(EdHeight, &QLineEdit::editingFinished, this, [this] { EdHeightChange(); });
  connect(RB8bit, &QRadioButton::toggled, this, [this] { RB8bitChange(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
  connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
}

void TFrmRawInfo::Prepare(qint64 FileSize, quint32 Width, quint32 Height, quint16 /*Bits*/) {
  if (parentWidget()) move(parentWidget()->x() + 20, parentWidget()->y() + 20);
  ImgFileSize = FileSize;
  lblSize->setText(QString::fromStdString(DotThousands(FileSize)));
  NumPixel = GetNumPixel();
  if (Width > 0 && Height > 0) edWidth->setText(QString::number(Width));
  EdHeight->setText("0");
  EdWidthChange();
}

qint64 TFrmRawInfo::GetNumPixel() const { return RB8bit->isChecked() ? ImgFileSize / 3 : ImgFileSize / 6; }

int TFrmRawInfo::ChosenBits() const { return RB8bit->isChecked() ? 8 : 16; }

void TFrmRawInfo::Derive(QLineEdit* from, QLineEdit* to) {
  int v = SafeStrToInt(from->text().toStdString());
  if (v > MaxSide) {
    v = MaxSide;
    from->setText(QString::number(MaxSide));
  }
  if (v < 100) return;
  if (NumPixel % v != 0) return;
  const qint64 q = NumPixel / v;
  if (q < MaxSide) to->setText(QString::number(q));
}

void TFrmRawInfo::EdWidthChange() { Derive(edWidth, EdHeight); }
void TFrmRawInfo::EdHeightChange() { Derive(EdHeight, edWidth); }

void TFrmRawInfo::RB8bitChange() {
  NumPixel = GetNumPixel();
  EdWidthChange();
}

void TFrmRawInfo::SpeedButton1Click() {
  const qint64 w = SafeStrToInt(edWidth->text().toStdString()), h = SafeStrToInt(EdHeight->text().toStdString());
  if (w * h == NumPixel) {
    ImgWidth = static_cast<quint32>(w);
    ImgHeight = static_cast<quint32>(h);
    accept();
  }
}

void TFrmRawInfo::SpeedButton2Click() {
  ImgWidth = 0;
  ImgHeight = 0;
  reject();
}

// Only digits and editing keys reach the edits, and at most six digits
// unless a selection is being replaced.
bool TFrmRawInfo::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit == edWidth && event->type() == QEvent::FocusIn) {
    QTimer::singleShot(0, edWidth, [this] { edWidth->selectAll(); });  // edWidthEnter
    return false;
  }
  if (!edit || event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
  const int key = static_cast<QKeyEvent*>(event)->key();
  const bool editing = key == Qt::Key_Backspace || key == Qt::Key_Tab || key == Qt::Key_End ||
                       key == Qt::Key_Home || key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Delete;
  const bool digit = key >= Qt::Key_0 && key <= Qt::Key_9;
  if (editing) return false;
  if (!digit) return true;
  return edit->text().size() >= 6 && !edit->hasSelectedText();
}
