// Input selection: the open dialog and file drops, the probe of a chosen
// image and its info box, the merge selection, and the output folder.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>

#include "engine/files.h"
#include "engine/reader.h"
#include "engine/rules.h"
#include "engine/tilenames.h"
#include "ui/inputpanel.h"
#include "ui/mainwindow.h"
#include "ui/operationpanels.h"
#include "ui/outputpanel.h"
#include "ui/previewwindow.h"
#include "ui/rawsizedialog.h"

namespace torvel {

namespace {
std::string text(const QString& s) { return s.toStdString(); }
QString qtext(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

// A dropped selection (already in the dialog's state): the kinds we read only.
bool MainWindow::droppedSelectionValid() {
  droppedFile_ = false;
  if (multiSelect_ && chosenFiles_.size() < 2) return false;
  for (const QString& f : multiSelect_ ? chosenFiles_ : QStringList{chosenFile_}) {
    if (kindOfPath(text(f)) == FileKind::None) {
      showError("Then file type is invalid");
      return false;
    }
  }
  return true;
}

// A selection from a drop or from the dialog.
bool MainWindow::selectionChosen() {
  if (droppedFile_) return droppedSelectionValid();
  QFileDialog dialog(this, "Torvel Tools - input file");
  dialog.setObjectName("inputDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ReadOnly);
  const QStringList filters = {"TIF (" + qtext(extensionPatterns(FileKind::Tiff)) + ")",
                               "RAW (" + qtext(extensionPatterns(FileKind::Raw)) + ")",
                               "KRO (" + qtext(extensionPatterns(FileKind::Kro)) + ")",
                               "All suported file types (" + qtext(extensionPatterns(FileKind::None)) + ")"};
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters[3]);
  dialog.setFileMode(multiSelect_ ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  if (!chosenFile_.isEmpty()) dialog.setDirectory(QFileInfo(chosenFile_).absolutePath());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  chosenFiles_ = dialog.selectedFiles();
  chosenFile_ = chosenFiles_.first();
  return true;
}

void MainWindow::chooseInput() {
  if (!selectionChosen()) return;
  if (multiSelect_)
    takeMergeSelection();
  else
    takeInput(chosenFile_);
}

void MainWindow::takeMergeSelection() {
  std::vector<std::string> files;
  for (const QString& f : chosenFiles_) files.push_back(text(f));
  const MergeGrid grid = mergeGridOf(files);
  if (!grid.ok) return showError(qtext(grid.message));
  inputPanel_->showText(qtext(grid.message));
  showStatus(qtext(grid.message));
  operations_->setMergeGrid(grid.columns, grid.rows);
}

void MainWindow::clearSelection() {
  chosenFiles_.clear();
  inputPanel_->showText("");
  inputPanel_->clearInfo();
}

ImageInfo MainWindow::probeAsking(const QString& path) {
  ImageInfo info = probeImage(text(path));
  if (info.needsGeometry) {
    rawSizeDialog_->prepare(info.fileSize, info.guess.width, info.guess.height);
    if (rawSizeDialog_->exec() != QDialog::Accepted) return info;  // cancelled: nothing to say
    info = probeImage(text(path), {rawSizeDialog_->chosenWidth, rawSizeDialog_->chosenHeight, rawSizeDialog_->chosenBits()});
  }
  for (const std::string& r : info.refusals) QMessageBox::information(this, "Torvel Tools", qtext(r));
  return info;
}

void MainWindow::takeInput(const QString& path) {
  if (!fileExists(text(path))) return showStatus("File not found: " + path);
  setRunControlsEnabled(false);
  input_ = probeAsking(path);
  if (input_.accepted) {
    const std::vector<std::string> refusals = inputLimitRefusals(input_);
    for (const std::string& r : refusals) showError(qtext(r));
    input_.accepted = refusals.empty();
  }
  if (input_.accepted) {
    inputPanel_->showInfo(input_);
    showStatus("Image is valid");
    showLossNote();
    inputPanel_->showFile(path);
    operations_->setImage(input_);
    showFieldProblem();
    if (preview_ && preview_->isVisible()) preview_->load(input_);
  } else {
    inputPanel_->clearInfo();
  }
  setRunControlsEnabled(true);
}

void MainWindow::openFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  QStringList absolute;
  for (const QString& p : paths) {
    absolute << QFileInfo(p).absoluteFilePath();
    if (!fileExists(text(absolute.back()))) return showError("File not found: " + absolute.back());
  }
  const bool several = absolute.size() > 1;
  if (several != (mode_ == Mode::Merge) || mode_ == Mode::About) showMode(several ? Mode::Merge : Mode::Convert);
  droppedFile_ = true;  // taken as a drop is: no dialog
  chosenFiles_ = absolute;
  chosenFile_ = absolute.first();
  chooseInput();
  droppedFile_ = false;
}

void MainWindow::showPreview() {
  if (!previewable()) return;
  if (!preview_) preview_ = new PreviewWindow(*operations_, this);
  preview_->show();
  preview_->raise();
  preview_->load(input_);
}

void MainWindow::chooseOutputFolder() {
  if (droppedFile_) {  // the dropped folder is in the field already
    droppedFile_ = false;
    return;
  }
  if (output_->folderText().isEmpty()) {
    browseDirectory_ = qtext(folderOf(input_.path));
    output_->setFolderText(browseDirectory_);
  }
  QFileDialog dialog(this, "Output directory", browseDirectory_);
  dialog.setObjectName("outputFolderDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setFileMode(QFileDialog::Directory);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    browseDirectory_ = dialog.selectedFiles().first();
    output_->setFolderText(browseDirectory_);
  }
}

void MainWindow::dropFiles(const QStringList& names, const QPoint& at) {
  if (names.isEmpty() || mode_ == Mode::About) return;
  const int y = at.y();
  const bool onInput = y >= inputPanel_->y() && y <= inputPanel_->y() + inputPanel_->height() - 1;
  const bool onOutput = y >= output_->y() && y <= output_->y() + output_->height() - 1;
  if (onInput && busy()) return;  // a running operation's input stays untouched
  const int count = multiSelect_ ? static_cast<int>(names.size()) : 1;
  for (int i = 0; i < count; ++i) {
    const QString& name = names[i];
    if (onInput && fileExists(text(name))) {
      droppedFile_ = true;
      if (!multiSelect_) {
        chosenFile_ = name;
        chooseInput();
        continue;
      }
      if (i == 0) {
        chosenFiles_.clear();
        showStatus("Processing input files list");
        inputPanel_->showText("");
      }
      chosenFiles_.append(name);
    } else if (onOutput && folderExists(text(name))) {
      droppedFile_ = true;
      output_->setFolderText(name);
      chooseOutputFolder();
      break;
    }
  }
  if (onInput && multiSelect_) {
    if (chosenFiles_.isEmpty())
      inputPanel_->showText("");
    else
      chooseInput();
  }
  droppedFile_ = false;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
  QStringList names;
  for (const QUrl& u : e->mimeData()->urls())
    if (u.isLocalFile()) names.append(u.toLocalFile());
  e->acceptProposedAction();
  dropFiles(names, e->position().toPoint());
}

QString MainWindow::outputFolderFor(const QString& inputPath) const {
  return qtext(outputFolder(text(output_->folderText()), text(inputPath)));
}

}  // namespace torvel
