#include "ui/mainwindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QGroupBox>
#include <chrono>
#include <tuple>
#include <thread>

#include "engine/setup.h"
#include "engine/utils.h"
#include "resize/pipeline.h"
#include "ui/confirm.h"
#include "ui/rawinfo.h"

// The logo lives in a resource of this static library: make sure it is linked in.
static void InitResources() { Q_INIT_RESOURCE(resources); }

namespace {

std::string Std(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

QFrame* Panel(QWidget* parent, const char* name, int x, int y, int w, int h) {
  auto* p = new QFrame(parent);
  p->setObjectName(name);
  p->setGeometry(x, y, w, h);
  return p;
}

QLabel* Label(QWidget* parent, const QString& text, int x, int y, int w = -1, int h = 16) {
  auto* l = new QLabel(text, parent);
  if (w < 0) {
    l->move(x, y);
    l->adjustSize();
  } else {
    l->setGeometry(x, y, w, h);
  }
  return l;
}

QSpinBox* Spin(QWidget* parent, const char* name, int x, int y, int min, int max, int value, bool readOnly = false) {
  auto* s = new QSpinBox(parent);
  s->setObjectName(name);
  s->setGeometry(x, y, 90, 21);
  s->setRange(min, max);
  s->setValue(value);
  if (readOnly) {
    s->setReadOnly(true);
    s->setButtonSymbols(QAbstractSpinBox::NoButtons);
  }
  return s;
}

// A group of two labelled numbers, one above the other, of the same range.
std::pair<QSpinBox*, QSpinBox*> NumberPair(QWidget* panel, const char* title, int x, const char* labelA,
                                           const char* nameA, const char* labelB, const char* nameB, int min, int max,
                                           int value, bool readOnly = false) {
  auto* g = new QGroupBox(title, panel);
  g->setGeometry(x, 60, 180, 100);
  Label(g, labelA, 16, 28, 50);
  Label(g, labelB, 16, 60, 50);
  return {Spin(g, nameA, 70, 26, min, max, value, readOnly), Spin(g, nameB, 70, 58, min, max, value, readOnly)};
}

void Title(QWidget* panel, const char* title, const char* subtitle) {
  QLabel* t = Label(panel, title, 0, 8, panel->width(), 18);
  QFont f = t->font();
  f.setBold(true);
  f.setPointSize(f.pointSize() + 2);
  t->setFont(f);
  t->setAlignment(Qt::AlignHCenter);
  Label(panel, subtitle, 0, 30, panel->width(), 16)->setAlignment(Qt::AlignHCenter);
}

}  // namespace

// The engine's boxes and questions, answered with message boxes and the RAW size dialog.
class TFrmMain::TWindowPrompt : public TPrompt {
 public:
  explicit TWindowPrompt(TFrmMain* w) : w_(w) {}
  void Message(const std::string& text) override { QMessageBox::information(w_, "Torvel Tools", Q(text)); }
  void Error(const std::string& text) override { QMessageBox::critical(w_, "Torvel Tools", Q(text)); }
  bool AskYesNo(const std::string& q) override {
    return QMessageBox::question(w_, "Torvel Tools", Q(q), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  }
  bool AskRawGeometry(int64_t fileSize, uint32_t& width, uint32_t& height, int& bits) override {
    w_->FrmRawInfo->Prepare(fileSize, width, height, 0);
    if (w_->FrmRawInfo->exec() != QDialog::Accepted) return false;
    width = w_->FrmRawInfo->ImgWidth;
    height = w_->FrmRawInfo->ImgHeight;
    bits = w_->FrmRawInfo->ChosenBits();
    return true;
  }

 private:
  TFrmMain* w_;
};

TFrmMain::TFrmMain(const QString& SettingsFile, QWidget* parent) : QWidget(parent) {
  setObjectName("FrmMain");
  setWindowTitle(QString("Torvel Tools ") + AppVersion);
  setFixedSize(426, 608);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(232, 232, 232));
  setPalette(pal);

  BuildButtons();
  BuildInput();
  BuildOperations();
  BuildOutput();
  BuildAbout();
  BuildProgress();
  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName("StatusBar");
  StatusBar->setGeometry(0, 589, 426, 19);
  StatusBar->setSizeGripEnabled(false);
  CheckForUpdatesTimer = new QTimer(this);
  CheckForUpdatesTimer->setObjectName("CheckForUpdatesTimer");
  CheckForUpdatesTimer->setInterval(500);
  connect(CheckForUpdatesTimer, &QTimer::timeout, this, [this] { CheckForUpdatesTimerTimer(); });

