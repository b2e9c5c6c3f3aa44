// The main window under the offscreen platform: modes, input selection, the
// RAW size dialog, drops, progress with pause and abort, and every operation
// run from the window against the command line's bytes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <thread>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QDropEvent>
#include <QFileDialog>
#include <QLocale>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
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

#include "engine/files.h"
#include "testkit.h"
#include "ui/abortconfirmation.h"
#include "ui/mainwindow.h"
#include "ui/rawsizedialog.h"
#include "uikit.h"
#include "winkit.h"

using namespace testkit;
using namespace torvel;
using namespace uikit;

namespace {

// A drop reaches the window only after the drag entered it.
void dropAt(QWidget* w, QMimeData& mime, QPointF at) {
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &drop);
}


}  // namespace

TEST(Window, FreshStartShowsTheAboutPageOnly) {
  Win w;
  EXPECT_EQ(w.w->windowTitle(), "Torvel Tools 2.1.0");
  EXPECT_EQ(w.w->mode(), Mode::About);
  EXPECT_FALSE(w.ui.inputPanel->isVisibleTo(w.w.get()));
  EXPECT_FALSE(w.ui.outputPanel->isVisibleTo(w.w.get()));
  EXPECT_FALSE(w.ui.progressPanel->isVisibleTo(w.w.get()));
  EXPECT_TRUE(w.ui.aboutPage->isVisibleTo(w.w.get()));
  EXPECT_EQ(w.ui.fileSizeValue->text(), "-");
  EXPECT_EQ(w.ui.splitTileWidth->maximum(), 30000);
  EXPECT_TRUE(w.ui.tiffFormat->isChecked());
  EXPECT_TRUE(w.ui.slowResize->isChecked());
  EXPECT_EQ(w.w->size(), QSize(426, 608));
  // Places of the panels as laid out.
  EXPECT_EQ(w.ui.inputPanel->geometry(), QRect(0, 80, 426, 153));
  EXPECT_EQ(w.ui.operationArea->geometry(), QRect(0, 233, 426, 210));
  EXPECT_EQ(w.ui.outputPanel->geometry(), QRect(0, 443, 426, 146));
  EXPECT_EQ(w.ui.progressPanel->geometry(), QRect(25, 239, 377, 193));
}

TEST(Window, ModesKeepOrClearTheSelection) {
  Win w;
  writeTiff(w.dir.path("a.tif"), makePixels(2500, 1700, 8, 3));
  w.w->showMode(Mode::Convert);
  EXPECT_EQ(w.ui.startButton->text(), "Start");
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));  // numbers follow the user's locale
  w.choose(w.dir.path("a.tif"));
  EXPECT_EQ(w.ui.inputFileEdit->text(), "a.tif");
  EXPECT_EQ(w.ui.inputFileEdit->toolTip().toStdString(), w.dir.path("a.tif"));
  EXPECT_EQ(w.ui.widthValue->text(), "2,500");
  EXPECT_EQ(w.ui.heightValue->text(), "1,700");
  EXPECT_EQ(w.ui.pixelsValue->text(), "4.25 Megapixels");
  EXPECT_EQ(w.ui.bitsValue->text(), "8");
  EXPECT_EQ(w.ui.channelsValue->text(), "3");
  EXPECT_EQ(w.ui.fileSizeValue->text(), "12.75 MB");  // with its unit
  EXPECT_EQ(w.ui.fileSizeValue->toolTip(), QLocale().toString(qint64(fileSize(w.dir.path("a.tif")))) + " bytes");
  EXPECT_EQ(w.status(), "Image is valid");
  // Split counts derived from the tile size: 1000 x 1000 gives 3 x 2.
  EXPECT_EQ(w.ui.splitColumns->value(), 3);
  EXPECT_EQ(w.ui.splitRows->value(), 2);
  for (Mode m : {Mode::Crop, Mode::Resize, Mode::Split, Mode::About, Mode::Convert}) {
    w.w->showMode(m);
    EXPECT_EQ(w.ui.inputFileEdit->text(), "a.tif");
    EXPECT_EQ(w.ui.widthValue->text(), "2,500");
  }
  QLocale::setDefault(QLocale::system());
  w.w->showMode(Mode::Split);
  EXPECT_EQ(w.ui.startButton->text(), "Split");
  w.w->showMode(Mode::Merge);
  EXPECT_EQ(w.ui.startButton->text(), "Merge");
  EXPECT_EQ(w.ui.inputLabel->text(), "Input files");
  EXPECT_EQ(w.ui.inputFileEdit->text(), "");
  EXPECT_EQ(w.ui.widthValue->text(), "");
  w.w->showMode(Mode::Crop);
  EXPECT_EQ(w.ui.inputLabel->text(), "Input file");
  EXPECT_EQ(w.ui.splitColumns->value(), 0);
}

