#include "ui/pyramidchoice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>

#include "ui/widgets.h"

namespace torvel {

namespace {

const std::pair<const char*, PyramidLayout> layouts[] = {{"Deep Zoom", PyramidLayout::DeepZoom},
                                                         {"IIIF (static tiles)", PyramidLayout::Iiif},
                                                         {"Zoomify", PyramidLayout::Zoomify},
                                                         {"z/x/y tiles", PyramidLayout::Xyz}};
const std::pair<const char*, TileFormat> formats[] = {
    {"JPEG", TileFormat::Jpeg}, {"PNG", TileFormat::Png}, {"WebP", TileFormat::WebP}};

template <class Widget>
Widget* named(Widget* w, const char* name) {
  w->setObjectName(name);
  return w;
}

QSpinBox* spin(QWidget* parent, const char* name, int low, int high, int value) {
  auto* s = named(new QSpinBox(parent), name);
  s->setRange(low, high);
  s->setValue(value);
  return s;
}

}  // namespace

PyramidSettingsDialog::PyramidSettingsDialog(const PyramidSettings& current, QWidget* parent)
    : QDialog(parent), base_(current) {
  setWindowTitle("Zoomable pyramid");
  layout_ = named(new QComboBox(this), "layoutChoice");
  for (const auto& [text, l] : layouts) layout_->addItem(text, static_cast<int>(l));
  layout_->setCurrentIndex(layout_->findData(static_cast<int>(current.layout)));
  format_ = named(new QComboBox(this), "tileFormatChoice");
  for (const auto& [text, f] : formats) format_->addItem(text, static_cast<int>(f));
  format_->setCurrentIndex(format_->findData(static_cast<int>(current.encoding.format)));
  tile_ = spin(this, "tileSizeNumber", 16, 8192, static_cast<int>(current.tile));
  overlap_ = spin(this, "overlapNumber", 0, 8, static_cast<int>(current.overlap));
  quality_ = spin(this, "tileQualityNumber", 1, 100, current.encoding.quality);
  int y = addRow("Layout", layout_, 12);
  y = addRow("Tile size", tile_, y);
  y = addRow("Overlap", overlap_, y);
  y = addRow("Tile format", format_, y);
  y = addRow("Quality", quality_, y);
  const std::pair<QCheckBox**, std::pair<const char*, const char*>> checks[] = {
      {&lossless_, {"Lossless (WebP)", "tileLosslessCheck"}},
      {&skipBlank_, {"Leave out tiles that are all background", "skipBlankCheck"}},
      {&zip_, {"One ZIP file instead of a folder", "zipCheck"}},
      {&viewer_, {"Viewer page beside it", "viewerCheck"}}};
  for (const auto& [box, text] : checks) y = addRow("", *box = named(new QCheckBox(text.first, this), text.second), y);
  lossless_->setChecked(current.encoding.lossless);
  skipBlank_->setChecked(current.skipBlank);
  zip_->setChecked(current.zip);
  viewer_->setChecked(current.viewer);
  auto* buttons = placed(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this), "pyramidButtons",
                         12, y + 8, 296, 30);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(layout_, &QComboBox::currentIndexChanged, this, &PyramidSettingsDialog::followChoices);
  connect(format_, &QComboBox::currentIndexChanged, this, &PyramidSettingsDialog::followChoices);
  followChoices();
  setFixedSize(320, y + 50);
}

int PyramidSettingsDialog::addRow(const QString& text, QWidget* control, int y) {
  if (!text.isEmpty()) label(this, text, 12, y + 4, 90);
  control->setGeometry(text.isEmpty() ? 12 : 104, y, text.isEmpty() ? 296 : 204, 26);
  return y + 32;
}

// Overlap is Deep Zoom's; quality and lossless follow the tile format; the
// viewer shows every layout but z/x/y.
void PyramidSettingsDialog::followChoices() {
  const auto layout = static_cast<PyramidLayout>(layout_->currentData().toInt());
  const auto format = static_cast<TileFormat>(format_->currentData().toInt());
  overlap_->setEnabled(layout == PyramidLayout::DeepZoom);
  lossless_->setEnabled(format == TileFormat::WebP);
  quality_->setEnabled(format != TileFormat::Png && !(format == TileFormat::WebP && lossless_->isChecked()));
  viewer_->setEnabled(layout != PyramidLayout::Xyz);
}

PyramidSettings PyramidSettingsDialog::chosen() const {
  PyramidSettings s = base_;
  s.layout = static_cast<PyramidLayout>(layout_->currentData().toInt());
  s.tile = static_cast<uint32_t>(tile_->value());
  s.overlap = s.layout == PyramidLayout::DeepZoom ? static_cast<uint32_t>(overlap_->value()) : 0;
  s.encoding.format = static_cast<TileFormat>(format_->currentData().toInt());
  s.encoding.quality = quality_->value();
  s.encoding.lossless = s.encoding.format == TileFormat::WebP && lossless_->isChecked();
  s.skipBlank = skipBlank_->isChecked();
  s.zip = zip_->isChecked();
  s.viewer = viewer_->isChecked() && s.layout != PyramidLayout::Xyz;
  return s;
}

PyramidChoice::PyramidChoice(QWidget* parent) : QWidget(parent) {
  chosen_ = placed(new QCheckBox("Zoomable pyramid", this), "pyramidChoice", 0, 2, 200, 24);
  settingsButton_ = placed(new QPushButton("Settings...", this), "pyramidSettingsButton", 206, 0, 88, 28);
  open_ = placed(new QPushButton("Open viewer", this), "openViewerButton", 298, 0, 88, 28);
  open_->setEnabled(false);
  connect(settingsButton_, &QPushButton::clicked, this, &PyramidChoice::editSettings);
  connect(open_, &QPushButton::clicked, this, [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(page_)); });
}

bool PyramidChoice::chosen() const { return chosen_->isChecked(); }

void PyramidChoice::setViewerPage(const QString& path) {
  page_ = path;
  open_->setEnabled(!path.isEmpty());
}

void PyramidChoice::editSettings() {
  PyramidSettingsDialog dialog(settings_, this);
  if (dialog.exec() == QDialog::Accepted) settings_ = dialog.chosen();
}

}  // namespace torvel
