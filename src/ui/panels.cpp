// The window's layout: the mode buttons, the input, operation, output and
// progress panels and the about page, each at its place.
#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QToolButton>
#include <tuple>

#include "ui/mainwindow.h"
#include "ui/placed.h"

// The logo lives in a resource of this static library: make sure it is linked in.
static void initResources() { Q_INIT_RESOURCE(resources); }

namespace torvel {

namespace {

QFrame* panel(QWidget* parent, const char* name, int x, int y, int w, int h) {
  return placed(new QFrame(parent), name, x, y, w, h);
}

QLabel* label(QWidget* parent, const QString& text, int x, int y, int w, int h = 16) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(x, y, w, h);
  return l;
}

QSpinBox* number(QWidget* parent, const char* name, int x, int y, int min, int max, int value, bool readOnly = false) {
  auto* s = placed(new QSpinBox(parent), name, x, y, 90, 21);
  s->setRange(min, max);
  s->setValue(value);
  if (readOnly) {
    s->setReadOnly(true);
    s->setButtonSymbols(QAbstractSpinBox::NoButtons);
  }
  return s;
}

// A group of two labelled numbers, one above the other, of the same range.
std::pair<QSpinBox*, QSpinBox*> numberPair(QWidget* parent, const char* title, int x, const char* labelA,
                                           const char* nameA, const char* labelB, const char* nameB, int min, int max,
                                           int value, bool readOnly = false) {
  auto* g = new QGroupBox(title, parent);
  g->setGeometry(x, 60, 180, 100);
  label(g, labelA, 16, 28, 50);
  label(g, labelB, 16, 60, 50);
  return {number(g, nameA, 70, 26, min, max, value, readOnly), number(g, nameB, 70, 58, min, max, value, readOnly)};
}

void title(QWidget* parent, const char* text, const char* subtitle) {
  QLabel* t = label(parent, text, 0, 8, parent->width(), 18);
  QFont f = t->font();
  f.setBold(true);
  f.setPointSize(f.pointSize() + 2);
  t->setFont(f);
  t->setAlignment(Qt::AlignHCenter);
  label(parent, subtitle, 0, 30, parent->width(), 16)->setAlignment(Qt::AlignHCenter);
}

QRadioButton* radio(QWidget* parent, const char* text, const char* name, int x, int y, int w) {
  return placed(new QRadioButton(text, parent), name, x, y, w, 20);
}

// A read-only path field with its "..." browse button on its right.
std::pair<QLineEdit*, QToolButton*> pathRow(QWidget* parent, const char* fieldName, const char* buttonName, int y) {
  auto* field = placed(new QLineEdit(parent), fieldName, 8, y, 385, 21);
  field->setReadOnly(true);
  auto* browse = placed(new QToolButton(parent), buttonName, 396, y, 23, 21);
  browse->setText("...");
  return {field, browse};
}

}  // namespace

void MainWindow::buildButtonBar() {
  buttonBar = panel(this, "buttonBar", 0, 0, 426, 80);
  const char* names[] = {"convertButton", "cropButton", "resizeButton", "splitButton", "mergeButton", "aboutButton"};
  const char* captions[] = {"Convert", "Crop", "Resize", "Split", "Merge", "About"};
  const int lefts[] = {8, 77, 146, 215, 284, 354};
  QPushButton** targets[] = {&convertButton, &cropButton, &resizeButton, &splitButton, &mergeButton, &aboutButton};
  for (int i = 0; i < 6; ++i) {
    auto* b = placed(new QPushButton(captions[i], buttonBar), names[i], lefts[i], 8, 64, 64);
    b->setFocusPolicy(Qt::NoFocus);
    QFont f = b->font();
    f.setBold(true);
    b->setFont(f);
    const Mode m = static_cast<Mode>(i + 1);
    connect(b, &QPushButton::clicked, this, [this, m] { showMode(m); });
    *targets[i] = b;
  }
}

