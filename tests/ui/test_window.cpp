// The main window under the offscreen platform: modes, input selection, the
// RAW size dialog, drops, progress with pause and abort, and every operation
// run from the window against the command line's bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include "engine/utils.h"
#include "testkit.h"
#include "ui/confirm.h"
#include "ui/mainwindow.h"
#include "ui/rawinfo.h"
#include "uikit.h"

using namespace testkit;
using namespace uikit;

namespace {

// A drop reaches the window only after the drag entered it.
void DropAt(QWidget* w, QMimeData& mime, QPointF at) {
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &drop);
}

// Runs `action` once, as soon as the progress panel shows during a run.
void WhenRunning(QWidget* ctx, QWidget* progress, std::function<void()> action) {
  auto* t = new QTimer(ctx);
  t->setInterval(2);
  QObject::connect(t, &QTimer::timeout, ctx, [t, progress, action] {
    if (!progress->isVisible()) return;
    t->stop();
    t->deleteLater();
    action();
  });
  t->start();
}

struct Win {
  TScratch Dir;
  std::unique_ptr<TFrmMain> W;
  Win() {
    W = std::make_unique<TFrmMain>(QString::fromStdString(Dir.Path("settings.ini")));
    W->CheckForUpdatesTimer->stop();  // no network in these tests
  }
  // Chooses a single input as a drop on the input panel does.
  void Choose(const std::string& path) { W->DropFiles({QString::fromStdString(path)}, QPoint(200, 120)); }
  std::string Status() const { return W->StatusBar->currentMessage().toStdString(); }
};

