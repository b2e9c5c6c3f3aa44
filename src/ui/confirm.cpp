#include "ui/confirm.h"

#include <QLabel>
#include <QPushButton>

TFrmConfirm::TFrmConfirm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  setObjectName("FrmConfirm");
  setWindowTitle("Confirm");
  setFixedSize(377, 142);
  auto* q = new QLabel("Are you sure you want to abort the current operation?", this);
  q->setObjectName("lbQuestion");
  QFont f = q->font();
  f.setBold(true);
  q->setFont(f);
  q->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  q->setWordWrap(true);
  q->setGeometry(8, 15, 361, 60);
  btYes = new QPushButton("&Yes", this);
  btYes->setObjectName("btYes");
  btYes->setGeometry(24, 96, 75, 25);
  btYes->setDefault(true);
  btNo = new QPushButton("&No", this);
  btNo->setObjectName("btNo");
  btNo->setGeometry(280, 96, 75, 25);
  connect(btYes, &QPushButton::clicked, this, &QDialog::accept);
  connect(btNo, &QPushButton::clicked, this, &QDialog::reject);  // Esc rejects too
}

int TFrmConfirm::CenterAndShow(quint16 X, quint16 Y) {
  move(X, Y);
  return exec();
}