void MainWindow::buildInputPanel() {
  inputPanel = panel(this, "inputPanel", 0, 80, 426, 153);
  inputLabel = label(inputPanel, "Input file", 12, 12, 200);
  inputLabel->setObjectName("inputLabel");
  std::tie(inputFileEdit, inputBrowseButton) = pathRow(inputPanel, "inputFileEdit", "inputBrowseButton", 28);
  connect(inputBrowseButton, &QToolButton::clicked, this, [this] { chooseInput(); });
  // Above the browse button, right of the caption: the panel's layout stays as it is.
  previewButton = placed(new QPushButton("Preview", inputPanel), "previewButton", 349, 4, 70, 22);
  previewButton->setEnabled(false);
  connect(previewButton, &QPushButton::clicked, this, [this] { showPreview(); });

  infoPanel = panel(inputPanel, "infoPanel", 8, 60, 408, 78);
  infoPanel->setStyleSheet("#infoPanel { background: rgb(216, 216, 216); }");
  label(infoPanel, "Info", 0, 0, 408)->setStyleSheet("background: rgb(160, 160, 160); color: white; padding-left: 4px;");
  const char* captions[] = {"File size:", "Width:", "Height:", "Bits:", "Channels:", "Image:"};
  const char* names[] = {"fileSizeValue", "widthValue", "heightValue", "bitsValue", "channelsValue", "pixelsValue"};
  QLabel** targets[] = {&fileSizeValue, &widthValue, &heightValue, &bitsValue, &channelsValue, &pixelsValue};
  for (int i = 0; i < 6; ++i) {
    const int column = i / 3, row = i % 3;
    label(infoPanel, captions[i], 8 + column * 200, 20 + row * 18, 66);
    QLabel* v = label(infoPanel, "-", 76 + column * 200, 20 + row * 18, 124);
    v->setObjectName(names[i]);
    *targets[i] = v;
  }
}

void MainWindow::buildOperationPanels() {
  operationArea = panel(this, "operationArea", 0, 233, 426, 210);
  convertPanel = panel(operationArea, "convertPanel", 0, 0, 426, 207);
  title(convertPanel, "Convert image", "Convert the image to a different file format");

  cropPanel = panel(operationArea, "cropPanel", 0, 0, 426, 207);
  title(cropPanel, "Crop image", "Crop the image using the given coordinates and size");
  std::tie(cropX, cropY) = numberPair(cropPanel, "Top left point", 20, "X", "cropX", "Y", "cropY", 0, 9999999, 0);
  std::tie(cropWidth, cropHeight) =
      numberPair(cropPanel, "Size", 226, "Width", "cropWidth", "Height", "cropHeight", 1, 9999999, 1);

  resizePanel = panel(operationArea, "resizePanel", 0, 0, 426, 207);
  title(resizePanel, "Resize image", "Resize the image using the given width");
  auto* size = new QGroupBox("Image size", resizePanel);
  size->setGeometry(20, 56, 386, 60);
  label(size, "Width", 16, 28, 50);
  label(size, "Height", 206, 28, 50);
  resizeWidth = number(size, "resizeWidth", 70, 26, 512, 999999, 1000);
  resizeHeight = number(size, "resizeHeight", 260, 26, 0, 999999, 0, true);
  fastResize = radio(resizePanel, "Fast method (less quality)", "fastResize", 30, 130, 300);
  slowResize = radio(resizePanel, "Slow method (better quality)", "slowResize", 30, 156, 300);
  slowResize->setChecked(true);

  splitPanel = panel(operationArea, "splitPanel", 0, 0, 426, 207);
  title(splitPanel, "Split image", "Slice the image into many smaller tiles");
  std::tie(splitTileWidth, splitTileHeight) = numberPair(splitPanel, "Tile dimensions", 20, "Width", "splitTileWidth",
                                                         "Height", "splitTileHeight", 256, 9999999, 1000);
  std::tie(splitColumns, splitRows) =
      numberPair(splitPanel, "Number of tiles", 226, "X", "splitColumns", "Y", "splitRows", 0, 9999999, 0, true);

  mergePanel = panel(operationArea, "mergePanel", 0, 0, 426, 207);
  title(mergePanel, "Merge images", "Merge multiple tiles into one image");
  std::tie(mergeColumns, mergeRows) =
      numberPair(mergePanel, "Number of tiles", 123, "X", "mergeColumns", "Y", "mergeRows", 0, 999999, 0, true);
}

void MainWindow::buildOutputPanel() {
  outputPanel = panel(this, "outputPanel", 0, 443, 426, 146);
  auto* g = new QGroupBox(" Output format ", outputPanel);
  g->setGeometry(8, 2, 410, 46);
  tiffFormat = radio(g, "TIFF", "tiffFormat", 16, 20, 80);
  tiffFormat->setChecked(true);
  tiffLzwFormat = radio(g, "TIFF (LZW)", "tiffLzwFormat", 104, 20, 110);
  rawFormat = radio(g, "RAW", "rawFormat", 224, 20, 80);
  kroFormat = radio(g, "KRO", "kroFormat", 314, 20, 80);
  label(outputPanel, "Output directory", 12, 54, 200);
  std::tie(outputFolderEdit, outputBrowseButton) = pathRow(outputPanel, "outputFolderEdit", "outputBrowseButton", 72);
  outputFolderEdit->installEventFilter(this);  // a double click empties it
  connect(outputBrowseButton, &QToolButton::clicked, this, [this] { chooseOutputFolder(); });
  startButton = placed(new QPushButton("Start", outputPanel), "startButton", 163, 104, 100, 30);
  connect(startButton, &QPushButton::clicked, this, [this] { start(); });
}

