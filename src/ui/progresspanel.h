// The progress panel shown over the operation panels during a run: the
// caption of the step, the bar, and the Pause and Abort buttons.
#pragma once

#include <QFrame>

class QLabel;
class QProgressBar;
class QPushButton;

namespace torvel {

class ProgressPanel : public QFrame {
  Q_OBJECT
 public:
  explicit ProgressPanel(QWidget* parent);
  // A new phase: the bar from 0 to `max`, its caption, paused or not.
  void begin(qint64 max, const QString& caption, bool paused);
  void setPosition(qint64 position);
  int maximum() const;
  void setPaused(bool paused);
  void setCaption(const QString& caption);
  // Speed and time left; while paused the panel says "Paused" instead.
  void setRate(const QString& rate);
  void setVisible(bool visible) override;

 signals:
  void pauseClicked();
  void abortClicked();

 private:
  QFrame* cover_;
  QLabel *caption_, *rate_;
  bool paused_ = false;
  QProgressBar* bar_;
  QPushButton *pause_, *abort_;
};

}  // namespace torvel