TEST(Window, SplitAndResizeFieldsFollowTheInput) {
  Win w;
  w.w->showMode(Mode::Split);
  w.ui.splitTileWidth->setValue(3000);  // no input yet: nothing derived
  EXPECT_EQ(w.ui.splitColumns->value(), 0);
  writeTiff(w.dir.path("a.tif"), makePixels(800, 300, 8, 3));
  w.choose(w.dir.path("a.tif"));
  EXPECT_EQ(w.ui.splitTileWidth->value(), 800);
  EXPECT_EQ(w.ui.splitColumns->value(), 1);
  w.ui.splitTileHeight->setValue(256);
  EXPECT_EQ(w.ui.splitRows->value(), 2);
  w.ui.resizeWidth->setValue(600);
  EXPECT_EQ(w.ui.resizeHeight->value(), 225);
}

TEST(Window, ClickingANumberSelectsIt) {
  Win w;
  w.w->showMode(Mode::Crop);
  w.w->show();
  QLineEdit* edit = w.ui.cropWidth->findChild<QLineEdit*>();
  w.ui.cropWidth->setValue(1234);
  edit->deselect();
  QTest::mouseClick(edit, Qt::LeftButton);
  EXPECT_TRUE(waitFor([&] { return edit->selectedText() == "1234"; }, 2000));
}

TEST(Window, InputLimitsAndRefusals) {
  Win w;
  w.w->showMode(Mode::Convert);
  writeTiff(w.dir.path("edge.tif"), makePixels(300000, 1, 8, 3));
  w.choose(w.dir.path("edge.tif"));
  EXPECT_TRUE(w.w->input().accepted);
  writeTiff(w.dir.path("wide.tif"), makePixels(300001, 1, 8, 3));
  {
    ModalAnswerer a({press(QMessageBox::Ok)});
    w.choose(w.dir.path("wide.tif"));
    EXPECT_EQ(a.texts, QStringList{"Image dimensions exceed internal limits"});
  }
  EXPECT_FALSE(w.w->input().accepted);
  EXPECT_EQ(w.ui.widthValue->text(), "");
  EXPECT_EQ(w.ui.inputFileEdit->text(), "edge.tif");  // keeps its previous text
  writeFile(w.dir.path("x.bmp"), "bmp");
  ModalAnswerer a({press(QMessageBox::Ok)});
  w.choose(w.dir.path("x.bmp"));
  EXPECT_EQ(a.texts, QStringList{"Then file type is invalid"});
}

TEST(Window, OpenDialogChoosesTheInput) {
  Win w;
  w.w->showMode(Mode::Convert);
  writeKro(w.dir.path("k.kro"), makePixels(30, 20, 16, 4));
  QString title, filter;
  ModalAnswerer a({[&](QWidget* d) {
    auto* dlg = qobject_cast<QFileDialog*>(d);
    ASSERT_NE(dlg, nullptr);
    title = dlg->windowTitle();
    filter = dlg->selectedNameFilter();
    dlg->setDirectory(q(w.dir.dir()));
    dlg->findChild<QLineEdit*>("fileNameEdit")->setText("k.kro");
    QMetaObject::invokeMethod(dlg, "accept", Qt::QueuedConnection);
  }});
  w.w->chooseInput();
  EXPECT_EQ(title, "Torvel Tools - input file");
  EXPECT_EQ(filter, "All suported file types (*.tif *.tiff *.raw *.rgb *.kro *.psd *.psb *.png *.jpg *.jpeg)");
  EXPECT_TRUE(w.w->input().accepted);
  EXPECT_EQ(w.ui.channelsValue->text(), "4");
  EXPECT_EQ(w.ui.bitsValue->text(), "16");
}