  // FormCreate.
  const unsigned cores = std::thread::hardware_concurrency() & 0xFFFF;
  NumOfCores = cores > 1 ? 1 : static_cast<uint16_t>(cores ? cores : 1);
  PProgress->hide();
  ShowPanel(6);
  PInput->hide();
  POutput->hide();
  Setup = std::make_unique<TSetup>(Std(SettingsFile));
  const TSettingsValues s = Setup->Load();  // never fails: defaults for what it cannot read
  move(s.WindowPosX, s.WindowPosY);
  cbCheckForUpdates->setChecked(s.CheckForUpdates);
  if (s.CheckForUpdates) CheckForUpdatesTimer->start();
  Init(Torvel);
  Prompt = std::make_unique<TWindowPrompt>(this);
  Torvel.Prompt = Prompt.get();
  Torvel.OnShowError = [this](const std::string& m) { ShowError(m); };
  Torvel.OnShowStatus = [this](const std::string& m) { ShowStatus(m); };
  Torvel.OnShowProgress = [this](int32_t max, const std::string& d) { ShowProgress(max, d); };
  Torvel.OnUpdateProgress = [this](int32_t c) { UpdateProgress(c); };
  Torvel.OnHideProgress = [this] { HideProgress(); };
  DroppedFile = false;
  setAcceptDrops(true);
  jvSplitWidth->setMaximum(static_cast<int>(MaxSplitTile));
  jvSplitHeight->setMaximum(static_cast<int>(MaxSplitTile));
  Checker.reset();

