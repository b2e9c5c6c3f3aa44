// Input selection: the open dialog and file drops, the probe of a chosen
// image and its info box, the merge selection, and the output folder.
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QSpinBox>
#include <QUrl>

#include "engine/files.h"
#include "engine/reader.h"
#include "engine/rules.h"
#include "ui/mainwindow.h"
#include "ui/previewwindow.h"
#include "ui/rawsizedialog.h"

namespace torvel {

namespace {
std::string text(const QString& s) { return s.toStdString(); }
QString qtext(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

// A selection from a drop (already in the dialog's state) or from the dialog.
bool MainWindow::selectionChosen() {
  if (droppedFile_) {
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
  inputFileEdit->setText(qtext(grid.message));
  showStatus(qtext(grid.message));
  mergeColumns->setValue(grid.columns);
  mergeRows->setValue(grid.rows);
}

ImageInfo MainWindow::probeAsking(const QString& path) {
  ImageInfo info = probeImage(text(path));
  if (info.needsGeometry) {
    rawSizeDialog->prepare(info.fileSize, info.guess.width, info.guess.height);
    if (rawSizeDialog->exec() != QDialog::Accepted) return info;  // cancelled: nothing to say
    info = probeImage(text(path), {rawSizeDialog->chosenWidth, rawSizeDialog->chosenHeight, rawSizeDialog->chosenBits()});
  }
  for (const std::string& r : info.refusals) QMessageBox::information(this, "Torvel Tools", qtext(r));
  return info;
}

void MainWindow::takeInput(const QString& path) {
  if (!fileExists(text(path))) return;  // vanished meanwhile: ignored
  setRunControlsEnabled(false);
  input_ = probeAsking(path);
  if (input_.accepted) {
    const std::vector<std::string> refusals = inputLimitRefusals(input_);
    for (const std::string& r : refusals) showError(qtext(r));
    input_.accepted = refusals.empty();
  }
  if (input_.accepted) {
    showInputInfo(input_);
    showStatus("Image is valid");
    inputFileEdit->setToolTip(path);
    inputFileEdit->setText(QFileInfo(path).fileName());
    onSplitTileWidthChanged();
    if (preview_ && preview_->isVisible()) preview_->load(input_);
  } else {
    clearInputInfo();
  }
  setRunControlsEnabled(true);
}

void MainWindow::showPreview() {
  if (!previewable()) return;
  if (!preview_) preview_ = new PreviewWindow(*this);
  preview_->show();
  preview_->raise();
  preview_->load(input_);
}

void MainWindow::showInputInfo(const ImageInfo& info) {
  fileSizeValue->setText(qtext(dotThousands(info.fileSize)));
  widthValue->setText(qtext(dotThousands(info.width)));
  heightValue->setText(qtext(dotThousands(info.height)));
  bitsValue->setText(QString::number(info.bits));
  channelsValue->setText(qtext(channelsText(info)));
  pixelsValue->setText(qtext(pixelCountText(int64_t{info.width} * info.height)));
}

void MainWindow::clearInputInfo() {
  for (QLabel* l : {fileSizeValue, widthValue, heightValue, channelsValue, bitsValue, pixelsValue}) l->setText("");
}

void MainWindow::chooseOutputFolder() {
  if (droppedFile_) {  // the dropped folder is in the field already
    droppedFile_ = false;
    return;
  }
  if (outputFolderEdit->text().isEmpty()) {
    browseDirectory = qtext(folderOf(input_.path));
    outputFolderEdit->setText(browseDirectory);
  }
  QFileDialog dialog(this, "Output directory", browseDirectory);
  dialog.setObjectName("outputFolderDialog");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setFileMode(QFileDialog::Directory);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
    browseDirectory = dialog.selectedFiles().first();
    outputFolderEdit->setText(browseDirectory);
  }
}

void MainWindow::dropFiles(const QStringList& names, const QPoint& at) {
  if (names.isEmpty() || mode_ == Mode::About) return;
  const int y = at.y();
  const bool onInput = y >= inputPanel->y() && y <= inputPanel->y() + inputPanel->height() - 1;
  const bool onOutput = y >= outputPanel->y() && y <= outputPanel->y() + outputPanel->height() - 1;
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
        inputFileEdit->clear();
      }
      chosenFiles_.append(name);
    } else if (onOutput && folderExists(text(name))) {
      droppedFile_ = true;
      outputFolderEdit->setText(name);
      chooseOutputFolder();
      break;
    }
  }
  if (onInput && multiSelect_) {
    if (chosenFiles_.isEmpty())
      inputFileEdit->clear();
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
  return qtext(outputFolder(text(outputFolderEdit->text()), text(inputPath)));
}

namespace {

// A tile side as typed, fitted to the image and the tile limit.
void fitTileSide(QSpinBox* side, uint32_t imageSide) {
  const int fitted = static_cast<int>(fitSplitTile(static_cast<uint32_t>(side->value()), imageSide));
  if (fitted != side->value()) side->setValue(fitted);
}

}  // namespace

void MainWindow::onSplitTileWidthChanged() {
  if (!input_.accepted) return;
  fitTileSide(splitTileWidth, input_.width);
  updateTileCounts();
}

void MainWindow::onSplitTileHeightChanged() {
  if (!input_.accepted) return;
  fitTileSide(splitTileHeight, input_.height);
  updateTileCounts();
}

// The counts follow only sizes a split takes: while typing, they keep their values.
void MainWindow::updateTileCounts() {
  const int w = splitTileWidth->value(), h = splitTileHeight->value();
  if (w < 256 || h < 256) return;
  splitColumns->setValue(static_cast<int>(tileCount(input_.width, static_cast<uint32_t>(w))));
  splitRows->setValue(static_cast<int>(tileCount(input_.height, static_cast<uint32_t>(h))));
}

void MainWindow::onResizeWidthChanged() {
  if (!input_.accepted || resizeWidth->value() < 256) return;
  const uint32_t w = static_cast<uint32_t>(resizeWidth->value());
  resizeHeight->setValue(static_cast<int>(torvel::resizeHeight(input_.width, input_.height, w)));
}

}  // namespace torvel