QString S(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

TEST(Window, FreshStartShowsTheAboutPageOnly) {
  Win w;
  EXPECT_EQ(w.W->windowTitle(), "Torvel Tools 2.1.0");
  EXPECT_EQ(w.W->CurrentPanel, 6);
  EXPECT_EQ(w.W->NumOfCores, 1);
  EXPECT_FALSE(w.W->PInput->isVisibleTo(w.W.get()));
  EXPECT_FALSE(w.W->POutput->isVisibleTo(w.W.get()));
  EXPECT_FALSE(w.W->PProgress->isVisibleTo(w.W.get()));
  EXPECT_TRUE(w.W->PAbout->isVisibleTo(w.W.get()));
  EXPECT_EQ(w.W->lbFileSize->text(), "-");
  EXPECT_EQ(w.W->jvSplitWidth->maximum(), 30000);
  EXPECT_TRUE(w.W->rbTif->isChecked());
  EXPECT_TRUE(w.W->rbSlowResize->isChecked());
  EXPECT_EQ(w.W->size(), QSize(426, 608));
  // Places of the panels as laid out.
  EXPECT_EQ(w.W->PInput->geometry(), QRect(0, 80, 426, 153));
  EXPECT_EQ(w.W->PMain->geometry(), QRect(0, 233, 426, 210));
  EXPECT_EQ(w.W->POutput->geometry(), QRect(0, 443, 426, 146));
  EXPECT_EQ(w.W->PProgress->geometry(), QRect(25, 239, 377, 193));
}

TEST(Window, ModesKeepOrClearTheSelection) {
  Win w;
  WriteTiff(w.Dir.Path("a.tif"), MakePixels(2500, 1700, 8, 3));
  w.W->ShowPanel(1);
  EXPECT_EQ(w.W->btStart->text(), "Start");
  w.Choose(w.Dir.Path("a.tif"));
  EXPECT_EQ(w.W->EditInputFile->text(), "a.tif");
  EXPECT_EQ(w.W->EditInputFile->toolTip().toStdString(), w.Dir.Path("a.tif"));
  EXPECT_EQ(w.W->lbWidth->text(), "2.500");
  EXPECT_EQ(w.W->lbHeight->text(), "1.700");
  EXPECT_EQ(w.W->lbImage->text(), "4.25 Megapixels");
  EXPECT_EQ(w.W->lbBits->text(), "8");
  EXPECT_EQ(w.W->lbChannels->text(), "3");
  EXPECT_EQ(w.W->lbFileSize->text().toStdString(), DotThousands(GetFileSize64(w.Dir.Path("a.tif"))));
  EXPECT_EQ(w.Status(), "Image is valid");
  // Split counts derived from the tile size: 1000 x 1000 gives 3 x 2.
  EXPECT_EQ(w.W->jvSplitX->value(), 3);
  EXPECT_EQ(w.W->jvSplitY->value(), 2);
  for (uint8_t m : {2, 3, 4, 6, 1}) {
    w.W->ShowPanel(m);
    EXPECT_EQ(w.W->EditInputFile->text(), "a.tif");
    EXPECT_EQ(w.W->lbWidth->text(), "2.500");
  }
  w.W->ShowPanel(4);
  EXPECT_EQ(w.W->btStart->text(), "Split");
  w.W->ShowPanel(5);
  EXPECT_EQ(w.W->btStart->text(), "Merge");
  EXPECT_EQ(w.W->lbInputFile->text(), "Input files");
  EXPECT_EQ(w.W->EditInputFile->text(), "");
  EXPECT_EQ(w.W->lbWidth->text(), "");
  w.W->ShowPanel(2);
  EXPECT_EQ(w.W->lbInputFile->text(), "Input file");
  EXPECT_EQ(w.W->jvSplitX->value(), 0);
}

TEST(Window, SplitAndResizeFieldsFollowTheInput) {
  Win w;
  w.W->ShowPanel(4);
  w.W->jvSplitWidth->setValue(3000);  // no input yet: nothing derived
  EXPECT_EQ(w.W->jvSplitX->value(), 0);
  WriteTiff(w.Dir.Path("a.tif"), MakePixels(800, 300, 8, 3));
  w.Choose(w.Dir.Path("a.tif"));
  EXPECT_EQ(w.W->jvSplitWidth->value(), 800);
  EXPECT_EQ(w.W->jvSplitX->value(), 1);
  w.W->jvSplitHeight->setValue(256);
  EXPECT_EQ(w.W->jvSplitY->value(), 2);
  w.W->jvResizeW->setValue(600);
  EXPECT_EQ(w.W->jvResizeH->value(), 225);
}

TEST(Window, ClickingANumberSelectsIt) {
  Win w;
  w.W->ShowPanel(2);
  w.W->show();
  QLineEdit* edit = w.W->EditCropW->findChild<QLineEdit*>();
  w.W->EditCropW->setValue(1234);
  edit->deselect();
  QTest::mouseClick(edit, Qt::LeftButton);
  EXPECT_TRUE(WaitFor([&] { return edit->selectedText() == "1234"; }, 2000));
}

TEST(Window, InputLimitsAndRefusals) {
  Win w;
  w.W->ShowPanel(1);
  WriteTiff(w.Dir.Path("edge.tif"), MakePixels(300000, 1, 8, 3));
  w.Choose(w.Dir.Path("edge.tif"));
  EXPECT_TRUE(w.W->Torvel.InInfo.ImageIsOk);
  WriteTiff(w.Dir.Path("wide.tif"), MakePixels(300001, 1, 8, 3));
  {
    TModalAnswerer a({Press(QMessageBox::Ok)});
    w.Choose(w.Dir.Path("wide.tif"));
    EXPECT_EQ(a.Texts, QStringList{"Image dimensions exceed internal limits"});
  }
  EXPECT_FALSE(w.W->Torvel.InInfo.ImageIsOk);
  EXPECT_EQ(w.W->lbWidth->text(), "");
  EXPECT_EQ(w.W->EditInputFile->text(), "edge.tif");  // keeps its previous text
  WriteFile(w.Dir.Path("x.jpg"), "jpeg");
  TModalAnswerer a({Press(QMessageBox::Ok)});
  w.Choose(w.Dir.Path("x.jpg"));
  EXPECT_EQ(a.Texts, QStringList{"Then file type is invalid"});
}

TEST(Window, OpenDialogChoosesTheInput) {
  Win w;
  w.W->ShowPanel(1);
  WriteKro(w.Dir.Path("k.kro"), MakePixels(30, 20, 16, 4));
  QString title, filter;
  TModalAnswerer a({[&](QWidget* d) {
    auto* dlg = qobject_cast<QFileDialog*>(d);
    ASSERT_NE(dlg, nullptr);
    title = dlg->windowTitle();
    filter = dlg->selectedNameFilter();
    dlg->setDirectory(S(w.Dir.Dir()));
    dlg->findChild<QLineEdit*>("fileNameEdit")->setText("k.kro");
    QMetaObject::invokeMethod(dlg, "accept", Qt::QueuedConnection);
  }});
  w.W->sbInputClick();
  EXPECT_EQ(title, "Torvel Tools - input file");
  EXPECT_EQ(filter, "All suported file types (*.tif *.tiff *.raw *.rgb *.kro)");
  EXPECT_TRUE(w.W->Torvel.InInfo.ImageIsOk);
  EXPECT_EQ(w.W->lbChannels->text(), "4");
  EXPECT_EQ(w.W->lbBits->text(), "16");
}

TEST(Window, RawSizeDialogDerivesAndAcceptsOnlyExactPairs) {
  TFrmRawInfo d;
  d.Prepare(3000000, 0, 0, 0);
  EXPECT_EQ(d.lblSize->text(), "3.000.000");
  d.edWidth->setText("1000");
  EXPECT_EQ(d.EdHeight->text(), "1000");
  d.RB16bit->setChecked(true);
  EXPECT_EQ(d.NumPixel, 500000);
  EXPECT_EQ(d.EdHeight->text(), "500");
  d.SpeedButton1Click();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.ImgWidth, 1000u);
  EXPECT_EQ(d.ImgHeight, 500u);
  EXPECT_EQ(d.ChosenBits(), 16);

  d.RB8bit->setChecked(true);
  d.Prepare(49 * 3, 0, 0, 0);  // the last width stays: 1000 does not divide 49
  EXPECT_EQ(d.edWidth->text(), "1000");
  d.edWidth->setText("7");  // below 100: nothing derived
  EXPECT_EQ(d.EdHeight->text(), "0");
  d.Prepare(3000 * 3 * 7, 0, 0, 0);
  d.edWidth->setText("99");
  EXPECT_EQ(d.EdHeight->text(), "0");
  d.edWidth->setText("3001");  // does not divide: height stays
  EXPECT_EQ(d.EdHeight->text(), "0");
  d.setResult(0);
  d.SpeedButton1Click();  // no match: stays open
  EXPECT_EQ(d.result(), 0);
  d.edWidth->setText("400000");
  EXPECT_EQ(d.edWidth->text(), "300000");
  // A quotient of exactly 300000 is not written; typing it derives the other side.
  d.Prepare(int64_t{300000} * 200 * 3, 0, 0, 0);
  d.EdHeight->setText("0");
  d.edWidth->setText("200");
  EXPECT_EQ(d.EdHeight->text(), "0");
  d.EdHeight->setText("300000");
  EXPECT_EQ(d.edWidth->text(), "200");
  // With a size from the name the width is filled and the height derived.
  d.Prepare(1000 * 800 * 3, 1000, 777, 0);
  EXPECT_EQ(d.edWidth->text(), "1000");
  EXPECT_EQ(d.EdHeight->text(), "800");
  d.SpeedButton2Click();
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_EQ(d.ImgWidth, 0u);
}