  FrmRawInfo = new TFrmRawInfo(this);
  FrmConfirm = new TFrmConfirm(this);
}

TFrmMain::~TFrmMain() = default;

void TFrmMain::BuildButtons() {
  PButtons = Panel(this, "PButtons", 0, 0, 426, 80);
  const char* names[] = {"btConvert", "btCrop", "btResize", "btSplit", "btMerge", "btAbout"};
  const char* captions[] = {"Convert", "Crop", "Resize", "Split", "Merge", "About"};
  const int lefts[] = {8, 77, 146, 215, 284, 354};
  QPushButton** targets[] = {&btConvert, &btCrop, &btResize, &btSplit, &btMerge, &btAbout};
  for (int i = 0; i < 6; ++i) {
    auto* b = new QPushButton(captions[i], PButtons);
    b->setObjectName(names[i]);
    b->setGeometry(lefts[i], 8, 64, 64);
    b->setFocusPolicy(Qt::NoFocus);
    QFont f = b->font();
    f.setBold(true);
    b->setFont(f);
    const uint8_t mode = static_cast<uint8_t>(i + 1);
    connect(b, &QPushButton::clicked, this, [this, mode] { ShowPanel(mode); });
    *targets[i] = b;
  }
}

void TFrmMain::BuildInput() {
  PInput = Panel(this, "PInput", 0, 80, 426, 153);
  lbInputFile = Label(PInput, "Input file", 12, 12, 200, 16);
  lbInputFile->setObjectName("lbInputFile");
  EditInputFile = new QLineEdit(PInput);
  EditInputFile->setObjectName("EditInputFile");
  EditInputFile->setGeometry(8, 28, 385, 21);
  EditInputFile->setReadOnly(true);
  sbInput = new QToolButton(PInput);
  sbInput->setObjectName("sbInput");
  sbInput->setText("...");
  sbInput->setGeometry(396, 28, 23, 21);
  connect(sbInput, &QToolButton::clicked, this, [this] { sbInputClick(); });

  Panel4 = Panel(PInput, "Panel4", 8, 60, 408, 78);
  Panel4->setStyleSheet("#Panel4 { background: rgb(216, 216, 216); }");
  QLabel* info = Label(Panel4, "Info", 0, 0, 408, 16);
  info->setStyleSheet("background: rgb(160, 160, 160); color: white; padding-left: 4px;");
  const char* captions[] = {"File size:", "Width:", "Height:", "Bits:", "Channels:", "Image:"};
  const char* names[] = {"lbFileSize", "lbWidth", "lbHeight", "lbBits", "lbChannels", "lbImage"};
  QLabel** targets[] = {&lbFileSize, &lbWidth, &lbHeight, &lbBits, &lbChannels, &lbImage};
  for (int i = 0; i < 6; ++i) {
    const int col = i / 3, row = i % 3;
    Label(Panel4, captions[i], 8 + col * 200, 20 + row * 18, 66, 16);
    QLabel* v = Label(Panel4, "-", 76 + col * 200, 20 + row * 18, 124, 16);
    v->setObjectName(names[i]);
    *targets[i] = v;
  }
}

void TFrmMain::BuildOperations() {
  PMain = Panel(this, "PMain", 0, 233, 426, 210);
  PConvert = Panel(PMain, "PConvert", 0, 0, 426, 207);
  Title(PConvert, "Convert image", "Convert the image to a different file format");

  PCrop = Panel(PMain, "PCrop", 0, 0, 426, 207);
  Title(PCrop, "Crop image", "Crop the image using the given coordinates and size");
  std::tie(EditCropX, EditCropY) = NumberPair(PCrop, "Top left point", 20, "X", "EditCropX", "Y", "EditCropY", 0,
                                              9999999, 0);
  std::tie(EditCropW, EditCropH) =
      NumberPair(PCrop, "Size", 226, "Width", "EditCropW", "Height", "EditCropH", 1, 9999999, 1);

  PResize = Panel(PMain, "PResize", 0, 0, 426, 207);
  Title(PResize, "Resize image", "Resize the image using the given width");
  auto* g3 = new QGroupBox("Image size", PResize);
  g3->setGeometry(20, 56, 386, 60);
  Label(g3, "Width", 16, 28, 50);
  Label(g3, "Height", 206, 28, 50);
  jvResizeW = Spin(g3, "jvResizeW", 70, 26, 512, 999999, 1000);
  jvResizeH = Spin(g3, "jvResizeH", 260, 26, 0, 999999, 0, true);
  rbFastResize = new QRadioButton("Fast method (less quality)", PResize);
  rbFastResize->setObjectName("rbFastResize");
  rbFastResize->setGeometry(30, 130, 300, 20);
  rbSlowResize = new QRadioButton("Slow method (better quality)", PResize);
  rbSlowResize->setObjectName("rbSlowResize");
  rbSlowResize->setGeometry(30, 156, 300, 20);
  rbSlowResize->setChecked(true);

  PSplit = Panel(PMain, "PSplit", 0, 0, 426, 207);
  Title(PSplit, "Split image", "Slice the image into many smaller tiles");
  std::tie(jvSplitWidth, jvSplitHeight) = NumberPair(PSplit, "Tile dimensions", 20, "Width", "jvSplitWidth", "Height",
                                                     "jvSplitHeight", 256, 9999999, 1000);
  std::tie(jvSplitX, jvSplitY) =
      NumberPair(PSplit, "Number of tiles", 226, "X", "jvSplitX", "Y", "jvSplitY", 0, 9999999, 0, true);

  PMerge = Panel(PMain, "PMerge", 0, 0, 426, 207);
  Title(PMerge, "Merge images", "Merge multiple tiles into one image");
  std::tie(jvMergeX, jvMergeY) =
      NumberPair(PMerge, "Number of tiles", 123, "X", "jvMergeX", "Y", "jvMergeY", 0, 999999, 0, true);

  for (QSpinBox* s : {jvSplitWidth, jvSplitHeight, jvResizeW, jvResizeH, jvMergeX, jvMergeY})
    connect(s, &QSpinBox::valueChanged, this, [this, s] { jvSplitWidthChange(s); });
  // A click selects the whole number, ready to be typed over (EditSelectAll).
  for (QSpinBox* s : {EditCropX, EditCropY, EditCropW, EditCropH, jvResizeW, jvResizeH, jvSplitWidth, jvSplitHeight,
                      jvMergeX, jvMergeY})
    s->findChild<QLineEdit*>()->installEventFilter(this);
  // The tile counts are shown only: focus moves on past them.
  for (QSpinBox* s : {jvSplitX, jvSplitY}) {
    s->setFocusPolicy(Qt::ClickFocus);
    s->installEventFilter(this);
  }
}

void TFrmMain::BuildOutput() {
  POutput = Panel(this, "POutput", 0, 443, 426, 146);
  auto* g = new QGroupBox(" Output format ", POutput);
  g->setGeometry(8, 2, 410, 46);
  rbTif = new QRadioButton("TIFF", g);
  rbTif->setObjectName("rbTif");
  rbTif->setGeometry(16, 20, 80, 20);
  rbTif->setChecked(true);
  rbTifLzw = new QRadioButton("TIFF (LZW)", g);
  rbTifLzw->setObjectName("rbTifLzw");
  rbTifLzw->setGeometry(104, 20, 110, 20);
  rbRaw = new QRadioButton("RAW", g);
  rbRaw->setObjectName("rbRaw");
  rbRaw->setGeometry(224, 20, 80, 20);
  rbKro = new QRadioButton("KRO", g);
  rbKro->setObjectName("rbKro");
  rbKro->setGeometry(314, 20, 80, 20);
  Label(POutput, "Output directory", 12, 54, 200, 16);
  EditOutputFolder = new QLineEdit(POutput);
  EditOutputFolder->setObjectName("EditOutputFolder");
  EditOutputFolder->setGeometry(8, 72, 385, 21);
  EditOutputFolder->setReadOnly(true);
  EditOutputFolder->installEventFilter(this);  // a double click empties it
  sbOutputFolder = new QToolButton(POutput);
  sbOutputFolder->setObjectName("sbOutputFolder");
  sbOutputFolder->setText("...");
  sbOutputFolder->setGeometry(396, 72, 23, 21);
  connect(sbOutputFolder, &QToolButton::clicked, this, [this] { sbOutputFolderClick(); });
  btStart = new QPushButton("Start", POutput);
  btStart->setObjectName("btStart");
  btStart->setGeometry(163, 104, 100, 30);
  connect(btStart, &QPushButton::clicked, this, [this] { btStartClick(); });
}

void TFrmMain::BuildProgress() {
  PProgress = Panel(this, "PProgress", 25, 239, 377, 193);
  PProgress->setFrameStyle(QFrame::Panel | QFrame::Raised);
  PProgress->setLineWidth(2);
  PProgress->setStyleSheet("#PProgress { background: white; }");
  QLabel* t = Label(PProgress, "Progress info", 2, 2, 373, 19);
  t->setStyleSheet("background: rgb(160, 160, 160); color: white;");
  t->setAlignment(Qt::AlignCenter);
  QFont f = t->font();
  f.setPointSize(10);
  t->setFont(f);
  lbStatusDescr = Label(PProgress, "", 1, 45, 371, 13);
  lbStatusDescr->setObjectName("lbStatusDescr");
  lbStatusDescr->setAlignment(Qt::AlignHCenter);
  PBStatus = new QProgressBar(PProgress);
  PBStatus->setObjectName("PBStatus");
  PBStatus->setGeometry(18, 68, 337, 26);
  PBStatus->setMinimum(0);
  PBStatus->setValue(0);
  PBStatus->setAlignment(Qt::AlignCenter);
  PBStatus->setFormat("%p%");
  PBStatus->setStyleSheet(
      "QProgressBar { background: white; border: 1px solid gray; text-align: center; }"
      "QProgressBar::chunk { background: rgb(0, 224, 0); }");
  btPause = new QPushButton("Pause", PProgress);
  btPause->setObjectName("btPause");
  btPause->setGeometry(18, 140, 75, 25);
  connect(btPause, &QPushButton::clicked, this, [this] { btPauseClick(); });
  btAbort = new QPushButton("Abort", PProgress);
  btAbort->setObjectName("btAbort");
  btAbort->setGeometry(280, 140, 75, 25);
  connect(btAbort, &QPushButton::clicked, this, [this] { btAbortClick(); });
}

void TFrmMain::BuildAbout() {
  PAbout = Panel(this, "PAbout", 0, 79, 426, 509);
  InitResources();
  auto* logo = new QLabel(PAbout);
  logo->setObjectName("imgLogo");
  logo->setGeometry(165, 24, 96, 64);
  logo->setScaledContents(true);
  logo->setPixmap(QIcon(":/torvel-tools.png").pixmap(96, 64));
  lbAboutInfo = Label(PAbout, windowTitle(), 0, 104, 426, 20);
  lbAboutInfo->setObjectName("lbAboutInfo");
  lbAboutInfo->setAlignment(Qt::AlignHCenter);
  QFont bold = lbAboutInfo->font();
  bold.setBold(true);
  lbAboutInfo->setFont(bold);
  QLabel* hp = Label(PAbout, "Home page", 0, 150, 426, 16);
  hp->setFont(bold);
  hp->setAlignment(Qt::AlignHCenter);
  lbAboutHomepage = Label(PAbout, HomePage, 0, 170, 426, 16);
  lbAboutHomepage->setObjectName("lbAboutHomepage");
  lbAboutHomepage->setAlignment(Qt::AlignHCenter);
  lbAboutHomepage->setStyleSheet("color: blue; text-decoration: underline;");
  lbAboutHomepage->setCursor(Qt::PointingHandCursor);
  lbAboutHomepage->installEventFilter(this);
  Button1 = new QPushButton("Check for updates", PAbout);
  Button1->setObjectName("Button1");
  Button1->setGeometry(138, 220, 150, 28);
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  cbCheckForUpdates = new QCheckBox(" Automatically check for updates on startup", PAbout);
  cbCheckForUpdates->setObjectName("cbCheckForUpdates");
  cbCheckForUpdates->setGeometry(70, 266, 300, 20);
  lbNewVersion = Label(PAbout, "", 4, 332, 418, 23);
  lbNewVersion->setObjectName("lbNewVersion");
  lbNewVersion->setAlignment(Qt::AlignCenter);
  QFont big = bold;
  big.setPointSize(11);
  lbNewVersion->setFont(big);
  lbNewVersion->hide();
}

void TFrmMain::ShowPanel(uint8_t Panel) {
  ShowStatus("");
  PInput->setVisible(Panel < 6);
  if (Panel == 5) {
    lbInputFile->setText("Input files");
    EditInputFile->clear();
    odFiles.clear();
    odMultiSelect = true;
    ClearInputInfoPanel();
    jvMergeX->setValue(0);
    jvMergeY->setValue(0);
  } else {
    lbInputFile->setText("Input file");
    if (CurrentPanel == 5) {
      odMultiSelect = false;
      odFiles.clear();
      EditInputFile->clear();
      ClearInputInfoPanel();
      jvSplitX->setValue(0);
      jvSplitY->setValue(0);
    }
  }
  QFrame* panels[] = {PConvert, PCrop, PResize, PSplit, PMerge};
  for (int i = 0; i < 5; ++i) panels[i]->setVisible(Panel == i + 1);
  if (Panel >= 1 && Panel <= 3) btStart->setText("Start");
  if (Panel == 4) btStart->setText("Split");
  if (Panel == 5) btStart->setText("Merge");
  PAbout->setVisible(Panel == 6);
  POutput->setVisible(Panel < 6);
  CurrentPanel = Panel;
}

void TFrmMain::GetOutputFormat() {
  Torvel.OutInfo.ImageType = FileType::NV;
  Torvel.Lzw = false;
  if (rbTif->isChecked()) Torvel.OutInfo.ImageType = FileType::TIF;
  if (rbTifLzw->isChecked()) {
    Torvel.OutInfo.ImageType = FileType::TIF;
    Torvel.Lzw = true;
  }
  if (rbKro->isChecked()) Torvel.OutInfo.ImageType = FileType::KRO4;
  if (rbRaw->isChecked()) Torvel.OutInfo.ImageType = FileType::RAW;
}

// The controls that could start a second run or change the mode.
void TFrmMain::SetRunControlsEnabled(bool Enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{btConvert, btCrop, btResize, rbSlowResize, rbFastResize, btSplit,
                                                    btMerge, btAbout, sbInput, sbOutputFolder, btStart})
    w->setEnabled(Enabled);
}

