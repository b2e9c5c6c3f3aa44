// The bar of the six mode buttons at the top of the window.
#pragma once

#include <QFrame>

#include "ui/mode.h"

class QPushButton;

namespace torvel {

class ModeBar : public QFrame {
  Q_OBJECT
 public:
  explicit ModeBar(QWidget* parent);
  void setButtonsEnabled(bool enabled);
  // The button of `mode` shown pressed, the others raised.
  void setActive(Mode mode);

 signals:
  void chosen(torvel::Mode mode);

 private:
  QPushButton* buttons_[6];
};

}  // namespace torvel
