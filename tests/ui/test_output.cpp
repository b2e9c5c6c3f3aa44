// The output panel's formats beyond the four radio buttons and the options
// dialog: what the window writes is what torvel writes for the same choice;
// Split mode's zoomable pyramid.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QLocale>
#include <QSpinBox>
#include <QTest>

#include "testkit.h"
#include "winkit.h"

using namespace testkit;
using namespace uikit;
using torvel::Mode;

namespace {

// Sets the options dialog's codec and tiles, then accepts it.
ModalAnswerer::Action setOptions(const QString& codec, int tiles) {
  return [=](QWidget* d) {
    auto* codecs = d->findChild<QComboBox*>("codecChoice");
    codecs->setCurrentIndex(codecs->findText(codec));
    auto* tiling = d->findChild<QComboBox*>("tilesChoice");
    tiling->setCurrentIndex(tiling->findData(tiles));
    qobject_cast<QDialog*>(d)->accept();
  };
}

}  // namespace

TEST(WindowOutput, OtherFormatsAndOptionsWriteWhatTorvelWrites) {
  Win w;
  writeTiff(w.dir.path("a.tif"), makePixels(300, 200, 16, 4));
  for (const char* d : {"win", "cli"}) runCommand("mkdir " + quote(w.dir.path(d)));
  w.w->showMode(torvel::Mode::Convert);
  w.choose(w.dir.path("a.tif"));
  w.ui.outputFolderEdit->setText(q(w.dir.path("win")));
  auto* others = w.w->findChild<QComboBox*>("otherFormatChoice");
  auto* options = w.w->findChild<QPushButton*>("optionsButton");
  const auto torvel = [&](const std::string& args) {
    runCommand(std::string(TORVEL_EXE) + " convert " + quote(w.dir.path("a.tif")) + " --quiet --out " +
               quote(w.dir.path("cli")) + " " + args + " >/dev/null");
  };
  // PSB from the drop-down list: no options to set.
  others->setCurrentIndex(others->findData("psb"));
  emit others->activated(others->currentIndex());
  EXPECT_FALSE(options->isEnabled());
  w.start();
  torvel("--format psb");
  EXPECT_TRUE(readFile(w.dir.path("win/a.psb")) == readFile(w.dir.path("cli/a.psb")));
  // TIFF with Deflate in tiles, set in the dialog.
  w.ui.tiffFormat->setChecked(true);
  ASSERT_TRUE(options->isEnabled());
  {
    ModalAnswerer a({setOptions("Deflate", 256)});
    options->click();
  }
  w.start();
  torvel("--compress deflate --tiled");
  EXPECT_EQ(runCommand("cmp " + quote(w.dir.path("win/a.tif")) + " " + quote(w.dir.path("cli/a.tif"))), "");
  // Set back to none in strips: the original TIFF, byte for byte.
  {
    ModalAnswerer a({setOptions("None", 0), press(QMessageBox::Yes)});
    options->click();
    w.start();
  }
  runCommand("rm " + quote(w.dir.path("cli/a.tif")));
  torvel("--format tif");
  EXPECT_EQ(runCommand("cmp " + quote(w.dir.path("win/a.tif")) + " " + quote(w.dir.path("cli/a.tif"))), "");
}