void TFrmMain::DisableButtons() { SetRunControlsEnabled(false); }
void TFrmMain::EnableButtons() { SetRunControlsEnabled(true); }

bool TFrmMain::Busy() const { return !btStart->isEnabled(); }

void TFrmMain::ClearInputInfoPanel() {
  for (QLabel* l : {lbFileSize, lbWidth, lbHeight, lbChannels, lbBits, lbImage}) l->setText("");
}

void TFrmMain::ShowError(const std::string& Msg) { QMessageBox::critical(this, "Torvel Tools", Q(Msg)); }

void TFrmMain::ShowStatus(const std::string& Msg) {
  if (Msg.empty())
    StatusBar->clearMessage();
  else
    StatusBar->showMessage(Q(Msg));
  QCoreApplication::processEvents();
}

void TFrmMain::ShowProgress(int32_t Max, const std::string& Desc) {
  btAbort->setText("Abort");
  btPause->setText("Pause");
  lbStatusDescr->setText(Q(Desc));
  Paused = false;
  Torvel.Abort = false;
  PBStatus->setValue(0);
  PBStatus->setMaximum(Max);
  PProgress->setStyleSheet("#PProgress { background: white; }");
  PProgress->show();
  PProgress->raise();
  Taskbar1.SetProgressValue(0, Max);
  Taskbar1.SetProgressState(TTaskbarProgress::tsNormal);
}