TEST(Window, RawSizeDialogDerivesAndAcceptsOnlyExactPairs) {
  RawSizeDialog d;
  d.prepare(3000000, 0, 0);
  EXPECT_EQ(d.fileSizeLabel->text(), QLocale().toString(3000000));
  d.widthEdit->setText("1000");
  EXPECT_EQ(d.heightEdit->text(), "1000");
  d.bits16->setChecked(true);
  EXPECT_EQ(d.pixelCount, 500000);
  EXPECT_EQ(d.heightEdit->text(), "500");
  d.acceptIfExact();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.chosenWidth, 1000u);
  EXPECT_EQ(d.chosenHeight, 500u);
  EXPECT_EQ(d.chosenBits(), 16);

  d.bits8->setChecked(true);
  d.bits16->setChecked(true);
  d.prepare(49 * 3, 0, 0);  // from the defaults again, not from the last answer
  EXPECT_EQ(d.widthEdit->text(), "0");
  EXPECT_EQ(d.chosenBits(), 8);
  d.widthEdit->setText("7");  // below 100: nothing derived
  EXPECT_EQ(d.heightEdit->text(), "0");
  d.prepare(3000 * 3 * 7, 0, 0);
  d.widthEdit->setText("99");
  EXPECT_EQ(d.heightEdit->text(), "0");
  d.widthEdit->setText("3001");  // does not divide: height stays
  EXPECT_EQ(d.heightEdit->text(), "0");
  d.setResult(0);
  {
    ModalAnswerer a({press(QMessageBox::Ok)});
    d.acceptIfExact();  // no match: says so and stays open
    ASSERT_EQ(a.texts.size(), 1);
    EXPECT_TRUE(a.texts[0].contains("does not fit this file")) << a.texts[0].toStdString();
  }
  EXPECT_EQ(d.result(), 0);
  d.widthEdit->setText("400000");
  EXPECT_EQ(d.widthEdit->text(), "300000");
  // A quotient of exactly 300000 is not written; typing it derives the other side.
  d.prepare(int64_t{300000} * 200 * 3, 0, 0);
  d.heightEdit->setText("0");
  d.widthEdit->setText("200");
  EXPECT_EQ(d.heightEdit->text(), "0");
  d.heightEdit->setText("300000");
  EXPECT_EQ(d.widthEdit->text(), "200");
  // With a size from the name the width is filled and the height derived.
  d.prepare(1000 * 800 * 3, 1000, 777);
  EXPECT_EQ(d.widthEdit->text(), "1000");
  EXPECT_EQ(d.heightEdit->text(), "800");
  d.cancel();
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_EQ(d.chosenWidth, 0u);
}

TEST(Window, RawSizeDialogKeyFilter) {
  RawSizeDialog d;
  d.show();
  d.widthEdit->setText("123456");
  d.widthEdit->setFocus();
  d.widthEdit->deselect();
  d.widthEdit->setCursorPosition(6);
  QTest::keyClick(d.widthEdit, Qt::Key_7);
  EXPECT_EQ(d.widthEdit->text(), "123456");  // a seventh digit is refused
  QTest::keyClick(d.widthEdit, Qt::Key_A);
  EXPECT_EQ(d.widthEdit->text(), "123456");
  d.widthEdit->selectAll();
  QTest::keyClick(d.widthEdit, Qt::Key_9);  // replacing the selection
  EXPECT_EQ(d.widthEdit->text(), "9");
  QTest::keyClick(d.widthEdit, Qt::Key_Backspace);
  EXPECT_EQ(d.widthEdit->text(), "");
  // Enter accepts an exact size, Esc cancels.
  d.prepare(300 * 200 * 3, 0, 0);
  d.widthEdit->setText("300");
  QTest::keyClick(d.widthEdit, Qt::Key_Return);
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.chosenHeight, 200u);
  d.show();
  QTest::keyClick(d.heightEdit, Qt::Key_Escape);
  EXPECT_EQ(d.result(), QDialog::Rejected);
}

