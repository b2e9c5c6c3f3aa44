#include "ui/mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include "engine/files.h"
#include "engine/operations.h"
#include "engine/rules.h"
#include "engine/runtexts.h"
#include "resize/pipeline.h"
#include "torvel/version.h"
#include "ui/aboutpage.h"
#include "ui/abortconfirmation.h"
#include "ui/inputpanel.h"
#include "ui/modebar.h"
#include "ui/operationpanels.h"
#include "ui/outputpanel.h"
#include "ui/previewwindow.h"
#include "ui/progresspanel.h"
#include "ui/rawsizedialog.h"
#include "ui/widgets.h"

namespace torvel {

namespace {
std::string text(const QString& s) { return s.toStdString(); }
QString qtext(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

MainWindow::MainWindow(const QString& settingsPath, QWidget* parent) : QWidget(parent) {
  setObjectName("mainWindow");
  setWindowTitle(QString("Torvel Tools ") + torvelVersion);
  setFixedSize(426, 608);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(232, 232, 232));
  setPalette(pal);
  buildPanels();
  updateTimer_ = new QTimer(this);
  updateTimer_->setObjectName("updateTimer");
  updateTimer_->setInterval(500);
  connect(updateTimer_, &QTimer::timeout, this, [this] { pollUpdateCheck(); });

  progress_->hide();
  showMode(Mode::About);
  settings_ = std::make_unique<SettingsFile>(text(settingsPath));
  const Settings s = settings_->load();  // never fails: defaults for what it cannot read
  move(onScreen(QPoint(s.windowX, s.windowY)));
  about_->setCheckAtStart(s.checkForUpdates);
  if (s.checkForUpdates) updateTimer_->start();
  connectRuns();
  setAcceptDrops(true);
  rawSizeDialog_ = new RawSizeDialog(this);
  abortConfirmation_ = new AbortConfirmation(this);
}

MainWindow::~MainWindow() = default;

// A saved position on a screen that is gone, or beyond a smaller or rescaled
// one, would open the window where nobody sees it: bring it into the nearest
// screen's available area.
QPoint MainWindow::onScreen(QPoint saved) const {
  const QRect wanted(saved, size());
  QScreen* screen = QGuiApplication::screenAt(wanted.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return saved;
  const QRect area = screen->availableGeometry();
  if (area.contains(wanted)) return saved;
  return QPoint(std::clamp(saved.x(), area.left(), std::max(area.left(), area.right() + 1 - width())),
                std::clamp(saved.y(), area.top(), std::max(area.top(), area.bottom() + 1 - height())));
}

void MainWindow::buildPanels() {
  modes_ = new ModeBar(this);
  connect(modes_, &ModeBar::chosen, this, &MainWindow::showMode);
  inputPanel_ = new InputPanel(this);
  connect(inputPanel_, &InputPanel::browseClicked, this, &MainWindow::chooseInput);
  connect(inputPanel_, &InputPanel::previewClicked, this, &MainWindow::showPreview);
  operations_ = new OperationPanels(this);
  connect(operations_, &OperationPanels::notice, this, &MainWindow::showStatus);
  connect(operations_, &OperationPanels::changed, this, &MainWindow::showFieldProblem);
  output_ = new OutputPanel(this);
  connect(output_, &OutputPanel::browseClicked, this, &MainWindow::chooseOutputFolder);
  connect(output_, &OutputPanel::startClicked, this, &MainWindow::start);
  connect(output_, &OutputPanel::formatChanged, this, &MainWindow::showLossNote);
  about_ = new AboutPage(this, windowTitle(), homePage);
  connect(about_, &AboutPage::checkClicked, this, &MainWindow::checkForUpdates);
  connect(about_, &AboutPage::homePageClicked, this, &MainWindow::openHomePage);
  progress_ = new ProgressPanel(this);
  connect(progress_, &ProgressPanel::pauseClicked, this, &MainWindow::togglePause);
  connect(progress_, &ProgressPanel::abortClicked, this, &MainWindow::askToAbort);
  statusBar_ = placed(new QStatusBar(this), "statusBar", 0, 589, 426, 19);
  statusBar_->setSizeGripEnabled(false);
  openFolder_ = new QPushButton("Open folder", statusBar_);
  openFolder_->setObjectName("openFolderButton");
  openFolder_->setFlat(true);
  openFolder_->hide();
  statusBar_->addPermanentWidget(openFolder_);
  connect(openFolder_, &QPushButton::clicked, this,
          [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(openFolder_->toolTip())); });
}

void MainWindow::connectRuns() {
  run_ = std::make_unique<RunController>([this](const QStringList& paths) { return askReplace(paths); });
  connect(run_.get(), &RunController::statusChanged, this, &MainWindow::showStatus);
  connect(run_.get(), &RunController::noted, this,
          [this](const QString& t) { QMessageBox::information(this, "Torvel Tools", t); });
  connect(run_.get(), &RunController::progressStarted, this, &MainWindow::onProgressStarted);
  connect(run_.get(), &RunController::progressChanged, this, &MainWindow::onProgressChanged);
  connect(run_.get(), &RunController::captionChanged, progress_, &ProgressPanel::setCaption);
  connect(run_.get(), &RunController::progressEnded, this, &MainWindow::onProgressEnded);
  connect(run_.get(), &RunController::finished, this, &MainWindow::onRunFinished);
}

// What the chosen format will not keep of the input, said before Start.
void MainWindow::showLossNote() {
  if (!input_.accepted || mode_ == Mode::Merge || mode_ == Mode::About) return;
  if (mode_ == Mode::Split && operations_->pyramid().chosen()) return;
  const std::string note = lossNote(outputFormat(), input_);
  if (!note.empty()) showStatus(qtext(note));
}

// What Start would refuse in the crop or resize fields, said as they are typed.
void MainWindow::showFieldProblem() {
  if (!input_.accepted || busy()) return;
  std::string problem;
  if (mode_ == Mode::Crop) {
    const Region r = operations_->cropRegion();
    problem = cropRefusal(input_.width, input_.height, r.x, r.y, r.width, r.height);
  } else if (mode_ == Mode::Resize) {
    problem = resizeSizeRefusal(input_.width, input_.height);
  }
  if (!problem.empty()) showStatus(qtext(problem));
  else if (statusProblem_) showStatus("");
  statusProblem_ = !problem.empty();
}

// One output keeps the question it always had; a run of several asks once
// for all of them, and No is the default.
bool MainWindow::askReplace(const QStringList& paths) {
  if (paths.size() == 1)
    return QMessageBox::question(this, "Torvel Tools", "Output file exists. Do you want to overwrite it?",
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  QStringList names;
  for (int i = 0; i < std::min<int>(3, static_cast<int>(paths.size())); ++i) names << qtext(fileNameOf(text(paths[i])));
  const QString question = QString("%1 output files already exist in %2 (%3%4). Replace them?")
                               .arg(paths.size())
                               .arg(qtext(folderOf(text(paths.front()))), names.join(", "), paths.size() > 3 ? ", ..." : "");
  return QMessageBox::question(this, "Torvel Tools", question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

void MainWindow::showMode(Mode m) {
  showStatus("");
  showWrittenFolder({});
  inputPanel_->setVisible(m != Mode::About);
  enterMode(m);
  operations_->showMode(m);
  if (m == Mode::Convert || m == Mode::Crop || m == Mode::Resize) output_->setStartCaption("Start");
  if (m == Mode::Split) output_->setStartCaption("Split");
  if (m == Mode::Merge) output_->setStartCaption("Merge");
  about_->setVisible(m == Mode::About);
  output_->setVisible(m != Mode::About);
  mode_ = m;
  modes_->setActive(m);
  inputPanel_->setPreviewEnabled(previewable() && output_->startEnabled());
  if (preview_ && !previewable()) preview_->hide();  // no stale picture of another input in Merge
  if (preview_) preview_->refresh();
  showFieldProblem();
}

// Merge works on a list of tiles: entering it, or leaving it, clears the selection.
void MainWindow::enterMode(Mode m) {
  inputPanel_->setMultiple(m == Mode::Merge);
  if (m == Mode::Merge) {
    clearSelection();
    multiSelect_ = true;
    operations_->setMergeGrid(0, 0);
  } else if (mode_ == Mode::Merge) {
    clearSelection();
    multiSelect_ = false;
    operations_->clearTileCounts();
  }
}

OutputFormat MainWindow::outputFormat() const { return output_->format(); }

// The controls that could start a second run or change the mode.
void MainWindow::setRunControlsEnabled(bool enabled) {
  modes_->setButtonsEnabled(enabled);
  operations_->setResizeMethodEnabled(enabled);
  inputPanel_->setBrowseEnabled(enabled);
  output_->setRunControlsEnabled(enabled);
  inputPanel_->setPreviewEnabled(enabled && previewable());
}

bool MainWindow::previewable() const {
  return input_.accepted && mode_ != Mode::Merge && mode_ != Mode::About && inputPanel_->hasText();
}

void MainWindow::showError(const QString& t) { QMessageBox::critical(this, "Torvel Tools", t); }

void MainWindow::showStatus(const QString& t) {
  if (t.isEmpty())
    statusBar_->clearMessage();
  else
    statusBar_->showMessage(t);
}

void MainWindow::start() {
  showStatus("");
  showWrittenFolder({});
  const QString folder = output_->folderText();
  if (!folder.isEmpty() && !folderExists(text(folder))) return showError(qtext(outputFolderRefusal(text(folder))));
  RunController::Job job = jobForMode();
  if (!job) return;
  setRunControlsEnabled(false);
  run_->start(std::move(job));
}

// Everything a run needs is copied into its job: the worker never reads a control.
RunController::Job MainWindow::jobForMode() {
  const OutputFormat format = outputFormat();
  const ImageInfo in = input_;
  const std::string outDir = text(outputFolderFor(qtext(in.path)));
  switch (mode_) {
    case Mode::Convert:
      return [=](const RunContext& c) { return convertImage({in, {0, 0, in.width, in.height}, format, outDir}, c); };
    case Mode::Crop:
      return [=, r = operations_->cropRegion()](const RunContext& c) { return cropImage({in, r, format, outDir}, c); };
    case Mode::Resize: {
      const ResizeRequest r{in, operations_->resizeWidth(), operations_->resizeHeight(), operations_->fastResize(),
                            format, text(output_->folderText())};
      return [=](const RunContext& c) { return resizeImage(r, c); };
    }
    case Mode::Split: {
      if (operations_->pyramid().chosen()) {
        const PyramidRequest r{in, operations_->pyramid().settings(), outDir};
        return [=](const RunContext& c) { return makePyramid(r, c); };
      }
      operations_->fitSplitTiles();
      const SplitRequest r{in, operations_->tileWidth(), operations_->tileHeight(), format, outDir};
      return [=](const RunContext& c) { return splitImage(r, c); };
    }
    case Mode::Merge: {
      MergeRequest r{{}, operations_->mergeColumns(), operations_->mergeRows(), format, "", in.path};
      for (const QString& f : chosenFiles_) r.tiles.push_back(text(f));
      if (!r.tiles.empty()) r.outDir = text(outputFolderFor(chosenFiles_.first()));
      return [=](const RunContext& c) { return mergeSelectedTiles(r, c); };
    }
    case Mode::About:
      break;
  }
  return {};
}

void MainWindow::onProgressStarted(qint64 max, const QString& caption) {
  const bool paused = run_->paused();
  progress_->begin(max, caption, paused);
  progress_->show();
  throughput_.setPaused(paused);
  throughput_.start();
  launcherProgress_.setValue(0, max);
  launcherProgress_.setState(paused ? LauncherProgress::State::Paused : LauncherProgress::State::Normal);
}

void MainWindow::onProgressChanged(qint64 position) {
  progress_->setPosition(position);
  const int max = progress_->maximum();
  const double done = max > 0 ? double(std::min<qint64>(position, max)) / max : 0;
  progress_->setRate(qtext(throughput_.speedText()).trimmed() + "     " + qtext(throughput_.leftText(done)));
  launcherProgress_.setValue(position, progress_->maximum());
}

void MainWindow::onProgressEnded() {
  progress_->hide();
  launcherProgress_.setState(LauncherProgress::State::None);
}

void MainWindow::onRunFinished(const RunResult& result) {
  // A cancel says nothing more; a declined replacement the user answered needs no second word.
  const bool told = result.outcome == Outcome::Cancelled ||
                    (result.outcome == Outcome::Declined && run_->replacementRefused());
  if (!result.completed() && !told && !result.message.empty()) showError(qtext(result.message));
  showStatus(result.completed() ? qtext(outcomeText(Outcome::Completed) + writtenText(result.written)) : "Operation aborted");
  showWrittenFolder(result.completed() && !result.written.empty() ? qtext(folderOf(result.written.front())) : QString());
  if (mode_ == Mode::Split && result.completed()) {
    QString page;  // a pyramid's viewer page, when it has one
    for (const std::string& path : result.written)
      if (extensionOf(path) == ".html") page = qtext(path);
    operations_->pyramid().setViewerPage(page);
  }
  onProgressEnded();
  setRunControlsEnabled(true);
  if (closeRequested_) QTimer::singleShot(0, this, &QWidget::close);
}

// The written path after a run: one file by its path, several by their count and folder.
std::string MainWindow::writtenText(const std::vector<std::string>& written) {
  if (written.empty()) return {};
  if (written.size() == 1) return ": " + written.front();
  return ": " + std::to_string(written.size()) + " files in " + folderOf(written.front());
}

// "Open folder" beside the status after a run that wrote something; an empty
// folder hides it.
void MainWindow::showWrittenFolder(const QString& folder) {
  openFolder_->setVisible(!folder.isEmpty());
  openFolder_->setToolTip(folder);
}

void MainWindow::togglePause() {
  const bool paused = !run_->paused();
  run_->setPaused(paused);
  progress_->setPaused(paused);
  throughput_.setPaused(paused);
  launcherProgress_.setState(paused ? LauncherProgress::State::Paused : LauncherProgress::State::Normal);
}

// The run holds while the question is open; Yes cancels it, and a paused run
// leaves its wait to meet the cancel.
void MainWindow::askToAbort() {
  const bool wasPaused = run_->paused();
  run_->setPaused(true);
  if (abortConfirmation_->confirmAt(x() + 20, y() + 100)) {
    run_->cancel();
    run_->setPaused(false);
  } else {
    run_->setPaused(wasPaused);
  }
}

void MainWindow::pollUpdateCheck() {
  if (!updateCheck_) {
    updateCheck_ = std::make_unique<UpdateCheck>();
    updateCheck_->currentVersion = torvelVersion;
    updateCheck_->endpoint = text(updateEndpoint_);
    updateCheck_->start();
  } else if (updateCheck_->finished()) {
    updateTimer_->stop();
    about_->showOutcome(updateCheck_->outcome());
    updateCheck_.reset();
  }
}

void MainWindow::checkForUpdates() {
  about_->showChecking();
  updateTimer_->start();
}

void MainWindow::openHomePage() { QDesktopServices::openUrl(QUrl(homePage)); }

bool MainWindow::saveSettings() { return settings_->save({x(), y(), about_->checkAtStart()}); }

void MainWindow::closeEvent(QCloseEvent* e) {
  if (busy()) {
    // As the Abort button: ask, and on Yes let the run clean up, then close.
    e->ignore();
    if (closeRequested_) return;
    askToAbort();
    closeRequested_ = run_->cancelRequested();
    return;
  }
  saveSettings();  // a settings file that cannot be written never keeps the window open
  e->accept();
}

}  // namespace torvel
