#include "ui/abortconfirmation.h"

#include <QLabel>
#include <QPushButton>

#include "ui/widgets.h"

namespace torvel {

AbortConfirmation::AbortConfirmation(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint) {
  setObjectName("abortConfirmation");
  setWindowTitle("Confirm");
  setFixedSize(377, 142);
  auto* q = placed(new QLabel("Are you sure you want to abort the current operation?", this), "question", 8, 15,
                   361, 60);
  QFont f = q->font();
  f.setBold(true);
  q->setFont(f);
  q->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  q->setWordWrap(true);
  yesButton = placed(new QPushButton("&Yes", this), "yesButton", 24, 96, 75, 25);
  yesButton->setDefault(true);
  noButton = placed(new QPushButton("&No", this), "noButton", 280, 96, 75, 25);
  connect(yesButton, &QPushButton::clicked, this, &QDialog::accept);
  connect(noButton, &QPushButton::clicked, this, &QDialog::reject);  // Esc rejects too
}

bool AbortConfirmation::confirmAt(int x, int y) {
  move(x, y);
  return exec() == QDialog::Accepted;
}

}  // namespace torvel