TEST(Window, RawInputThroughTheDialogAndCancel) {
  Win w;
  w.w->showMode(Mode::Convert);
  writeRaw(w.dir.path("scan.raw"), makePixels(200, 150, 8, 3));
  {
    ModalAnswerer a({[](QWidget* d) {
      auto* r = qobject_cast<RawSizeDialog*>(d);
      ASSERT_NE(r, nullptr);
      r->widthEdit->setText("200");
      r->acceptIfExact();
    }});
    w.choose(w.dir.path("scan.raw"));
  }
  EXPECT_TRUE(w.w->input().accepted);
  EXPECT_EQ(w.ui.heightValue->text(), "150");
  {
    ModalAnswerer a({[](QWidget* d) { qobject_cast<RawSizeDialog*>(d)->cancel(); }});
    w.choose(w.dir.path("scan.raw"));
    EXPECT_TRUE(a.texts.isEmpty());
  }
  EXPECT_FALSE(w.w->input().accepted);
  EXPECT_EQ(w.ui.heightValue->text(), "");
}

TEST(Window, DropsOnInputAndOutputPanelsAndMergeSelections) {
  Win w;
  ::mkdir(w.dir.path("out").c_str(), 0755);
  writeTiff(w.dir.path("a.tif"), makePixels(20, 10, 8, 3));
  // On the about page drops do nothing.
  w.w->dropFiles({q(w.dir.path("a.tif"))}, QPoint(200, 120));
  EXPECT_FALSE(w.w->input().accepted);
  w.w->showMode(Mode::Convert);
  w.w->show();
  // A real drop event at a point inside the input panel.
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(q(w.dir.path("a.tif"))), QUrl::fromLocalFile(q(w.dir.path("b.tif")))});
  dropAt(w.w.get(), mime, QPointF(200, 150));
  EXPECT_TRUE(w.w->input().accepted);
  EXPECT_EQ(w.ui.inputFileEdit->text(), "a.tif");
  // A folder on the output panel becomes the output folder without a browser.
  QMimeData folder;
  folder.setUrls({QUrl::fromLocalFile(q(w.dir.path("out")))});
  dropAt(w.w.get(), folder, QPointF(200, 500));
  EXPECT_EQ(w.ui.outputFolderEdit->text().toStdString(), w.dir.path("out"));
  EXPECT_FALSE(w.w->droppedFile());
  // The same folder on the input panel does nothing.
  w.w->dropFiles({q(w.dir.path("out"))}, QPoint(200, 100));
  EXPECT_EQ(w.ui.inputFileEdit->text(), "a.tif");

  // Merge mode: one file is listed only; four make a 2 x 2 grid.
  w.w->showMode(Mode::Merge);
  for (const char* n : {"t_X1Y1.tif", "t_X2Y1.tif", "t_X1Y2.tif", "t_X2Y2.tif"})
    writeTiff(w.dir.path(n), makePixels(5, 5, 8, 3));
  w.w->dropFiles({q(w.dir.path("t_X1Y1.tif"))}, QPoint(200, 120));
  EXPECT_EQ(w.status(), "Processing input files list");
  EXPECT_EQ(w.ui.inputFileEdit->text(), "");
  QStringList four;
  for (const char* n : {"t_X1Y1.tif", "t_X2Y1.tif", "t_X1Y2.tif", "t_X2Y2.tif"}) four << q(w.dir.path(n));
  w.w->dropFiles(four, QPoint(200, 120));
  EXPECT_EQ(w.ui.inputFileEdit->text(), "4 files selected");
  EXPECT_EQ(w.ui.mergeColumns->value(), 2);
  EXPECT_EQ(w.ui.mergeRows->value(), 2);
  {
    ModalAnswerer a({press(QMessageBox::Ok)});
    w.w->dropFiles(four.mid(0, 3), QPoint(200, 120));
    EXPECT_EQ(a.texts, QStringList{"The number of selected files must be : 4"});
  }
  writeTiff(w.dir.path("p.tif"), makePixels(5, 5, 8, 3));
  ModalAnswerer a({press(QMessageBox::Ok)});
  w.w->dropFiles({q(w.dir.path("a.tif")), q(w.dir.path("p.tif"))}, QPoint(200, 120));
  EXPECT_EQ(a.texts, QStringList{"Can't merge the selected files"});
}