// Split mode's zoomable pyramid: set in its dialog, made by Start (Open
// viewer then offered), and an aborted one leaves nothing.
TEST(WindowOutput, SplitModeMakesAZoomablePyramid) {
  Win w;
  writeRaw(w.dir.path("big_4000X3000.raw"), makePixels(4000, 3000, 8, 3));
  runCommand("mkdir " + quote(w.dir.path("o")));
  w.w->showMode(torvel::Mode::Split);
  w.choose(w.dir.path("big_4000X3000.raw"));
  w.ui.outputFolderEdit->setText(q(w.dir.path("o")));
  w.w->findChild<QCheckBox*>("pyramidChoice")->setChecked(true);
  {
    ModalAnswerer a({[](QWidget* d) {
      auto* layouts = d->findChild<QComboBox*>("layoutChoice");
      layouts->setCurrentIndex(layouts->findText("IIIF (static tiles)"));
      d->findChild<QSpinBox*>("tileSizeNumber")->setValue(512);
      qobject_cast<QDialog*>(d)->accept();
    }});
    w.w->findChild<QPushButton*>("pyramidSettingsButton")->click();
  }
  auto* open = w.w->findChild<QPushButton*>("openViewerButton");
  EXPECT_FALSE(open->isEnabled());
  w.w->show();
  startAndAbort(w);
  EXPECT_EQ(runCommand("ls -A " + quote(w.dir.path("o"))), "");
  w.start();
  EXPECT_EQ(w.status().rfind("Operation completed successfully", 0), 0u) << w.status();
  EXPECT_EQ(runCommand("ls " + quote(w.dir.path("o"))), "big_4000X3000\nbig_4000X3000.html\nopenseadragon\n");
  EXPECT_TRUE(open->isEnabled());
  EXPECT_NE(readFile(w.dir.path("o/big_4000X3000/info.json")).find("\"width\": 512, \"height\": 512"), std::string::npos);
}

// Files given to the program open as its input (several: a merge); a field
// that does not keep what was typed, or that Start would refuse, says so at once.
TEST(WindowFields, FilesGivenToTheProgramAndFieldsThatSayWhy) {
  Win w;
  writeTiff(w.dir.path("a.tif"), makePixels(900, 600, 8, 3));
  w.w->openFiles({q(w.dir.path("a.tif"))});
  EXPECT_EQ(w.w->mode(), Mode::Convert);
  ASSERT_TRUE(w.w->input().accepted);
  w.w->showMode(Mode::Crop);  // a new crop is the whole image
  EXPECT_EQ(w.ui.cropWidth->value(), 900);
  EXPECT_EQ(w.ui.cropHeight->value(), 600);
  w.ui.cropX->setValue(100);
  EXPECT_EQ(w.status(), "Width must > 0 and <= 800: from x = 100, 900 pixels reach past the right edge of the 900 × 600 image");
  w.ui.cropWidth->setValue(800);
  EXPECT_EQ(w.status(), "");
  w.w->showMode(Mode::Resize);  // the resize rule before Start
  EXPECT_NE(w.status().find("must be > 10000"), std::string::npos) << w.status();

  // A typed tile side below the least is put back, and the user is told.
  w.w->showMode(Mode::Split);
  auto* edit = w.ui.splitTileWidth->findChild<QLineEdit*>();
  edit->selectAll();
  QTest::keyClicks(edit, "100");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(w.status(), "Tile width must be at least 256: 100 was not taken, it stays " +
                            QLocale().toString(w.ui.splitTileWidth->value()).toStdString());
  edit->selectAll();
  QTest::keyClicks(edit, "5000");  // fitted to the image
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(w.ui.splitTileWidth->value(), 900);
  EXPECT_EQ(w.status(), "Tile width " + QLocale().toString(5000).toStdString() + " is more than this image allows: set to 900");

  // Several files: a merge of them; a missing one is named.
  writeTiff(w.dir.path("t_X1Y1.tif"), makePixels(300, 200, 8, 3));
  writeTiff(w.dir.path("t_X2Y1.tif"), makePixels(300, 200, 8, 3));
  w.w->openFiles({q(w.dir.path("t_X1Y1.tif")), q(w.dir.path("t_X2Y1.tif"))});
  EXPECT_EQ(w.w->mode(), Mode::Merge);
  EXPECT_EQ(w.ui.mergeColumns->value() * w.ui.mergeRows->value(), 2);
  ModalAnswerer a({press(QMessageBox::Ok)});
  w.w->openFiles({q(w.dir.path("none.tif"))});
  EXPECT_EQ(a.texts, QStringList{q("File not found: " + w.dir.path("none.tif"))});
}