void MainWindow::buildProgressPanel() {
  progressPanel = panel(this, "progressPanel", 25, 239, 377, 193);
  progressPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  progressPanel->setLineWidth(2);
  QLabel* t = label(progressPanel, "Progress info", 2, 2, 373, 19);
  t->setStyleSheet("background: rgb(160, 160, 160); color: white;");
  t->setAlignment(Qt::AlignCenter);
  QFont f = t->font();
  f.setPointSize(10);
  t->setFont(f);
  progressCaption = label(progressPanel, "", 1, 45, 371, 13);
  progressCaption->setObjectName("progressCaption");
  progressCaption->setAlignment(Qt::AlignHCenter);
  progressBar = placed(new QProgressBar(progressPanel), "progressBar", 18, 68, 337, 26);
  progressBar->setMinimum(0);
  progressBar->setValue(0);
  progressBar->setAlignment(Qt::AlignCenter);
  progressBar->setFormat("%p%");
  progressBar->setStyleSheet(
      "QProgressBar { background: white; border: 1px solid gray; text-align: center; }"
      "QProgressBar::chunk { background: rgb(0, 224, 0); }");
  pauseButton = placed(new QPushButton("Pause", progressPanel), "pauseButton", 18, 140, 75, 25);
  connect(pauseButton, &QPushButton::clicked, this, [this] { togglePause(); });
  abortButton = placed(new QPushButton("Abort", progressPanel), "abortButton", 280, 140, 75, 25);
  connect(abortButton, &QPushButton::clicked, this, [this] { askToAbort(); });
  setProgressLook(false);
}

void MainWindow::buildAboutPage() {
  aboutPage = panel(this, "aboutPage", 0, 79, 426, 509);
  initResources();
  auto* logo = placed(new QLabel(aboutPage), "logo", 165, 24, 96, 64);
  logo->setScaledContents(true);
  logo->setPixmap(QIcon(":/torvel-tools.png").pixmap(96, 64));
  aboutTitle = label(aboutPage, windowTitle(), 0, 104, 426, 20);
  aboutTitle->setObjectName("aboutTitle");
  aboutTitle->setAlignment(Qt::AlignHCenter);
  QFont bold = aboutTitle->font();
  bold.setBold(true);
  aboutTitle->setFont(bold);
  QLabel* hp = label(aboutPage, "Home page", 0, 150, 426);
  hp->setFont(bold);
  hp->setAlignment(Qt::AlignHCenter);
  homePageLink = label(aboutPage, homePage, 0, 170, 426);
  homePageLink->setObjectName("homePageLink");
  homePageLink->setAlignment(Qt::AlignHCenter);
  homePageLink->setStyleSheet("color: blue; text-decoration: underline;");
  homePageLink->setCursor(Qt::PointingHandCursor);
  homePageLink->installEventFilter(this);
  checkUpdatesButton =
      placed(new QPushButton("Check for updates", aboutPage), "checkUpdatesButton", 138, 220, 150, 28);
  connect(checkUpdatesButton, &QPushButton::clicked, this, [this] { checkForUpdates(); });
  checkUpdatesAtStart = placed(new QCheckBox(" Automatically check for updates on startup", aboutPage),
                               "checkUpdatesAtStart", 70, 266, 300, 20);
  updateResult = label(aboutPage, "", 4, 332, 418, 23);
  updateResult->setObjectName("updateResult");
  updateResult->setAlignment(Qt::AlignCenter);
  QFont big = bold;
  big.setPointSize(11);
  updateResult->setFont(big);
  updateResult->hide();
}

void MainWindow::connectFields() {
  connect(splitTileWidth, &QSpinBox::valueChanged, this, [this] { onSplitTileWidthChanged(); });
  connect(splitTileHeight, &QSpinBox::valueChanged, this, [this] { onSplitTileHeightChanged(); });
  connect(resizeWidth, &QSpinBox::valueChanged, this, [this] { onResizeWidthChanged(); });
  // A click selects the whole number, ready to be typed over.
  for (QSpinBox* s : {cropX, cropY, cropWidth, cropHeight, resizeWidth, resizeHeight, splitTileWidth, splitTileHeight,
                      mergeColumns, mergeRows})
    s->findChild<QLineEdit*>()->installEventFilter(this);
  // The tile counts are shown only: focus moves on past them.
  for (QSpinBox* s : {splitColumns, splitRows}) {
    s->setFocusPolicy(Qt::ClickFocus);
    s->installEventFilter(this);
  }
}

}  // namespace torvel
