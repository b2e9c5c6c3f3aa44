#include "ui/outputoptionsdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QSpinBox>

#include "ui/widgets.h"

namespace torvel {

namespace {

const std::pair<const char*, Codec> codecs[] = {{"None", Codec::None},       {"LZW", Codec::Lzw},
                                                {"Deflate", Codec::Deflate}, {"ZSTD", Codec::Zstd},
                                                {"JPEG", Codec::Jpeg},       {"WebP", Codec::WebP}};

template <class Control>
Control* named(Control* control, const char* name) {
  control->setObjectName(name);
  return control;
}

}  // namespace

OutputOptionsDialog::OutputOptionsDialog(const OutputKind& kind, const OutputFormat& current, QWidget* parent)
    : QDialog(parent), kind_(kind), format_(current) {
  setWindowTitle(QString("%1 options").arg(kind.label));
  const uint32_t o = kind.options;
  int y = 12;
  if (o & optCompress) {
    codec_ = named(new QComboBox(this), "codecChoice");
    for (const auto& [text, codec] : codecs) codec_->addItem(text, static_cast<int>(codec));
    codec_->setCurrentIndex(codec_->findData(static_cast<int>(current.codec)));
    y = addRow("Compression", codec_, y);
  }
  if (o & optLevel) {
    level_ = named(new QSpinBox(this), "levelNumber");
    level_->setSpecialValueText("default");
    y = addRow("Level", level_, y);
  }
  if (o & optQuality) {
    quality_ = named(new QSpinBox(this), "qualityNumber");
    quality_->setRange(1, 100);
    quality_->setValue(current.quality);
    y = addRow("Quality", quality_, y);
  }
  if (o & optLossless) y = addRow("", lossless_ = named(new QCheckBox("Lossless (WebP)", this), "losslessCheck"), y);
  if (o & optSubsampling)
    y = addRow("", chroma444_ = named(new QCheckBox("Full colour detail (4:4:4)", this), "chroma444Check"), y);
  if (o & optPredictor)
    y = addRow("", predictor_ = named(new QCheckBox("Horizontal predictor", this), "predictorCheck"), y);
  if (o & optTiles) {
    tiles_ = named(new QComboBox(this), "tilesChoice");
    tiles_->addItem("Strips", 0);
    tiles_->addItem("Tiles of 256 × 256", 256);
    tiles_->addItem("Tiles of 512 × 512", 512);
    tiles_->setCurrentIndex(std::max(0, tiles_->findData(current.tileSide)));
    y = addRow("Layout", tiles_, y);
  }
  if (o & optPyramid)
    y = addRow("", pyramid_ = named(new QCheckBox("Pyramid: reduced levels, in tiles", this), "pyramidCheck"), y);
  if (lossless_) lossless_->setChecked(current.lossless);
  if (chroma444_) chroma444_->setChecked(current.chroma444);
  if (predictor_) predictor_->setChecked(current.predictor);
  if (pyramid_) pyramid_->setChecked(current.pyramid);
  auto* buttons = placed(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this), "optionButtons",
                         12, y + 8, 276, 30);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  if (codec_) connect(codec_, &QComboBox::currentIndexChanged, this, &OutputOptionsDialog::codecChanged);
  codecChanged();
  if (level_) level_->setValue(current.level);  // once its range is the codec's
  setFixedSize(300, y + 50);
}

int OutputOptionsDialog::addRow(const QString& text, QWidget* control, int y) {
  if (!text.isEmpty()) label(this, text, 12, y + 4, 90);
  control->setParent(this);
  control->setGeometry(text.isEmpty() ? 12 : 104, y, text.isEmpty() ? 276 : 184, 26);
  return y + 32;
}

// A TIFF's options follow its codec; PNG and JPEG take theirs always.
void OutputOptionsDialog::codecChanged() {
  OutputFormat f = format_;
  if (codec_) f.codec = static_cast<Codec>(codec_->currentData().toInt());
  const uint32_t takes = codec_ ? codecOptions(f.codec) : kind_.options;
  if (level_) {
    level_->setEnabled(takes & optLevel);
    level_->setRange(f.kind == FileKind::Png ? -1 : 0, std::max(maxLevel(f), 1));  // the lowest: "default"
  }
  if (quality_) quality_->setEnabled(takes & optQuality);
  if (lossless_) lossless_->setEnabled(takes & optLossless);
  if (chroma444_) chroma444_->setEnabled(takes & optSubsampling);
  if (predictor_) predictor_->setEnabled(takes & optPredictor);
}

OutputFormat OutputOptionsDialog::chosen() const {
  OutputFormat f = kind_.format;
  if (codec_) f.codec = static_cast<Codec>(codec_->currentData().toInt());
  const uint32_t takes = codec_ ? codecOptions(f.codec) : kind_.options;
  if (level_ && (takes & optLevel)) f.level = level_->value() == level_->minimum() ? -1 : level_->value();
  if (quality_ && (takes & optQuality)) f.quality = quality_->value();
  if (lossless_ && (takes & optLossless)) f.lossless = lossless_->isChecked();
  if (chroma444_ && (takes & optSubsampling)) f.chroma444 = chroma444_->isChecked();
  if (predictor_ && (takes & optPredictor)) f.predictor = predictor_->isChecked();
  if (tiles_) f.tileSide = tiles_->currentData().toUInt();
  if (pyramid_) f.pyramid = pyramid_->isChecked();
  if (f.pyramid && f.tileSide == 0) f.tileSide = 256;  // levels are tiled
  if (f.kind != FileKind::Tiff) return f;
  const OutputFormat& k = kind_.format;
  const bool differencing = (codecOptions(f.codec) & optPredictor) != 0;
  f.tuned = f.codec != k.codec || f.tileSide != 0 || f.level >= 0 || f.pyramid || (differencing && f.predictor != k.predictor);
  if (f.tuned) f.rowsPerStrip = 0;  // the writer's choice
  return f;
}

}  // namespace torvel
