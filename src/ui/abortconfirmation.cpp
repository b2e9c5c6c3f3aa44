#include "ui/abortconfirmation.h"

#include <QLabel>
#include <QPushButton>

namespace torvel {

AbortConfirmation::AbortConfirmation(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  setObjectName("abortConfirmation");
  setWindowTitle("Confirm");
  setFixedSize(377, 142);
  auto* q = new QLabel("Are you sure you want to abort the current operation?", this);
  q->setObjectName("question");
  QFont f = q->font();
  f.setBold(true);
  q->setFont(f);
  q->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  q->setWordWrap(true);
  q->setGeometry(8, 15, 361, 60);
  yesButton = new QPushButton("&Yes", this);
  yesButton->setObjectName("yesButton");
  yesButton->setGeometry(24, 96, 75, 25);
  yesButton->setDefault(true);
  noButton = new QPushButton("&No", this);
  noButton->setObjectName("noButton");
  noButton->setGeometry(280, 96, 75, 25);
  connect(yesButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(noButton, &QPushButton::clicked, this, &QDialog::reject);  // Esc rejects too
}

bool AbortConfirmation::confirmAt(quint16 x, quint16 y) {
  move(x, y);
  return exec() == QDialog::Accepted;
}

}  // namespace torvel
