// Helpers for window tests: answering modal boxes from timers so no test can
// hang, and waiting for conditions while events run.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolButton>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

namespace uikit {

// Answers the next modal widgets, one action each, as they appear; texts of
// message boxes are recorded. A box that no action is left for is rejected
// after a few seconds so that a failing test cannot hang.
class ModalAnswerer : public QObject {
 public:
  using Action = std::function<void(QWidget*)>;
  explicit ModalAnswerer(std::vector<Action> actions);
  ~ModalAnswerer() override;
  QStringList texts;  // message box texts in order
  int answered = 0;

 private:
  void tick();
  std::vector<Action> actions_;
  QTimer timer_;
  QWidget* current_ = nullptr;
  int waitedTicks_ = 0;
};

// The main window's widgets, found by the names they carry: what the tests
// click, type into and read.
struct Parts {
  explicit Parts(QWidget* window);
  QFrame* buttonBar, *inputPanel, *operationArea, *outputPanel, *progressPanel, *aboutPage, *infoPanel, *convertPanel, *cropPanel, *resizePanel, *splitPanel, *mergePanel;
  QPushButton* convertButton, *cropButton, *resizeButton, *splitButton, *mergeButton, *aboutButton, *startButton, *pauseButton, *abortButton, *checkUpdatesButton, *previewButton;
  QLabel* inputLabel, *fileSizeValue, *widthValue, *heightValue, *bitsValue, *channelsValue, *pixelsValue, *progressCaption, *aboutTitle, *homePageLink, *updateResult;
  QLineEdit* inputFileEdit, *outputFolderEdit;
  QToolButton* inputBrowseButton, *outputBrowseButton;
  QSpinBox* cropX, *cropY, *cropWidth, *cropHeight, *resizeWidth, *resizeHeight, *splitTileWidth, *splitTileHeight, *splitColumns, *splitRows, *mergeColumns, *mergeRows;
  QRadioButton* fastResize, *slowResize, *tiffFormat, *tiffLzwFormat, *rawFormat, *kroFormat;
  QProgressBar* progressBar;
  QCheckBox* checkUpdatesAtStart;
  QStatusBar* statusBar;
};

// Presses the button of a message box with the given standard role.
ModalAnswerer::Action press(QMessageBox::StandardButton b);
// Waits with events running until `done` or the timeout; true when done.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 10000);

}  // namespace uikit
