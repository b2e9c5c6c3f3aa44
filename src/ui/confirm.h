// The abort confirmation, created once and reused.
#pragma once

#include <QDialog>

class QPushButton;

class TFrmConfirm : public QDialog {
  Q_OBJECT
 public:
  explicit TFrmConfirm(QWidget* parent = nullptr);
  // Shows the dialog modally with its top-left corner at (X, Y).
  int CenterAndShow(quint16 X, quint16 Y);
  QPushButton* btYes;
  QPushButton* btNo;
};