void TFrmMain::UpdateProgress(int32_t Current) {
  QCoreApplication::processEvents();
  PBStatus->setValue(std::clamp(Current, 0, PBStatus->maximum()));
  Taskbar1.SetProgressValue(Current, PBStatus->maximum());
  CheckIfPaused();
}

void TFrmMain::CheckIfPaused() {
  while (Paused) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    QCoreApplication::processEvents();
  }
}

void TFrmMain::HideProgress() {
  PProgress->hide();
  Taskbar1.SetProgressState(TTaskbarProgress::tsNone);
}

void TFrmMain::btPauseClick() {
  Paused = !Paused;
  if (Paused) {
    btPause->setText("Continue");
    Taskbar1.SetProgressState(TTaskbarProgress::tsPaused);
    PProgress->setStyleSheet("#PProgress { background: rgb(216, 216, 216); }");
  } else {
    btPause->setText("Pause");
    Taskbar1.SetProgressState(TTaskbarProgress::tsNormal);
    PProgress->setStyleSheet("#PProgress { background: white; }");
  }
}

void TFrmMain::btAbortClick() {
  const int r = FrmConfirm->CenterAndShow(static_cast<quint16>(x() + 20), static_cast<quint16>(y() + 100));
  if (r == QDialog::Accepted) {
    Torvel.Abort = true;
    Paused = false;
  } else {
    Torvel.Abort = false;
  }
}