TEST(Window, StartChecksAndFinalStatus) {
  Win w;
  w.w->showMode(Mode::Crop);
  writeTiff(w.dir.path("a.tif"), makePixels(100, 80, 8, 3));
  w.choose(w.dir.path("a.tif"));
  w.ui.rawFormat->setChecked(true);
  w.ui.cropX->setValue(100);
  {
    ModalAnswerer a({press(QMessageBox::Ok)});
    w.start();
    ASSERT_EQ(a.texts.size(), 1);
    EXPECT_TRUE(a.texts[0].startsWith("X must >= 0 and < 100: x = 100 is past the right edge")) << a.texts[0].toStdString();
  }
  EXPECT_EQ(w.status(), "Operation aborted");
  EXPECT_TRUE(w.ui.startButton->isEnabled());
  w.ui.cropX->setValue(10);
  w.ui.cropWidth->setValue(20);
  w.ui.cropHeight->setValue(30);
  w.start();
  EXPECT_EQ(w.status().rfind("Operation completed successfully", 0), 0u) << w.status();
  EXPECT_EQ(fileSize(w.dir.path("a_20X30.raw")), 20 * 30 * 3);
  // Declining to overwrite writes nothing and is not reported as done.
  {
    ModalAnswerer a({press(QMessageBox::No)});
    w.start();
    EXPECT_EQ(a.texts, QStringList{"Output file exists. Do you want to overwrite it?"});
  }
  EXPECT_EQ(w.status(), "Operation aborted");
  // A folder typed into the field (or chosen and gone since) is checked on Start.
  w.ui.outputFolderEdit->clear();
  QTest::keyClicks(w.ui.outputFolderEdit, q(w.dir.path("gone")));
  ModalAnswerer a({press(QMessageBox::Ok)});
  w.start();
  EXPECT_EQ(a.texts, QStringList{q("Output directory doesn't exists: " + w.dir.path("gone") + " does not exist")});
}

// Pause, continue and abort while a real run goes on: a narrow crop of every
// row of a tall headerless input, long enough (150000 rows) that the clicks
// land before it ends even when the window thread is slow.
struct RunningCrop : Win {
  RunningCrop() {
    const std::string in = dir.path("tall_2000X150000.raw");
    runCommand("truncate -s " + std::to_string(2000LL * 150000 * 3) + " " + quote(in));  // sparse: no disk used
    ::mkdir(dir.path("o").c_str(), 0755);
    w->showMode(Mode::Crop);
    choose(in);
    ui.cropWidth->setValue(20);
    ui.cropHeight->setValue(150000);
    ui.outputFolderEdit->setText(q(dir.path("o")));
    w->show();
  }
  std::string output() { return runCommand("ls " + quote(dir.path("o"))); }
};

TEST(WindowRun, PauseThenContinue) {
  RunningCrop r;
  bool sawPaused = false, disabled = false, pauseEnabled = false, stoodStill = false, covered = false;
  auto* cover = r.w->findChild<QWidget*>("progressCover");
  auto* rate = r.w->findChild<QLabel*>("progressRate");
  whenRunning(r.w.get(), r.ui.progressPanel, [&] {
    // Nothing of the operation panel shows around the progress panel.
    covered = cover->isVisible() && cover->geometry().contains(r.ui.operationArea->geometry());
    r.ui.pauseButton->click();
    QTimer::singleShot(150, [&] {
      sawPaused = r.w->paused() && r.ui.pauseButton->text() == "Continue" && rate->text() == "Paused" &&
                  r.w->launcherState() == LauncherProgress::State::Paused;
      disabled = !r.ui.startButton->isEnabled() && !r.ui.convertButton->isEnabled() && !r.ui.inputBrowseButton->isEnabled();
      pauseEnabled = r.ui.pauseButton->isEnabled() && r.ui.kroFormat->isEnabled();
      const int value = r.ui.progressBar->value();
      QTimer::singleShot(150, [&, value] {
        stoodStill = r.ui.progressBar->value() == value;
        r.ui.pauseButton->click();
      });
    });
  });
  r.start();
  EXPECT_TRUE(sawPaused);
  EXPECT_TRUE(disabled);
  EXPECT_TRUE(pauseEnabled);
  EXPECT_TRUE(stoodStill);
  EXPECT_TRUE(covered);
  EXPECT_NE(rate->text().indexOf(" left"), -1) << rate->text().toStdString();  // speed and time left after Continue
  EXPECT_EQ(r.status(), "Operation completed successfully: " + r.dir.path("o/tall.tif"));
  auto* openFolder = r.w->findChild<QPushButton*>("openFolderButton");
  EXPECT_TRUE(openFolder->isVisible());
  EXPECT_EQ(openFolder->toolTip().toStdString(), r.dir.path("o/"));
  EXPECT_TRUE(r.ui.cropButton->isChecked());
  EXPECT_FALSE(r.ui.convertButton->isChecked());
  EXPECT_EQ(r.output(), "tall.tif\n");
  EXPECT_FALSE(r.ui.progressPanel->isVisible());
  EXPECT_FALSE(cover->isVisible());
  EXPECT_TRUE(r.ui.startButton->isEnabled());
  EXPECT_EQ(r.w->launcherState(), LauncherProgress::State::None);
}

