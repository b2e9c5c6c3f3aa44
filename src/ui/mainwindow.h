// The main window: the mode bar, the input, operation, output and about
// panels, and the progress panel, each a class that owns its widgets. Thin:
// it collects an operation's settings, hands the operation to the run
// controller's worker thread and shows what the run reports. Input
// selection in inputselection.cpp.
#pragma once

#include <QStringList>
#include <QWidget>
#include <memory>

#include "engine/image.h"
#include "engine/throughput.h"
#include "engine/writer.h"
#include "settings/settingsfile.h"
#include "settings/updatecheck.h"
#include "ui/launcherprogress.h"
#include "ui/mode.h"
#include "ui/runcontroller.h"

class QStatusBar;
class QTimer;

class QPushButton;

namespace torvel {

class AboutPage;
class AbortConfirmation;
class InputPanel;
class ModeBar;
class OperationPanels;
class OutputPanel;
class PreviewWindow;
class ProgressPanel;
class RawSizeDialog;

inline constexpr const char* homePage = "https://torveltools.example/";

class MainWindow : public QWidget {
  Q_OBJECT
 public:
  // `settingsPath`: where the settings live (the front end passes the path).
  explicit MainWindow(const QString& settingsPath, QWidget* parent = nullptr);
  ~MainWindow() override;

  void showMode(Mode mode);
  Mode mode() const { return mode_; }
  OutputFormat outputFormat() const;

  // Runs: Start, Pause/Continue, Abort.
  void start();
  void togglePause();
  void askToAbort();
  bool busy() const { return run_->running(); }
  bool paused() const { return run_->paused(); }
  RunController& runController() { return *run_; }
  LauncherProgress::State launcherState() const { return launcherProgress_.state(); }

  // Input and output selection (inputselection.cpp).
  void chooseInput();
  void chooseOutputFolder();
  // A drop of files at a point of the window (client coordinates).
  void dropFiles(const QStringList& names, const QPoint& at);
  const ImageInfo& input() const { return input_; }
  bool droppedFile() const { return droppedFile_; }
  QString outputFolderFor(const QString& inputPath) const;
  // The folder last chosen in the folder browser.
  void setBrowseDirectory(const QString& folder) { browseDirectory_ = folder; }

  // The preview of the chosen input (made once, then reused).
  void showPreview();
  bool previewable() const;
  PreviewWindow* preview() const { return preview_; }

  // Update check and home page.
  void checkForUpdates();
  void pollUpdateCheck();
  QTimer* updateTimer() const { return updateTimer_; }
  void setUpdateEndpoint(const QString& endpoint) { updateEndpoint_ = endpoint; }
  bool updateCheckRunning() const { return updateCheck_ != nullptr; }
  void openHomePage();
  bool saveSettings();

  void showError(const QString& text);
  void showStatus(const QString& text);
  bool askReplace(const QStringList& paths);
  void showLossNote();
  void showFieldProblem();
  // Files given to the program (the desktop entry's %F): one is the input,
  // several the tiles of a merge.
  void openFiles(const QStringList& paths);

 protected:
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  QPoint onScreen(QPoint saved) const;
  static std::string writtenText(const std::vector<std::string>& written);
  void showWrittenFolder(const QString& folder);
  void buildPanels();
  void connectRuns();
  void setRunControlsEnabled(bool enabled);
  void enterMode(Mode mode);

  // Input selection (inputselection.cpp).
  bool selectionChosen();
  bool droppedSelectionValid();
  void takeMergeSelection();
  void takeInput(const QString& path);
  void clearSelection();
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

  ModeBar* modes_;
  InputPanel* inputPanel_;
  OperationPanels* operations_;
  OutputPanel* output_;
  ProgressPanel* progress_;
  AboutPage* about_;
  QStatusBar* statusBar_;
  QTimer* updateTimer_;
  RawSizeDialog* rawSizeDialog_;
  AbortConfirmation* abortConfirmation_;
  PreviewWindow* preview_ = nullptr;
  LauncherProgress launcherProgress_{"torvel-tools"};
  std::unique_ptr<SettingsFile> settings_;
  std::unique_ptr<RunController> run_;
  std::unique_ptr<UpdateCheck> updateCheck_;
  QString updateEndpoint_ = QString::fromStdString(torvel::updateEndpoint());
  QString browseDirectory_;
  ImageInfo input_;  // the probed input of the single-file modes
  Mode mode_ = Mode::About;
  bool droppedFile_ = false;
  bool closeRequested_ = false;
  // The open dialog's state: the last chosen name and the chosen list.
  QString chosenFile_;
  QStringList chosenFiles_;
  bool multiSelect_ = false;
  bool statusProblem_ = false;  // the status line shows a field problem
  Throughput throughput_;  // the speed and time left of the running phase
  QPushButton* openFolder_ = nullptr;
};

}  // namespace torvel
