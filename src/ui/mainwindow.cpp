#include "ui/mainwindow.h"
#include "ui/previewwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "engine/files.h"
#include "engine/operations.h"
#include "engine/rules.h"
#include "resize/pipeline.h"
#include "torvel/version.h"
#include "ui/abortconfirmation.h"
#include "ui/placed.h"
#include "ui/rawsizedialog.h"

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
  buildButtonBar();
  buildInputPanel();
  buildOperationPanels();
  buildOutputPanel();
  buildAboutPage();
  buildProgressPanel();
  statusBar = placed(new QStatusBar(this), "statusBar", 0, 589, 426, 19);
  statusBar->setSizeGripEnabled(false);
  updateTimer = new QTimer(this);
  updateTimer->setObjectName("updateTimer");
  updateTimer->setInterval(500);
  connect(updateTimer, &QTimer::timeout, this, [this] { pollUpdateCheck(); });

  progressPanel->hide();
  showMode(Mode::About);
  inputPanel->hide();
  outputPanel->hide();
  settings_ = std::make_unique<SettingsFile>(text(settingsPath));
  const Settings s = settings_->load();  // never fails: defaults for what it cannot read
  move(s.windowX, s.windowY);
  checkUpdatesAtStart->setChecked(s.checkForUpdates);
  if (s.checkForUpdates) updateTimer->start();

  run_ = std::make_unique<RunController>([this](const QString&) {
    return QMessageBox::question(this, "Torvel Tools", "Output file exists. Do you want to overwrite it?",
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  });
  connect(run_.get(), &RunController::statusChanged, this, &MainWindow::showStatus);
  connect(run_.get(), &RunController::noted, this,
          [this](const QString& t) { QMessageBox::information(this, "Torvel Tools", t); });
  connect(run_.get(), &RunController::progressStarted, this, &MainWindow::onProgressStarted);
  connect(run_.get(), &RunController::progressChanged, this, &MainWindow::onProgressChanged);
  connect(run_.get(), &RunController::progressEnded, this, &MainWindow::onProgressEnded);
  connect(run_.get(), &RunController::finished, this, &MainWindow::onRunFinished);
  setAcceptDrops(true);
  splitTileWidth->setMaximum(static_cast<int>(maxSplitTile));
  splitTileHeight->setMaximum(static_cast<int>(maxSplitTile));
  connectFields();
  rawSizeDialog = new RawSizeDialog(this);
  abortConfirmation = new AbortConfirmation(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::showMode(Mode m) {
  showStatus("");
  inputPanel->setVisible(m != Mode::About);
  if (m == Mode::Merge) {
    inputLabel->setText("Input files");
    inputFileEdit->clear();
    chosenFiles_.clear();
    multiSelect_ = true;
    clearInputInfo();
    mergeColumns->setValue(0);
    mergeRows->setValue(0);
  } else {
    inputLabel->setText("Input file");
    if (mode_ == Mode::Merge) {  // leaving Merge clears its selection
      multiSelect_ = false;
      chosenFiles_.clear();
      inputFileEdit->clear();
      clearInputInfo();
      splitColumns->setValue(0);
      splitRows->setValue(0);
    }
  }
  const std::pair<QFrame*, Mode> panels[] = {
      {convertPanel, Mode::Convert}, {cropPanel, Mode::Crop},   {resizePanel, Mode::Resize},
      {splitPanel, Mode::Split},     {mergePanel, Mode::Merge},
  };
  for (const auto& [p, pm] : panels) p->setVisible(m == pm);
  if (m == Mode::Convert || m == Mode::Crop || m == Mode::Resize) startButton->setText("Start");
  if (m == Mode::Split) startButton->setText("Split");
  if (m == Mode::Merge) startButton->setText("Merge");
  aboutPage->setVisible(m == Mode::About);
  outputPanel->setVisible(m != Mode::About);
  mode_ = m;
  previewButton->setEnabled(previewable() && startButton->isEnabled());
  if (preview_) preview_->refresh();
}

OutputFormat MainWindow::outputFormat() const {
  if (tiffLzwFormat->isChecked()) return {FileKind::Tiff, true};
  if (kroFormat->isChecked()) return {FileKind::Kro, false};
  if (rawFormat->isChecked()) return {FileKind::Raw, false};
  return {FileKind::Tiff, false};
}

// The controls that could start a second run or change the mode.
void MainWindow::setRunControlsEnabled(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{convertButton, cropButton, resizeButton, slowResize, fastResize,
                                                    splitButton, mergeButton, aboutButton, inputBrowseButton,
                                                    outputBrowseButton, startButton})
    w->setEnabled(enabled);
  previewButton->setEnabled(enabled && previewable());
}

bool MainWindow::previewable() const {
  return input_.accepted && mode_ != Mode::Merge && mode_ != Mode::About && !inputFileEdit->text().isEmpty();
}

void MainWindow::showError(const QString& t) { QMessageBox::critical(this, "Torvel Tools", t); }

void MainWindow::showStatus(const QString& t) {
  if (t.isEmpty())
    statusBar->clearMessage();
  else
    statusBar->showMessage(t);
}

void MainWindow::start() {
  showStatus("");
  if (!browseDirectory.isEmpty() && !folderExists(text(browseDirectory))) {
    showError("Output directory doesn't exists");
    return;
  }
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
    case Mode::Crop: {
      const Region r{static_cast<uint32_t>(cropX->value()), static_cast<uint32_t>(cropY->value()),
                     static_cast<uint32_t>(cropWidth->value()), static_cast<uint32_t>(cropHeight->value())};
      return [=](const RunContext& c) { return cropImage({in, r, format, outDir}, c); };
    }
    case Mode::Resize: {
      const ResizeRequest r{in, static_cast<uint32_t>(resizeWidth->value()), static_cast<uint32_t>(resizeHeight->value()),
                            fastResize->isChecked(), format, text(outputFolderEdit->text())};
      return [=](const RunContext& c) { return resizeImage(r, c); };
    }
    case Mode::Split: {
      onSplitTileWidthChanged();
      const SplitRequest r{in, static_cast<uint32_t>(splitTileWidth->value()),
                           static_cast<uint32_t>(splitTileHeight->value()), format, outDir};
      return [=](const RunContext& c) { return splitImage(r, c); };
    }
    case Mode::Merge: {
      MergeRequest r{{}, static_cast<uint32_t>(mergeColumns->value()), static_cast<uint32_t>(mergeRows->value()),
                     format, "", in.path};
      for (const QString& f : chosenFiles_) r.tiles.push_back(text(f));
      if (!r.tiles.empty()) r.outDir = text(outputFolderFor(chosenFiles_.first()));
      return [=](const RunContext& c) { return mergeSelectedTiles(r, c); };
    }
    case Mode::About:
      break;
  }
  return {};
}