TEST(Window, RawSizeDialogKeyFilter) {
  TFrmRawInfo d;
  d.show();
  d.edWidth->setText("123456");
  d.edWidth->setFocus();
  d.edWidth->deselect();
  d.edWidth->setCursorPosition(6);
  QTest::keyClick(d.edWidth, Qt::Key_7);
  EXPECT_EQ(d.edWidth->text(), "123456");  // a seventh digit is refused
  QTest::keyClick(d.edWidth, Qt::Key_A);
  EXPECT_EQ(d.edWidth->text(), "123456");
  d.edWidth->selectAll();
  QTest::keyClick(d.edWidth, Qt::Key_9);  // replacing the selection
  EXPECT_EQ(d.edWidth->text(), "9");
  QTest::keyClick(d.edWidth, Qt::Key_Backspace);
  EXPECT_EQ(d.edWidth->text(), "");
}

TEST(Window, RawInputThroughTheDialogAndCancel) {
  Win w;
  w.W->ShowPanel(1);
  WriteRaw(w.Dir.Path("scan.raw"), MakePixels(200, 150, 8, 3));
  {
    TModalAnswerer a({[](QWidget* d) {
      auto* r = qobject_cast<TFrmRawInfo*>(d);
      ASSERT_NE(r, nullptr);
      r->edWidth->setText("200");
      r->SpeedButton1Click();
    }});
    w.Choose(w.Dir.Path("scan.raw"));
  }
  EXPECT_TRUE(w.W->Torvel.InInfo.ImageIsOk);
  EXPECT_EQ(w.W->lbHeight->text(), "150");
  {
    TModalAnswerer a({[](QWidget* d) { qobject_cast<TFrmRawInfo*>(d)->SpeedButton2Click(); }});
    w.Choose(w.Dir.Path("scan.raw"));
    EXPECT_TRUE(a.Texts.isEmpty());
  }
  EXPECT_FALSE(w.W->Torvel.InInfo.ImageIsOk);
  EXPECT_EQ(w.W->lbHeight->text(), "");
}

