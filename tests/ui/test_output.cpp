// The output panel's formats beyond the four radio buttons and the options
// dialog: what the window writes is what torvel writes for the same choice;
// Split mode's zoomable pyramid.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QSpinBox>

#include "testkit.h"
#include "winkit.h"

using namespace testkit;
using namespace uikit;

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
  EXPECT_EQ(w.status(), "Operation completed successfully");
  EXPECT_EQ(runCommand("ls " + quote(w.dir.path("o"))), "big_4000X3000\nbig_4000X3000.html\nopenseadragon\n");
  EXPECT_TRUE(open->isEnabled());
  EXPECT_NE(readFile(w.dir.path("o/big_4000X3000/info.json")).find("\"width\": 512, \"height\": 512"), std::string::npos);
}
