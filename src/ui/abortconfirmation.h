// The abort confirmation, created once and reused.
#pragma once

#include <QDialog>

class QPushButton;

namespace torvel {

class AbortConfirmation : public QDialog {
  Q_OBJECT
 public:
  explicit AbortConfirmation(QWidget* parent = nullptr);
  // Shows the dialog modally with its top-left corner at (x, y); true on Yes.
  bool confirmAt(int x, int y);
  QPushButton* yesButton;
  QPushButton* noButton;
};

}  // namespace torvel
