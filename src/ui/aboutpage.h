// The about page: the logo, the caption, the home page link and the update
// check with its result.
#pragma once

#include <QFrame>

#include "settings/updatecheck.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace torvel {

class AboutPage : public QFrame {
  Q_OBJECT
 public:
  AboutPage(QWidget* parent, const QString& caption, const QString& homePage);
  bool checkAtStart() const;
  void setCheckAtStart(bool check);
  void showChecking();
  void showOutcome(UpdateOutcome outcome);
  QString resultText() const;

 signals:
  void checkClicked();
  void homePageClicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel *link_, *result_;
  QPushButton* check_;
  QCheckBox* atStart_;
};

}  // namespace torvel