TEST(WindowRun, PauseThenAbortYes) {
  RunningCrop r;
  startAndAbort(r);
  EXPECT_FALSE(r.ui.progressPanel->isVisible());
  EXPECT_EQ(r.output(), "");
}

TEST(WindowRun, PauseThenAbortNoStaysPaused) {
  RunningCrop r;
  bool stillPaused = false;
  ModalAnswerer a({[](QWidget* d) { qobject_cast<AbortConfirmation*>(d)->noButton->click(); }});
  whenRunning(r.w.get(), r.ui.progressPanel, [&] {
    r.ui.pauseButton->click();
    QTimer::singleShot(50, [&] {
      r.ui.abortButton->click();  // returns once the answer No has closed the dialog
      QTimer::singleShot(100, [&] {
        stillPaused = r.w->paused() && r.ui.pauseButton->text() == "Continue" && !r.w->runController().cancelRequested();
        r.ui.pauseButton->click();
      });
    });
  });
  r.start();
  EXPECT_EQ(a.answered, 1);
  EXPECT_TRUE(stillPaused);
  EXPECT_EQ(r.status().rfind("Operation completed successfully", 0), 0u) << r.status();
}

TEST(WindowRun, ClosingDuringARunAbortsCleansUpAndCloses) {
  RunningCrop r;
  writeTiff(r.dir.path("other.tif"), makePixels(10, 10, 8, 3));
  std::string inputDuringRun;
  ModalAnswerer a({[](QWidget* d) { qobject_cast<AbortConfirmation*>(d)->yesButton->click(); }});
  whenRunning(r.w.get(), r.ui.progressPanel, [&] {
    r.ui.pauseButton->click();
    QTimer::singleShot(50, [&] {
      // An input drop during the run is ignored.
      r.w->dropFiles({q(r.dir.path("other.tif"))}, QPoint(200, 120));
      inputDuringRun = r.w->input().path;
      r.w->close();
    });
  });
  r.start();
  EXPECT_EQ(a.answered, 1);
  EXPECT_EQ(inputDuringRun, r.dir.path("tall_2000X150000.raw"));
  EXPECT_EQ(r.status(), "Operation aborted");
  EXPECT_EQ(r.output(), "");
  EXPECT_TRUE(waitFor([&] { return !r.w->isVisible(); }, 3000));
}