void TFrmMain::SetInfo(const TFileInfo& I) {
  lbFileSize->setText(Q(DotThousands(I.FileSize)));
  lbWidth->setText(Q(DotThousands(I.Width)));
  lbHeight->setText(Q(DotThousands(I.Height)));
  lbBits->setText(QString::number(I.Bits));
  lbChannels->setText(QString::number(I.Channels));
  lbImage->setText(Q(PixelCountText(int64_t{I.Width} * I.Height)));
}

void TFrmMain::sbInputClick() {
  bool choice = false;
  if (DroppedFile) {
    DroppedFile = false;
    if (odMultiSelect && odFiles.size() < 2) return;
    const QStringList dropped = odMultiSelect ? odFiles : QStringList{odFileName};
    for (const QString& f : dropped)
      if (!IsSupportedExt(UpperCase(ExtractFileExt(Std(f))))) {
        ShowError("Then file type is invalid");
        return;
      }
    choice = true;
  } else {
    QFileDialog dlg(this, "Torvel Tools - input file");
    dlg.setObjectName("odInputFile");
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setOption(QFileDialog::ReadOnly);
    const QStringList filters = {"TIF (*.tif *.tiff)", "RAW (*.raw *.rgb)", "KRO (*.kro)",
                                 "All suported file types (*.tif *.tiff *.raw *.rgb *.kro)"};
    dlg.setNameFilters(filters);
    dlg.selectNameFilter(filters[3]);
    dlg.setFileMode(odMultiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!odFileName.isEmpty()) {
      dlg.setDirectory(QFileInfo(odFileName).absolutePath());
    }
    if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()) {
      odFiles = dlg.selectedFiles();
      odFileName = odFiles.first();
      choice = true;
    }
  }
  if (!choice) return;

  if (odMultiSelect) {
    std::vector<std::string> files;
    for (const QString& f : odFiles) files.push_back(Std(f));
    const TMergeGrid g = DeriveMergeGrid(files);
    if (g.Ok) {
      EditInputFile->setText(Q(g.Message));
      ShowStatus(g.Message);
      jvMergeX->setValue(g.Cols);
      jvMergeY->setValue(g.Rows);
    } else {
      ShowError(g.Message);
    }
    return;
  }
  if (!FileExists(Std(odFileName))) return;
  Torvel.InInfo.FileName = Std(odFileName);
  ProbeFile(Torvel, true);
  DisableButtons();
  if (CheckInputLimits(Torvel)) {
    SetInfo(Torvel.InInfo);
    ShowStatus("Image is valid");
    EditInputFile->setToolTip(odFileName);
    EditInputFile->setText(QFileInfo(odFileName).fileName());
    jvSplitWidthChange(jvSplitWidth);
  } else {
    ClearInputInfoPanel();
  }
  EnableButtons();
}

void TFrmMain::sbOutputFolderClick() {
  if (DroppedFile) {
    DroppedFile = false;
    return;
  }
  if (EditOutputFolder->text().isEmpty()) {
    BrowseDirectory = Q(FolderOf(Torvel.InInfo.FileName));
    EditOutputFolder->setText(BrowseDirectory);
  }
  QFileDialog dlg(this, "Output directory", BrowseDirectory);
  dlg.setObjectName("JvBrowseForFolderDialog1");
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setOption(QFileDialog::ShowDirsOnly);
  dlg.setFileMode(QFileDialog::Directory);
  if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()) {
    BrowseDirectory = dlg.selectedFiles().first();
    EditOutputFolder->setText(BrowseDirectory);
  }
}

void TFrmMain::DropFiles(const QStringList& Names, const QPoint& At) {
  if (Names.isEmpty() || CurrentPanel == 6) return;
  const int y = At.y();
  const bool onInput = y >= PInput->y() && y <= PInput->y() + PInput->height() - 1;
  const bool onOutput = y >= POutput->y() && y <= POutput->y() + POutput->height() - 1;
  // A running operation's input must stay untouched.
  if (onInput && Busy()) return;
  const int count = odMultiSelect ? static_cast<int>(Names.size()) : 1;
  for (int i = 0; i < count; ++i) {
    if (i % 10 == 0) QCoreApplication::processEvents();
    const QString& name = Names[i];
    if (onInput) {
      if (!FileExists(Std(name))) continue;
      DroppedFile = true;
      if (odMultiSelect) {
        if (i == 0) {
          odFiles.clear();
          ShowStatus("Processing input files list");
          EditInputFile->clear();
        }
        odFiles.append(name);
      } else {
        odFileName = name;
        sbInputClick();
      }
    } else if (onOutput && FolderExists(Std(name))) {
      DroppedFile = true;
      EditOutputFolder->setText(name);
      sbOutputFolderClick();
      break;
    }
  }
  if (onInput && odMultiSelect) {
    if (odFiles.isEmpty())
      EditInputFile->clear();
    else
      sbInputClick();
  }
  DroppedFile = false;
}