void MainWindow::setProgressLook(bool paused) {
  progressPanel->setStyleSheet(paused ? "#progressPanel { background: rgb(216, 216, 216); }"
                                      : "#progressPanel { background: white; }");
}

void MainWindow::onProgressStarted(qint64 max, const QString& caption) {
  const bool paused = run_->paused();
  abortButton->setText("Abort");
  pauseButton->setText(paused ? "Continue" : "Pause");
  progressCaption->setText(caption);
  progressBar->setValue(0);
  progressBar->setMaximum(static_cast<int>(std::min<qint64>(max, INT32_MAX)));
  setProgressLook(paused);
  progressPanel->show();
  progressPanel->raise();
  launcherProgress.setValue(0, max);
  launcherProgress.setState(paused ? LauncherProgress::State::Paused : LauncherProgress::State::Normal);
}

void MainWindow::onProgressChanged(qint64 position) {
  progressBar->setValue(static_cast<int>(std::clamp<qint64>(position, 0, progressBar->maximum())));
  launcherProgress.setValue(position, progressBar->maximum());
}

void MainWindow::onProgressEnded() {
  progressPanel->hide();
  launcherProgress.setState(LauncherProgress::State::None);
}

void MainWindow::onRunFinished(const RunResult& result) {
  // A cancel says nothing more; a declined replacement the user answered needs no second word.
  const bool told = result.outcome == Outcome::Cancelled ||
                    (result.outcome == Outcome::Declined && run_->replacementRefused());
  if (!result.completed() && !told && !result.message.empty()) showError(QString::fromStdString(result.message));
  showStatus(result.completed() ? "Operation completed successfully" : "Operation aborted");
  onProgressEnded();
  setRunControlsEnabled(true);
  if (closeRequested_) QTimer::singleShot(0, this, &QWidget::close);
}

void MainWindow::togglePause() {
  const bool paused = !run_->paused();
  run_->setPaused(paused);
  pauseButton->setText(paused ? "Continue" : "Pause");
  launcherProgress.setState(paused ? LauncherProgress::State::Paused : LauncherProgress::State::Normal);
  setProgressLook(paused);
}

// The run holds while the question is open; Yes cancels it, and a paused run
// leaves its wait to meet the cancel.
void MainWindow::askToAbort() {
  const bool wasPaused = run_->paused();
  run_->setPaused(true);
  if (abortConfirmation->confirmAt(static_cast<quint16>(x() + 20), static_cast<quint16>(y() + 100))) {
    run_->cancel();
    run_->setPaused(false);
  } else {
    run_->setPaused(wasPaused);
  }
}

void MainWindow::pollUpdateCheck() {
  if (!updateCheck) {
    updateCheck = std::make_unique<UpdateCheck>();
    updateCheck->currentVersion = torvelVersion;
    updateCheck->endpoint = text(updateEndpoint);
    updateCheck->start();
  } else if (updateCheck->finished()) {
    updateTimer->stop();
    const UpdateOutcome outcome = updateCheck->outcome();
    const bool found = outcome == UpdateOutcome::NewVersion;
    updateResult->setText(found ? "New software version available"
                          : outcome == UpdateOutcome::Failed ? "Could not check for updates"
                                                             : "No new updates available");
    updateResult->setStyleSheet(found ? "color: rgb(255, 0, 0);" : "color: black;");
    updateResult->show();
    updateCheck.reset();
  }
}

void MainWindow::checkForUpdates() {
  updateResult->setText("Checking for updates...");
  updateResult->setStyleSheet("color: black;");
  updateResult->show();
  updateTimer->start();
}

void MainWindow::openHomePage() { QDesktopServices::openUrl(QUrl(homePage)); }

bool MainWindow::saveSettings() { return settings_->save({x(), y(), checkUpdatesAtStart->isChecked()}); }

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

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == splitColumns || watched == splitRows) && event->type() == QEvent::FocusIn) {
    QTimer::singleShot(0, this, [this] { focusNextChild(); });
  } else if (watched == outputFolderEdit && event->type() == QEvent::MouseButtonDblClick) {
    outputFolderEdit->clear();
    return true;
  } else if (event->type() == QEvent::MouseButtonRelease && qobject_cast<QSpinBox*>(watched->parent()) &&
             watched->parent() != splitColumns && watched->parent() != splitRows) {
    auto* edit = static_cast<QLineEdit*>(watched);
    QTimer::singleShot(0, edit, [edit] { edit->selectAll(); });
  } else if (watched == homePageLink && event->type() == QEvent::MouseButtonRelease) {
    openHomePage();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace torvel