// Every operation from the window gives the bytes the command line gives.
TEST(WindowRun, EveryOperationMatchesTheCommandLine) {
  Win w;
  const std::string cli = TORVEL_EXE;
  Pixels px = makePixels(10050, 150, 8, 3, 4);
  writeRaw(w.dir.path("p_10050X150.raw"), px);
  for (const char* d : {"win", "cli", "wt", "ct"}) ::mkdir(w.dir.path(d).c_str(), 0755);
  auto runWin = [&](Mode mode) {
    if (w.w->mode() != mode) w.w->showMode(mode);  // entering Merge empties its list
    w.start();
    EXPECT_EQ(w.status().rfind("Operation completed successfully", 0), 0u) << w.status() << int(mode);
  };
  auto runCli = [&](const std::string& args) {
    int rc = 0;
    runCommand(cli + " " + args + " --quiet --out " + quote(w.dir.path("cli")) + " >/dev/null 2>&1", &rc);
    EXPECT_EQ(rc, 0) << args;
  };
  w.w->showMode(Mode::Convert);
  w.choose(w.dir.path("p_10050X150.raw"));
  w.ui.outputFolderEdit->setText(q(w.dir.path("win")));
  w.ui.kroFormat->setChecked(true);
  runWin(Mode::Convert);
  runCli("convert " + quote(w.dir.path("p_10050X150.raw")) + " --format kro");
  w.ui.tiffLzwFormat->setChecked(true);
  w.ui.cropX->setValue(17);
  w.ui.cropY->setValue(9);
  w.ui.cropWidth->setValue(4000);
  w.ui.cropHeight->setValue(100);
  runWin(Mode::Crop);
  runCli("crop " + quote(w.dir.path("p_10050X150.raw")) + " 17 9 4000 100 --format tif-lzw");
  w.ui.rawFormat->setChecked(true);
  w.ui.resizeWidth->setValue(1000);
  w.ui.fastResize->setChecked(true);
  runWin(Mode::Resize);
  runCli("resize " + quote(w.dir.path("p_10050X150.raw")) + " --width 1000 --fast --format raw");
  w.ui.tiffFormat->setChecked(true);
  w.w->showMode(Mode::Split);
  w.ui.splitTileWidth->setValue(4000);
  w.ui.splitTileHeight->setValue(256);
  w.ui.outputFolderEdit->setText(q(w.dir.path("wt")));
  runWin(Mode::Split);
  int rc = 0;
  runCommand(cli + " split " + quote(w.dir.path("p_10050X150.raw")) + " --tile 4000x256 --quiet --out " +
                 quote(w.dir.path("ct")) + " >/dev/null",
             &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(runCommand("cd " + quote(w.dir.path("wt")) + " && ls && cat *.tif | md5sum"),
            runCommand("cd " + quote(w.dir.path("ct")) + " && ls && cat *.tif | md5sum"));
  // Merge the window's tiles back.
  w.w->showMode(Mode::Merge);
  QStringList tiles;
  for (const char* n : {"p_4000X150_x1y1.tif", "p_4000X150_x2y1.tif", "p_2050X150_x3y1.tif"})
    tiles << q(w.dir.path(std::string("wt/") + n));
  w.w->dropFiles(tiles, QPoint(200, 120));
  w.ui.outputFolderEdit->setText(q(w.dir.path("win")));
  w.ui.rawFormat->setChecked(true);
  runWin(Mode::Merge);
  EXPECT_EQ(readFile(w.dir.path("win/p_10050X150.raw")), rawBytes(px));
  for (const char* f : {"p.kro", "p.tif", "p_1000X15.raw"}) {
    SCOPED_TRACE(f);
    EXPECT_TRUE(readFile(w.dir.path(std::string("win/") + f)) == readFile(w.dir.path(std::string("cli/") + f)));
  }
}

// The run's progress reaches the session bus as the launcher entry's Update
// signal; without a bus nothing is sent and nothing waits.
TEST(Taskbar, UpdateSignalOnTheSessionBus) {
  if (std::system("command -v dbus-run-session >/dev/null && command -v dbus-monitor >/dev/null") != 0)
    GTEST_SKIP() << "no dbus-run-session";
  Scratch d;
  const std::string script = "dbus-monitor --session \"interface='com.canonical.Unity.LauncherEntry'\" > " +
                             quote(d.path("sig.txt")) + " 2>/dev/null & m=$!; sleep 0.5; " + quote(LAUNCHER_PROBE) +
                             "; sleep 0.3; kill $m";
  int rc = 0;
  runCommand("dbus-run-session -- sh -c " + quote(script) + " 2>&1", &rc);
  const std::string sig = readFile(d.path("sig.txt"));
  EXPECT_NE(sig.find("member=Update"), std::string::npos) << sig;
  EXPECT_NE(sig.find("string \"application://torvel-tools.desktop\""), std::string::npos) << sig;
  EXPECT_NE(sig.find("double 0.5"), std::string::npos) << sig;
  EXPECT_NE(sig.find("boolean true"), std::string::npos) << sig;
  EXPECT_NE(sig.find("boolean false"), std::string::npos) << sig;
  // No bus at all: the window's progress calls return at once.
  LauncherProgress none("torvel-tools");
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < 1000; ++i) none.setValue(i, 1000);
  EXPECT_LT(t.elapsed(), 500);
}

// A bus that accepts connections and never answers: found out by the short
// handshake, so the progress thread is joined at once and outlives nothing.
TEST(Taskbar, ABusThatNeverAnswersDelaysNothing) {
  Scratch d;
  const std::string path = d.path("silent-bus");
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un at{};
  at.sun_family = AF_UNIX;
  std::strncpy(at.sun_path, path.c_str(), sizeof at.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(::listen(listener, 4), 0);  // connections wait in the backlog, unanswered
  const char* before = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string saved = before ? before : "";
  ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + path).c_str(), 1);
  EXPECT_FALSE(sessionBusAnswers(200));
  QElapsedTimer t;
  t.start();
  {
    LauncherProgress silent("torvel-tools");
    silent.setState(LauncherProgress::State::Normal);
    silent.setValue(1, 2);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_LT(t.elapsed(), 2000);
  ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
  ::close(listener);
}