void TFrmMain::dragEnterEvent(QDragEnterEvent* e) {
  if (e->mimeData()->hasUrls()) e->acceptProposedAction();
}

void TFrmMain::dropEvent(QDropEvent* e) {
  QStringList names;
  for (const QUrl& u : e->mimeData()->urls())
    if (u.isLocalFile()) names.append(u.toLocalFile());
  e->acceptProposedAction();
  DropFiles(names, e->position().toPoint());
}

QString TFrmMain::GetOutputFolder(const QString& FileName) const {
  return Q(::GetOutputFolder(Std(EditOutputFolder->text()), Std(FileName)));
}

void TFrmMain::RunConvert(int32_t X, int32_t Y, int32_t W, int32_t H) {
  DisableButtons();
  ConvertFile(Torvel, X, Y, W, H, Std(GetOutputFolder(Q(Torvel.InInfo.FileName))), "");
  EnableButtons();
}

void TFrmMain::RunCrop() {
  const std::string refusal = CropCheckMessage(Torvel.InInfo.Width, Torvel.InInfo.Height, EditCropX->value(),
                                               EditCropY->value(), EditCropW->value(), EditCropH->value());
  if (!refusal.empty()) {
    ShowError(refusal);
    Torvel.Abort = true;
    return;
  }
  RunConvert(EditCropX->value(), EditCropY->value(), EditCropW->value(), EditCropH->value());
}

void TFrmMain::RunSplit(std::vector<std::string>& Files) {
  DisableButtons();
  SplitFile(Torvel, static_cast<uint32_t>(jvSplitWidth->value()), static_cast<uint32_t>(jvSplitHeight->value()),
            Files, Std(GetOutputFolder(Q(Torvel.InInfo.FileName))), "");
  EnableButtons();
}

void TFrmMain::RunMerge() {
  std::vector<std::string> files;
  for (const QString& f : odFiles) files.push_back(Std(f));
  if (files.empty()) {
    Torvel.Abort = true;
    return;
  }
  const std::string refusal = MergeCountMessage(int64_t{jvMergeX->value()} * jvMergeY->value(), files.size());
  if (!refusal.empty()) {
    ShowError(refusal);
    Torvel.Abort = true;
    return;
  }
  DisableButtons();
  MergeFiles(Torvel, static_cast<uint32_t>(jvMergeX->value()), static_cast<uint32_t>(jvMergeY->value()), files,
             Std(GetOutputFolder(odFiles.first())), "");
  EnableButtons();
}

namespace {
// The window's side of the resize pipeline: events keep running.
class TWindowResizeHost : public TResizeHost {
 public:
  explicit TWindowResizeHost(TFrmMain* w) : w_(w) {}
  void ProcessEvents() override { QCoreApplication::processEvents(); }
  void DisableButtons() override { w_->DisableButtons(); }
  void EnableButtons() override { w_->EnableButtons(); }

 private:
  TFrmMain* w_;
};
}  // namespace

void TFrmMain::RunResize() {
  GetOutputFormat();
  TResizeParams P;
  P.RequestedWidth = static_cast<uint32_t>(jvResizeW->value());
  P.RequestedHeight = static_cast<uint32_t>(jvResizeH->value());
  P.Fast = rbFastResize->isChecked();
  P.OutType = Torvel.OutInfo.ImageType;
  P.Lzw = Torvel.Lzw;
  P.ChosenFolder = Std(EditOutputFolder->text());
  P.NumOfCores = NumOfCores;
  TWindowResizeHost host(this);
  ::RunResize(Torvel, P, host);
}