TEST(Window, DropsOnInputAndOutputPanelsAndMergeSelections) {
  Win w;
  ::mkdir(w.Dir.Path("out").c_str(), 0755);
  WriteTiff(w.Dir.Path("a.tif"), MakePixels(20, 10, 8, 3));
  // On the about page drops do nothing.
  w.W->DropFiles({S(w.Dir.Path("a.tif"))}, QPoint(200, 120));
  EXPECT_FALSE(w.W->Torvel.InInfo.ImageIsOk);
  w.W->ShowPanel(1);
  w.W->show();
  // A real drop event at a point inside the input panel.
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(S(w.Dir.Path("a.tif"))), QUrl::fromLocalFile(S(w.Dir.Path("b.tif")))});
  DropAt(w.W.get(), mime, QPointF(200, 150));
  EXPECT_TRUE(w.W->Torvel.InInfo.ImageIsOk);
  EXPECT_EQ(w.W->EditInputFile->text(), "a.tif");
  // A folder on the output panel becomes the output folder without a browser.
  QMimeData folder;
  folder.setUrls({QUrl::fromLocalFile(S(w.Dir.Path("out")))});
  DropAt(w.W.get(), folder, QPointF(200, 500));
  EXPECT_EQ(w.W->EditOutputFolder->text().toStdString(), w.Dir.Path("out"));
  EXPECT_FALSE(w.W->DroppedFile);
  // The same folder on the input panel does nothing.
  w.W->DropFiles({S(w.Dir.Path("out"))}, QPoint(200, 100));
  EXPECT_EQ(w.W->EditInputFile->text(), "a.tif");

  // Merge mode: one file is listed only; four make a 2 x 2 grid.
  w.W->ShowPanel(5);
  for (const char* n : {"t_X1Y1.tif", "t_X2Y1.tif", "t_X1Y2.tif", "t_X2Y2.tif"})
    WriteTiff(w.Dir.Path(n), MakePixels(5, 5, 8, 3));
  w.W->DropFiles({S(w.Dir.Path("t_X1Y1.tif"))}, QPoint(200, 120));
  EXPECT_EQ(w.Status(), "Processing input files list");
  EXPECT_EQ(w.W->EditInputFile->text(), "");
  QStringList four;
  for (const char* n : {"t_X1Y1.tif", "t_X2Y1.tif", "t_X1Y2.tif", "t_X2Y2.tif"}) four << S(w.Dir.Path(n));
  w.W->DropFiles(four, QPoint(200, 120));
  EXPECT_EQ(w.W->EditInputFile->text(), "4 files selected");
  EXPECT_EQ(w.W->jvMergeX->value(), 2);
  EXPECT_EQ(w.W->jvMergeY->value(), 2);
  {
    TModalAnswerer a({Press(QMessageBox::Ok)});
    w.W->DropFiles(four.mid(0, 3), QPoint(200, 120));
    EXPECT_EQ(a.Texts, QStringList{"The number of selected files must be : 4"});
  }
  WriteTiff(w.Dir.Path("p.tif"), MakePixels(5, 5, 8, 3));
  TModalAnswerer a({Press(QMessageBox::Ok)});
  w.W->DropFiles({S(w.Dir.Path("a.tif")), S(w.Dir.Path("p.tif"))}, QPoint(200, 120));
  EXPECT_EQ(a.Texts, QStringList{"Can't merge the selected files"});
}

