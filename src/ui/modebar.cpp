#include "ui/modebar.h"

#include <QPushButton>

#include "ui/widgets.h"

namespace torvel {

ModeBar::ModeBar(QWidget* parent) : QFrame(parent) {
  placed(this, "buttonBar", 0, 0, 426, 80);
  const char* names[] = {"convertButton", "cropButton", "resizeButton", "splitButton", "mergeButton", "aboutButton"};
  const char* captions[] = {"Convert", "Crop", "Resize", "Split", "Merge", "About"};
  const int lefts[] = {8, 77, 146, 215, 284, 354};
  for (int i = 0; i < 6; ++i) {
    auto* b = placed(new QPushButton(captions[i], this), names[i], lefts[i], 8, 64, 64);
    b->setFocusPolicy(Qt::NoFocus);
    b->setCheckable(true);  // the active mode's button stays pressed
    QFont f = b->font();
    f.setBold(true);
    b->setFont(f);
    const Mode m = static_cast<Mode>(i + 1);
    connect(b, &QPushButton::clicked, this, [this, m] {
      setActive(m);  // a click on the active button keeps it pressed
      emit chosen(m);
    });
    buttons_[i] = b;
  }
}

void ModeBar::setButtonsEnabled(bool enabled) {
  for (QPushButton* b : buttons_) b->setEnabled(enabled);
}

}  // namespace torvel

namespace torvel {

void ModeBar::setActive(Mode mode) {
  for (int i = 0; i < 6; ++i) buttons_[i]->setChecked(static_cast<Mode>(i + 1) == mode);
}

}  // namespace torvel