void TFrmMain::jvSplitWidthChange(QObject* Sender) {
  if (!Torvel.InInfo.ImageIsOk) return;
  const uint32_t W = Torvel.InInfo.Width, H = Torvel.InInfo.Height;
  if (Sender == jvSplitWidth) {
    const uint32_t v = FitSplitTile(static_cast<uint32_t>(jvSplitWidth->value()), W);
    if (static_cast<int>(v) != jvSplitWidth->value()) jvSplitWidth->setValue(static_cast<int>(v));
  }
  if (Sender == jvSplitHeight) {
    const uint32_t v = FitSplitTile(static_cast<uint32_t>(jvSplitHeight->value()), H);
    if (static_cast<int>(v) != jvSplitHeight->value()) jvSplitHeight->setValue(static_cast<int>(v));
  }
  if ((Sender == jvSplitWidth || Sender == jvSplitHeight) && jvSplitWidth->value() >= 256 &&
      jvSplitHeight->value() >= 256) {
    jvSplitX->setValue(static_cast<int>(TileCount(W, static_cast<uint32_t>(jvSplitWidth->value()))));
    jvSplitY->setValue(static_cast<int>(TileCount(H, static_cast<uint32_t>(jvSplitHeight->value()))));
  }
  if (Sender == jvResizeW && jvResizeW->value() >= 256)
    jvResizeH->setValue(static_cast<int>(ResizeHeight(W, H, static_cast<uint32_t>(jvResizeW->value()))));
}

void TFrmMain::btStartClick() {
  ShowStatus("");
  if (!BrowseDirectory.isEmpty() && !FolderExists(Std(BrowseDirectory))) {
    ShowError("Output directory doesn't exists");
    return;
  }
  GetOutputFormat();
  // Only an operation that reaches its line work clears this: a run declined
  // before it wrote anything is not reported as completed.
  Torvel.Abort = true;
  if (CurrentPanel == 1) {
    RunConvert(0, 0, static_cast<int32_t>(Torvel.InInfo.Width), static_cast<int32_t>(Torvel.InInfo.Height));
  } else if (CurrentPanel == 2) {
    RunCrop();
  } else if (CurrentPanel == 3) {
    RunResize();
  } else if (CurrentPanel == 4) {
    jvSplitWidthChange(jvSplitWidth);
    std::vector<std::string> files;
    RunSplit(files);
  } else if (CurrentPanel == 5) {
    RunMerge();
  }
  ShowStatus(Torvel.Abort ? "Operation aborted" : "Operation completed successfully");
  HideProgress();
  EnableButtons();
  if (CloseRequested) QTimer::singleShot(0, this, &QWidget::close);
}

void TFrmMain::CheckForUpdatesTimerTimer() {
  if (!Checker) {
    Checker = std::make_unique<TCheckVersion>();
    Checker->CurrVersion = AppVersion;
    Checker->Endpoint = Std(UpdateEndpoint);
    Checker->Start();
  } else if (Checker->Finished()) {
    CheckForUpdatesTimer->stop();
    if (Checker->NewVersion()) {
      lbNewVersion->setText("New software version available");
      lbNewVersion->setStyleSheet("color: rgb(255, 0, 0);");
    } else {
      lbNewVersion->setText("No new updates available");
      lbNewVersion->setStyleSheet("color: black;");
    }
    lbNewVersion->show();
    Checker.reset();
  }
}

void TFrmMain::Button1Click() {
  lbNewVersion->setText("Checking for updates...");
  lbNewVersion->setStyleSheet("color: black;");
  lbNewVersion->show();
  CheckForUpdatesTimer->start();
}

void TFrmMain::lbAboutHomepageClick() { QDesktopServices::openUrl(QUrl(HomePage)); }

bool TFrmMain::SaveSettings() {
  return Setup->Save({x(), y(), cbCheckForUpdates->isChecked()});
}

void TFrmMain::closeEvent(QCloseEvent* e) {
  if (Busy()) {
    // As the Abort button: ask, and on Yes let the run clean up, then close.
    e->ignore();
    if (CloseRequested) return;
    if (FrmConfirm->CenterAndShow(static_cast<quint16>(x() + 20), static_cast<quint16>(y() + 100)) ==
        QDialog::Accepted) {
      Torvel.Abort = true;
      Paused = false;
      CloseRequested = true;
    }
    return;
  }
  SaveSettings();  // a settings file that cannot be written never keeps the window open
  e->accept();
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == jvSplitX || watched == jvSplitY) && event->type() == QEvent::FocusIn) {
    QTimer::singleShot(0, this, [this] { focusNextChild(); });
  } else if (watched == EditOutputFolder && event->type() == QEvent::MouseButtonDblClick) {
    EditOutputFolder->clear();
    return true;
  } else if (event->type() == QEvent::MouseButtonRelease && qobject_cast<QSpinBox*>(watched->parent()) &&
             watched->parent() != jvSplitX && watched->parent() != jvSplitY) {
    auto* edit = static_cast<QLineEdit*>(watched);
    QTimer::singleShot(0, edit, [edit] { edit->selectAll(); });
  } else if (watched == lbAboutHomepage && event->type() == QEvent::MouseButtonRelease) {
    lbAboutHomepageClick();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}