TEST(Window, StartChecksAndFinalStatus) {
  Win w;
  w.W->ShowPanel(2);
  WriteTiff(w.Dir.Path("a.tif"), MakePixels(100, 80, 8, 3));
  w.Choose(w.Dir.Path("a.tif"));
  w.W->rbRaw->setChecked(true);
  w.W->EditCropX->setValue(100);
  {
    TModalAnswerer a({Press(QMessageBox::Ok)});
    w.W->btStartClick();
    EXPECT_EQ(a.Texts, QStringList{"X must >= 0 and < 100"});
  }
  EXPECT_EQ(w.Status(), "Operation aborted");
  EXPECT_TRUE(w.W->btStart->isEnabled());
  w.W->EditCropX->setValue(10);
  w.W->EditCropW->setValue(20);
  w.W->EditCropH->setValue(30);
  w.W->btStartClick();
  EXPECT_EQ(w.Status(), "Operation completed successfully");
  EXPECT_EQ(GetFileSize64(w.Dir.Path("a_20X30.raw")), 20 * 30 * 3);
  // Declining to overwrite writes nothing and is not reported as done.
  {
    TModalAnswerer a({Press(QMessageBox::No)});
    w.W->btStartClick();
    EXPECT_EQ(a.Texts, QStringList{"Output file exists. Do you want to overwrite it?"});
  }
  EXPECT_EQ(w.Status(), "Operation aborted");
  // A folder chosen in the browser that has gone since.
  w.W->BrowseDirectory = S(w.Dir.Path("gone"));
  TModalAnswerer a({Press(QMessageBox::Ok)});
  w.W->btStartClick();
  EXPECT_EQ(a.Texts, QStringList{"Output directory doesn't exists"});
}

// Pause, continue and abort while a real conversion runs.
struct RunningConvert : Win {
  RunningConvert() {
    WriteRaw(Dir.Path("big_1500X4000.raw"), MakePixels(1500, 4000, 8, 3));
    ::mkdir(Dir.Path("o").c_str(), 0755);
    W->ShowPanel(1);
    Choose(Dir.Path("big_1500X4000.raw"));
    W->EditOutputFolder->setText(S(Dir.Path("o")));
    W->show();
  }
  std::string Out() { return RunCommand("ls " + Quote(Dir.Path("o"))); }
};

TEST(WindowRun, PauseThenContinue) {
  RunningConvert r;
  bool sawPaused = false, disabled = false, pauseEnabled = false, stoodStill = false;
  WhenRunning(r.W.get(), r.W->PProgress, [&] {
    r.W->btPause->click();
    QTimer::singleShot(150, [&] {
      sawPaused = r.W->Paused && r.W->btPause->text() == "Continue" &&
                  r.W->Taskbar1.State() == TTaskbarProgress::tsPaused;
      disabled = !r.W->btStart->isEnabled() && !r.W->btConvert->isEnabled() && !r.W->sbInput->isEnabled();
      pauseEnabled = r.W->btPause->isEnabled() && r.W->rbKro->isEnabled();
      const int value = r.W->PBStatus->value();
      QTimer::singleShot(150, [&, value] {
        stoodStill = r.W->PBStatus->value() == value;
        r.W->btPause->click();
      });
    });
  });
  r.W->btStartClick();
  EXPECT_TRUE(sawPaused);
  EXPECT_TRUE(disabled);
  EXPECT_TRUE(pauseEnabled);
  EXPECT_TRUE(stoodStill);
  EXPECT_EQ(r.Status(), "Operation completed successfully");
  EXPECT_EQ(r.Out(), "big.tif\n");
  EXPECT_FALSE(r.W->PProgress->isVisible());
  EXPECT_TRUE(r.W->btStart->isEnabled());
  EXPECT_EQ(r.W->Taskbar1.State(), TTaskbarProgress::tsNone);
}

