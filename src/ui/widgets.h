// The windows have fixed layouts: every widget is named (tests and style
// sheets find it by its name) and set at its place. These helpers make the
// widgets the panels are built of.
#pragma once

#include <QString>
#include <QWidget>
#include <utility>

class QFrame;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace torvel {

template <class Widget>
Widget* placed(Widget* widget, const char* name, int x, int y, int width, int height) {
  widget->setObjectName(name);
  widget->setGeometry(x, y, width, height);
  return widget;
}

QFrame* panel(QWidget* parent, const char* name, int x, int y, int w, int h);
QLabel* label(QWidget* parent, const QString& text, int x, int y, int w, int h = 16);
QSpinBox* number(QWidget* parent, const char* name, int x, int y, int min, int max, int value, bool readOnly = false);
// A group of two labelled numbers, one above the other, of the same range.
std::pair<QSpinBox*, QSpinBox*> numberPair(QWidget* parent, const char* title, int x, const char* labelA,
                                           const char* nameA, const char* labelB, const char* nameB, int min, int max,
                                           int value, bool readOnly = false);
// A bold title and its subtitle, centred at the top of a panel.
void title(QWidget* parent, const char* text, const char* subtitle);
QRadioButton* radio(QWidget* parent, const char* text, const char* name, int x, int y, int w);
// A read-only path field with its "..." browse button on its right.
std::pair<QLineEdit*, QToolButton*> pathRow(QWidget* parent, const char* fieldName, const char* buttonName, int y);

}  // namespace torvel