namespace {

void sparse(const std::string& path, int64_t bytes) { runCommand("truncate -s " + std::to_string(bytes) + " " + quote(path)); }

}  // namespace

// An abort from the window leaves nothing of convert, merge and resize, and
// the complete tiles of the bands before for split.
TEST(WindowRun, AbortLeavesNoOutputAndSplitKeepsEarlierBands) {
  Win w;
  w.w->show();
  ::mkdir(w.dir.path("o").c_str(), 0755);
  const std::string in = w.dir.path("wide_20500X2200.raw");
  sparse(in, int64_t{20500} * 2200 * 3);
  w.ui.outputFolderEdit->setText(q(w.dir.path("o")));
  const std::string output = "ls -A " + quote(w.dir.path("o"));
  for (Mode m : {Mode::Convert, Mode::Resize}) {
    w.w->showMode(m);
    w.choose(in);
    w.ui.resizeWidth->setValue(1000);
    startAndAbort(w);
    EXPECT_EQ(runCommand(output), "") << int(m);
  }
  // Merge two tall tiles.
  for (const char* t : {"t_2000X40000_x1y1.raw", "t_2000X40000_x2y1.raw"}) sparse(w.dir.path(t), 2000LL * 40000 * 3);
  w.w->showMode(Mode::Merge);
  w.w->dropFiles({q(w.dir.path("t_2000X40000_x1y1.raw")), q(w.dir.path("t_2000X40000_x2y1.raw"))}, QPoint(200, 120));
  startAndAbort(w);
  EXPECT_EQ(runCommand(output), "");
  // Split into bands of 256 rows: whatever bands were done stay complete.
  w.w->showMode(Mode::Split);
  w.choose(in);
  w.ui.rawFormat->setChecked(true);
  w.ui.splitTileWidth->setValue(10250);
  w.ui.splitTileHeight->setValue(256);
  startAndAbort(w);
  const std::string tiles = runCommand(output);
  EXPECT_EQ(tiles.find("wide_10250X256_x1y9"), std::string::npos) << "the last band was not reached";
  if (tiles.find("x1y2") != std::string::npos) {
    EXPECT_EQ(fileSize(w.dir.path("o/wide_10250X256_x1y1.raw")), 10250 * 256 * 3);
  }
}

// Whatever a job throws on the run thread, a lack of memory first, ends it
// as a failure with the reason, which the window shows; the program goes on.
TEST(WindowRun, AnAllocationFailureOnTheRunThreadIsAFailureWithItsReason) {
  RunController run([](const QStringList&) { return false; });
  std::vector<RunResult> ends;
  QObject::connect(&run, &RunController::finished, [&](const RunResult& r) { ends.push_back(r); });
  run.start([](const RunContext&) -> RunResult { throw std::bad_alloc(); });
  ASSERT_TRUE(waitFor([&] { return ends.size() == 1 && !run.running(); }));
  run.start([](const RunContext&) -> RunResult { throw std::length_error("vector too long"); });
  ASSERT_TRUE(waitFor([&] { return ends.size() == 2 && !run.running(); }));
  EXPECT_EQ(ends[0].outcome, Outcome::Failed);
  EXPECT_EQ(ends[0].message, "Not enough memory to complete the operation");
  EXPECT_EQ(ends[1].outcome, Outcome::Failed);
  EXPECT_EQ(ends[1].message, "vector too long");

  Win w;
  w.w->showMode(Mode::Convert);
  writeTiff(w.dir.path("a.tif"), makePixels(20, 10, 8, 3));
  w.choose(w.dir.path("a.tif"));
  ModalAnswerer a({press(QMessageBox::Ok)});
  w.w->runController().start([](const RunContext&) -> RunResult { throw std::bad_alloc(); });
  ASSERT_TRUE(waitFor([&] { return !w.w->busy(); }));
  EXPECT_EQ(a.texts, QStringList{"Not enough memory to complete the operation"});
  EXPECT_EQ(w.status(), "Operation aborted");
}
