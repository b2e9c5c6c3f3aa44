#include "ui/widgets.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>

namespace torvel {

QFrame* panel(QWidget* parent, const char* name, int x, int y, int w, int h) {
  return placed(new QFrame(parent), name, x, y, w, h);
}

QLabel* label(QWidget* parent, const QString& text, int x, int y, int w, int h) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(x, y, w, h);
  return l;
}

QSpinBox* number(QWidget* parent, const char* name, int x, int y, int min, int max, int value, bool readOnly) {
  auto* s = placed(new QSpinBox(parent), name, x, y, 90, 21);
  s->setRange(min, max);
  s->setValue(value);
  if (readOnly) {
    s->setReadOnly(true);
    s->setButtonSymbols(QAbstractSpinBox::NoButtons);
  }
  return s;
}

std::pair<QSpinBox*, QSpinBox*> numberPair(QWidget* parent, const char* title, int x, const char* labelA,
                                           const char* nameA, const char* labelB, const char* nameB, int min, int max,
                                           int value, bool readOnly) {
  auto* g = new QGroupBox(title, parent);
  g->setGeometry(x, 60, 180, 100);
  label(g, labelA, 16, 28, 50);
  label(g, labelB, 16, 60, 50);
  return {number(g, nameA, 70, 26, min, max, value, readOnly), number(g, nameB, 70, 58, min, max, value, readOnly)};
}

void title(QWidget* parent, const char* text, const char* subtitle) {
  QLabel* t = label(parent, text, 0, 8, parent->width(), 18);
  QFont f = t->font();
  f.setBold(true);
  f.setPointSize(f.pointSize() + 2);
  t->setFont(f);
  t->setAlignment(Qt::AlignHCenter);
  label(parent, subtitle, 0, 30, parent->width(), 16)->setAlignment(Qt::AlignHCenter);
}

QRadioButton* radio(QWidget* parent, const char* text, const char* name, int x, int y, int w) {
  return placed(new QRadioButton(text, parent), name, x, y, w, 20);
}

std::pair<QLineEdit*, QToolButton*> pathRow(QWidget* parent, const char* fieldName, const char* buttonName, int y) {
  auto* field = placed(new QLineEdit(parent), fieldName, 8, y, 385, 21);
  field->setReadOnly(true);
  auto* browse = placed(new QToolButton(parent), buttonName, 396, y, 23, 21);
  browse->setText("...");
  return {field, browse};
}

}  // namespace torvel