TEST(WindowRun, PauseThenAbortYes) {
  RunningConvert r;
  TModalAnswerer a({[](QWidget* d) { qobject_cast<TFrmConfirm*>(d)->btYes->click(); }});
  WhenRunning(r.W.get(), r.W->PProgress, [&] {
    r.W->btPause->click();
    QTimer::singleShot(50, [&] { r.W->btAbort->click(); });
  });
  r.W->btStartClick();
  EXPECT_EQ(a.Answered, 1);
  EXPECT_EQ(r.Status(), "Operation aborted");
  EXPECT_FALSE(r.W->PProgress->isVisible());
  EXPECT_EQ(r.Out(), "");
}

TEST(WindowRun, PauseThenAbortNoStaysPaused) {
  RunningConvert r;
  bool stillPaused = false;
  TModalAnswerer a({[](QWidget* d) { qobject_cast<TFrmConfirm*>(d)->btNo->click(); }});
  WhenRunning(r.W.get(), r.W->PProgress, [&] {
    r.W->btPause->click();
    QTimer::singleShot(50, [&] {
      r.W->btAbort->click();  // returns once the answer No has closed the dialog
      QTimer::singleShot(100, [&] {
        stillPaused = r.W->Paused && r.W->btPause->text() == "Continue" && !r.W->Torvel.Abort;
        r.W->btPause->click();
      });
    });
  });
  r.W->btStartClick();
  EXPECT_EQ(a.Answered, 1);
  EXPECT_TRUE(stillPaused);
  EXPECT_EQ(r.Status(), "Operation completed successfully");
}

TEST(WindowRun, ClosingDuringARunAbortsCleansUpAndCloses) {
  RunningConvert r;
  WriteTiff(r.Dir.Path("other.tif"), MakePixels(10, 10, 8, 3));
  std::string inputDuringRun;
  TModalAnswerer a({[](QWidget* d) { qobject_cast<TFrmConfirm*>(d)->btYes->click(); }});
  WhenRunning(r.W.get(), r.W->PProgress, [&] {
    r.W->btPause->click();
    QTimer::singleShot(50, [&] {
      // An input drop during the run is ignored.
      r.W->DropFiles({S(r.Dir.Path("other.tif"))}, QPoint(200, 120));
      inputDuringRun = r.W->Torvel.InInfo.FileName;
      r.W->close();
    });
  });
  r.W->btStartClick();
  EXPECT_EQ(a.Answered, 1);
  EXPECT_EQ(inputDuringRun, r.Dir.Path("big_1500X4000.raw"));
  EXPECT_EQ(r.Status(), "Operation aborted");
  EXPECT_EQ(r.Out(), "");
  EXPECT_TRUE(WaitFor([&] { return !r.W->isVisible(); }, 3000));
}

