// The main window: six mode buttons, the input, operation, output and about
// panels, and the progress panel. Thin: it collects an operation's settings,
// hands the operation to the run controller's worker thread and shows what
// the run reports. Layout in panels.cpp, input selection in inputselection.cpp.
#pragma once

#include <QStringList>
#include <QWidget>
#include <memory>

#include "engine/image.h"
#include "engine/writer.h"
#include "settings/settingsfile.h"
#include "settings/updatecheck.h"
#include "ui/launcherprogress.h"
#include "ui/runcontroller.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStatusBar;
class QTimer;
class QToolButton;

namespace torvel {

class AbortConfirmation;
class PreviewWindow;
class RawSizeDialog;

inline constexpr const char* homePage = "https://torveltools.example/";

enum class Mode { Convert = 1, Crop, Resize, Split, Merge, About };

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  // `settingsPath`: where the settings live (the front end passes the path).
  explicit MainWindow(const QString& settingsPath, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Modes, output choice, run controls.
  void showMode(Mode mode);
  Mode mode() const { return mode_; }
  OutputFormat outputFormat() const;
  void setRunControlsEnabled(bool enabled);
  void clearInputInfo();
  bool busy() const { return run_->running(); }

  // What the window shows.
  void showError(const QString& text);
  void showStatus(const QString& text);
  // Starts the run of the shown mode on the worker thread.
  void start();
  void togglePause();
  void askToAbort();
  bool paused() const { return run_->paused(); }
  RunController& runController() { return *run_; }

  // Input and output selection (inputselection.cpp).
  void chooseInput();
  void chooseOutputFolder();
  // Opens the preview of the chosen input (made once, then reused).
  void showPreview();
  // An input is chosen and shown, in a mode that works on one.
  bool previewable() const;
  PreviewWindow* preview() const { return preview_; }
  // A drop of files at a point of the window (client coordinates).
  void dropFiles(const QStringList& names, const QPoint& at);
  QString outputFolderFor(const QString& inputPath) const;
  const ImageInfo& input() const { return input_; }
  bool droppedFile() const { return droppedFile_; }
  QString browseDirectory;  // the folder last chosen in the folder browser

  // The derived fields follow what the user types.
  void onSplitTileWidthChanged();
  void onSplitTileHeightChanged();
  void onResizeWidthChanged();

  // Update check and home page.
  void pollUpdateCheck();
  void checkForUpdates();
  void openHomePage();
  QString updateEndpoint = QString::fromStdString(torvel::updateEndpoint());
  std::unique_ptr<UpdateCheck> updateCheck;

  bool saveSettings();

  // The controls, by the names the tests look for.
  QFrame *buttonBar, *inputPanel, *operationArea, *outputPanel, *progressPanel, *aboutPage, *infoPanel;
  QFrame *convertPanel, *cropPanel, *resizePanel, *splitPanel, *mergePanel;
  QPushButton *convertButton, *cropButton, *resizeButton, *splitButton, *mergeButton, *aboutButton;
  QLabel *inputLabel, *fileSizeValue, *widthValue, *heightValue, *bitsValue, *channelsValue, *pixelsValue;
  QLineEdit *inputFileEdit, *outputFolderEdit;
  QToolButton *inputBrowseButton, *outputBrowseButton;
  QSpinBox *cropX, *cropY, *cropWidth, *cropHeight;
  QSpinBox *resizeWidth, *resizeHeight, *splitTileWidth, *splitTileHeight, *splitColumns, *splitRows;
  QSpinBox *mergeColumns, *mergeRows;
  QRadioButton *fastResize, *slowResize, *tiffFormat, *tiffLzwFormat, *rawFormat, *kroFormat;
  QPushButton *startButton, *pauseButton, *abortButton, *checkUpdatesButton, *previewButton;
  QLabel *progressCaption, *aboutTitle, *homePageLink, *updateResult;
  QProgressBar* progressBar;
  QCheckBox* checkUpdatesAtStart;
  QStatusBar* statusBar;
  QTimer* updateTimer;
  RawSizeDialog* rawSizeDialog;
  AbortConfirmation* abortConfirmation;
  LauncherProgress launcherProgress{"torvel-tools"};

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Layout (panels.cpp).
  void buildButtonBar();
  void buildInputPanel();
  void buildOperationPanels();
  void buildOutputPanel();
  void buildProgressPanel();
  void buildAboutPage();
  void connectFields();

  // Input selection (inputselection.cpp).
  bool selectionChosen();
  void takeMergeSelection();
  void takeInput(const QString& path);
  void showInputInfo(const ImageInfo& info);
  void updateTileCounts();
  // The probe of `path`, asking for the size of a RAW whose name does not
  // give it; shows why when refused.
  ImageInfo probeAsking(const QString& path);

  // The run of the shown mode, as a job for the worker thread; empty when
  // the mode has nothing to run.
  RunController::Job jobForMode();
  void onProgressStarted(qint64 max, const QString& caption);
  void onProgressChanged(qint64 position);
  void onProgressEnded();
  void onRunFinished(const RunResult& result);
  void setProgressLook(bool paused);

  std::unique_ptr<SettingsFile> settings_;
  std::unique_ptr<RunController> run_;
  ImageInfo input_;  // the probed input of the single-file modes
  PreviewWindow* preview_ = nullptr;
  Mode mode_ = Mode::About;
  bool droppedFile_ = false;
  bool closeRequested_ = false;
  // The open dialog's state: the last chosen name and the chosen list.
  QString chosenFile_;
  QStringList chosenFiles_;
  bool multiSelect_ = false;
};

}  // namespace torvel
