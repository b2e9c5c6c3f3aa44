#pragma once
// The windows have fixed layouts: every widget is named (tests and style
// sheets find it by its name) and set at its place.
#include <QWidget>

namespace torvel {

template <class Widget>
Widget* placed(Widget* widget, const char* name, int x, int y, int width, int height) {
  widget->setObjectName(name);
  widget->setGeometry(x, y, width, height);
  return widget;
}

}  // namespace torvel