// Every operation from the window gives the bytes the command line gives.
TEST(WindowRun, EveryOperationMatchesTheCommandLine) {
  Win w;
  const std::string cli = TORVEL_EXE;
  TPixels px = MakePixels(10050, 150, 8, 3, 4);
  WriteRaw(w.Dir.Path("p_10050X150.raw"), px);
  for (const char* d : {"win", "cli", "wt", "ct"}) ::mkdir(w.Dir.Path(d).c_str(), 0755);
  auto runWin = [&](uint8_t mode) {
    if (w.W->CurrentPanel != mode) w.W->ShowPanel(mode);  // entering Merge empties its list
    w.W->btStartClick();
    EXPECT_EQ(w.Status(), "Operation completed successfully") << int(mode);
  };
  auto runCli = [&](const std::string& args) {
    int rc = 0;
    RunCommand(cli + " " + args + " --quiet --out " + Quote(w.Dir.Path("cli")) + " >/dev/null 2>&1", &rc);
    EXPECT_EQ(rc, 0) << args;
  };
  w.W->ShowPanel(1);
  w.Choose(w.Dir.Path("p_10050X150.raw"));
  w.W->EditOutputFolder->setText(S(w.Dir.Path("win")));
  w.W->rbKro->setChecked(true);
  runWin(1);
  runCli("convert " + Quote(w.Dir.Path("p_10050X150.raw")) + " --format kro");
  w.W->rbTifLzw->setChecked(true);
  w.W->EditCropX->setValue(17);
  w.W->EditCropY->setValue(9);
  w.W->EditCropW->setValue(4000);
  w.W->EditCropH->setValue(100);
  runWin(2);
  runCli("crop " + Quote(w.Dir.Path("p_10050X150.raw")) + " 17 9 4000 100 --format tif-lzw");
  w.W->rbRaw->setChecked(true);
  w.W->jvResizeW->setValue(1000);
  w.W->rbFastResize->setChecked(true);
  runWin(3);
  runCli("resize " + Quote(w.Dir.Path("p_10050X150.raw")) + " --width 1000 --fast --format raw");
  w.W->rbTif->setChecked(true);
  w.W->ShowPanel(4);
  w.W->jvSplitWidth->setValue(4000);
  w.W->jvSplitHeight->setValue(256);
  w.W->EditOutputFolder->setText(S(w.Dir.Path("wt")));
  runWin(4);
  int rc = 0;
  RunCommand(cli + " split " + Quote(w.Dir.Path("p_10050X150.raw")) + " --tile 4000x256 --quiet --out " +
                 Quote(w.Dir.Path("ct")) + " >/dev/null",
             &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(RunCommand("cd " + Quote(w.Dir.Path("wt")) + " && ls && cat *.tif | md5sum"),
            RunCommand("cd " + Quote(w.Dir.Path("ct")) + " && ls && cat *.tif | md5sum"));
  // Merge the window's tiles back.
  w.W->ShowPanel(5);
  QStringList tiles;
  for (const char* n : {"p_4000X150_x1y1.tif", "p_4000X150_x2y1.tif", "p_2050X150_x3y1.tif"})
    tiles << S(w.Dir.Path(std::string("wt/") + n));
  w.W->DropFiles(tiles, QPoint(200, 120));
  w.W->EditOutputFolder->setText(S(w.Dir.Path("win")));
  w.W->rbRaw->setChecked(true);
  runWin(5);
  EXPECT_EQ(ReadFile(w.Dir.Path("win/p_10050X150.raw")), RawBytes(px));
  for (const char* f : {"p.kro", "p.tif", "p_1000X15.raw"}) {
    SCOPED_TRACE(f);
    EXPECT_TRUE(ReadFile(w.Dir.Path(std::string("win/") + f)) == ReadFile(w.Dir.Path(std::string("cli/") + f)));
  }
}

// The run's progress reaches the session bus as the launcher entry's Update
// signal; without a bus nothing is sent and nothing waits.
TEST(Taskbar, UpdateSignalOnTheSessionBus) {
  if (std::system("command -v dbus-run-session >/dev/null && command -v dbus-monitor >/dev/null") != 0)
    GTEST_SKIP() << "no dbus-run-session";
  TScratch d;
  const std::string script = "dbus-monitor --session \"interface='com.canonical.Unity.LauncherEntry'\" > " +
                             Quote(d.Path("sig.txt")) + " 2>/dev/null & m=$!; sleep 0.5; " + Quote(TASKBAR_PROBE) +
                             "; sleep 0.3; kill $m";
  int rc = 0;
  RunCommand("dbus-run-session -- sh -c " + Quote(script) + " 2>&1", &rc);
  const std::string sig = ReadFile(d.Path("sig.txt"));
  EXPECT_NE(sig.find("member=Update"), std::string::npos) << sig;
  EXPECT_NE(sig.find("string \"application://torvel-tools.desktop\""), std::string::npos) << sig;
  EXPECT_NE(sig.find("double 0.5"), std::string::npos) << sig;
  EXPECT_NE(sig.find("boolean true"), std::string::npos) << sig;
  EXPECT_NE(sig.find("boolean false"), std::string::npos) << sig;
  // No bus at all: the window's progress calls return at once.
  TTaskbarProgress none("torvel-tools");
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < 1000; ++i) none.SetProgressValue(i, 1000);
  EXPECT_LT(t.elapsed(), 500);
}
