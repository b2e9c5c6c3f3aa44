#include "ui/aboutpage.h"

#include <QCheckBox>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "ui/widgets.h"

// The logo lives in a resource of this static library: make sure it is linked in.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace torvel {

AboutPage::AboutPage(QWidget* parent, const QString& caption, const QString& homePage) : QFrame(parent) {
  placed(this, "aboutPage", 0, 79, 426, 509);
  initResources();
  auto* logo = placed(new QLabel(this), "logo", 165, 24, 96, 64);
  logo->setScaledContents(true);
  logo->setPixmap(QIcon(":/torvel-tools.png").pixmap(96, 64));
  QLabel* title = label(this, caption, 0, 104, 426, 20);
  title->setObjectName("aboutTitle");
  title->setAlignment(Qt::AlignHCenter);
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  QLabel* hp = label(this, "Home page", 0, 150, 426);
  hp->setFont(bold);
  hp->setAlignment(Qt::AlignHCenter);
  link_ = label(this, homePage, 0, 170, 426);
  link_->setObjectName("homePageLink");
  link_->setAlignment(Qt::AlignHCenter);
  link_->setStyleSheet("color: blue; text-decoration: underline;");
  link_->setCursor(Qt::PointingHandCursor);
  link_->installEventFilter(this);
  check_ = placed(new QPushButton("Check for updates", this), "checkUpdatesButton", 138, 220, 150, 28);
  connect(check_, &QPushButton::clicked, this, &AboutPage::checkClicked);
  atStart_ = placed(new QCheckBox(" Automatically check for updates on startup", this), "checkUpdatesAtStart", 70, 266,
                    300, 20);
  result_ = label(this, "", 4, 332, 418, 23);
  result_->setObjectName("updateResult");
  result_->setAlignment(Qt::AlignCenter);
  QFont big = bold;
  big.setPointSize(11);
  result_->setFont(big);
  result_->hide();
}

bool AboutPage::checkAtStart() const { return atStart_->isChecked(); }
void AboutPage::setCheckAtStart(bool check) { atStart_->setChecked(check); }
QString AboutPage::resultText() const { return result_->text(); }

void AboutPage::showChecking() {
  result_->setText("Checking for updates...");
  result_->setStyleSheet("color: black;");
  result_->show();
}

void AboutPage::showOutcome(UpdateOutcome outcome) {
  const bool found = outcome == UpdateOutcome::NewVersion;
  result_->setText(found ? "New software version available"
                   : outcome == UpdateOutcome::Failed ? "Could not check for updates"
                                                      : "No new updates available");
  result_->setStyleSheet(found ? "color: rgb(255, 0, 0);" : "color: black;");
  result_->show();
}

bool AboutPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == link_ && event->type() == QEvent::MouseButtonRelease) {
    emit homePageClicked();
    return true;
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace torvel
