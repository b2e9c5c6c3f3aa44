#include "ui/operationpanels.h"

#include <QEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <tuple>

#include "engine/rules.h"
#include "ui/widgets.h"

namespace torvel {

OperationPanels::OperationPanels(QWidget* parent) : QFrame(parent) {
  placed(this, "operationArea", 0, 233, 426, 210);
  convert_ = panel(this, "convertPanel", 0, 0, 426, 207);
  title(convert_, "Convert image", "Convert the image to a different file format");
  buildCrop();
  buildResize();
  buildSplit();
  buildMerge();
  connectFields();
}

void OperationPanels::buildCrop() {
  crop_ = panel(this, "cropPanel", 0, 0, 426, 207);
  title(crop_, "Crop image", "Crop the image using the given coordinates and size");
  std::tie(cropX_, cropY_) = numberPair(crop_, "Top left point", 20, "X", "cropX", "Y", "cropY", 0, 9999999, 0);
  std::tie(cropWidth_, cropHeight_) =
      numberPair(crop_, "Size", 226, "Width", "cropWidth", "Height", "cropHeight", 1, 9999999, 1);
}

void OperationPanels::buildResize() {
  resize_ = panel(this, "resizePanel", 0, 0, 426, 207);
  title(resize_, "Resize image", "Resize the image using the given width");
  auto* size = new QGroupBox("Image size", resize_);
  size->setGeometry(20, 56, 386, 60);
  label(size, "Width", 16, 28, 50);
  label(size, "Height", 206, 28, 50);
  resizeWidth_ = number(size, "resizeWidth", 70, 26, 512, 999999, 1000);
  resizeHeight_ = number(size, "resizeHeight", 260, 26, 0, 999999, 0, true);
  fast_ = radio(resize_, "Fast method (less quality)", "fastResize", 30, 130, 300);
  slow_ = radio(resize_, "Slow method (better quality)", "slowResize", 30, 156, 300);
  slow_->setChecked(true);
}

void OperationPanels::buildSplit() {
  split_ = panel(this, "splitPanel", 0, 0, 426, 207);
  title(split_, "Split image", "Slice the image into many smaller tiles");
  std::tie(tileWidth_, tileHeight_) = numberPair(split_, "Tile dimensions", 20, "Width", "splitTileWidth", "Height",
                                                 "splitTileHeight", 256, 9999999, 1000);
  std::tie(tileColumns_, tileRows_) =
      numberPair(split_, "Number of tiles", 226, "X", "splitColumns", "Y", "splitRows", 0, 9999999, 0, true);
  pyramid_ = placed(new PyramidChoice(split_), "pyramidPanel", 20, 168, 386, 30);
  tileWidth_->setMaximum(static_cast<int>(maxSplitTile));
  tileHeight_->setMaximum(static_cast<int>(maxSplitTile));
}

void OperationPanels::buildMerge() {
  merge_ = panel(this, "mergePanel", 0, 0, 426, 207);
  title(merge_, "Merge images", "Merge multiple tiles into one image");
  std::tie(mergeColumns_, mergeRows_) =
      numberPair(merge_, "Number of tiles", 123, "X", "mergeColumns", "Y", "mergeRows", 0, 999999, 0, true);
}

void OperationPanels::connectFields() {
  connect(tileWidth_, &QSpinBox::valueChanged, this, [this] { onTileWidthChanged(); });
  connect(tileHeight_, &QSpinBox::valueChanged, this, [this] { onTileHeightChanged(); });
  connect(resizeWidth_, &QSpinBox::valueChanged, this, [this] { onResizeWidthChanged(); });
  for (QSpinBox* s : {cropX_, cropY_, cropWidth_, cropHeight_, resizeWidth_, resizeHeight_, tileWidth_, tileHeight_,
                      tileColumns_, tileRows_, mergeColumns_, mergeRows_})
    connect(s, &QSpinBox::valueChanged, this, &OperationPanels::changed);
  // A click selects the whole number, ready to be typed over.
  for (QSpinBox* s : {cropX_, cropY_, cropWidth_, cropHeight_, resizeWidth_, resizeHeight_, tileWidth_, tileHeight_,
                      mergeColumns_, mergeRows_})
    s->findChild<QLineEdit*>()->installEventFilter(this);
  watchTyping(cropX_, "X");
  watchTyping(cropY_, "Y");
  watchTyping(cropWidth_, "Crop width");
  watchTyping(cropHeight_, "Crop height");
  watchTyping(resizeWidth_, "Resize width");
  watchTyping(tileWidth_, "Tile width");
  watchTyping(tileHeight_, "Tile height");
  // The tile counts are shown only: focus moves on past them.
  for (QSpinBox* s : {tileColumns_, tileRows_}) {
    s->setFocusPolicy(Qt::ClickFocus);
    s->installEventFilter(this);
  }
}

// A spin box puts back its last value when what was typed is out of range,
// and a tile side is fitted to the image: either way the user is told.
void OperationPanels::watchTyping(QSpinBox* field, const QString& name) {
  auto* edit = field->findChild<QLineEdit*>();
  connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& t) { typed_[field] = t; });
  connect(field, &QSpinBox::editingFinished, this, [this, field, name] {
    const QString typed = typed_.take(field);
    bool ok = false;
    const qlonglong number = QLocale().toLongLong(typed, &ok);
    if (!ok || number == field->value()) return;
    const QLocale l;
    if (number < field->minimum())
      emit notice(QString("%1 must be at least %2: %3 was not taken, it stays %4")
                      .arg(name, l.toString(field->minimum()), l.toString(number), l.toString(field->value())));
    else if (number > field->maximum())
      emit notice(QString("%1 can be at most %2: %3 was not taken, it stays %4")
                      .arg(name, l.toString(field->maximum()), l.toString(number), l.toString(field->value())));
    else
      emit notice(QString("%1 %2 is more than this image allows: set to %3")
                      .arg(name, l.toString(number), l.toString(field->value())));
  });
}

void OperationPanels::showMode(Mode mode) {
  const std::pair<QFrame*, Mode> panels[] = {
      {convert_, Mode::Convert}, {crop_, Mode::Crop}, {resize_, Mode::Resize}, {split_, Mode::Split}, {merge_, Mode::Merge}};
  for (const auto& [p, pm] : panels) p->setVisible(mode == pm);
  mode_ = mode;
}

void OperationPanels::setImage(const ImageInfo& image) {
  // A new image's crop starts as the whole image.
  if (image.accepted && (image.path != image_.path || image.width != image_.width || image.height != image_.height))
    setCropRegion({0, 0, image.width, image.height});
  image_ = image;
  onTileWidthChanged();
}

Region OperationPanels::cropRegion() const {
  return {static_cast<uint32_t>(cropX_->value()), static_cast<uint32_t>(cropY_->value()),
          static_cast<uint32_t>(cropWidth_->value()), static_cast<uint32_t>(cropHeight_->value())};
}

void OperationPanels::setCropRegion(const Region& r) {
  cropX_->setValue(static_cast<int>(r.x));
  cropY_->setValue(static_cast<int>(r.y));
  cropWidth_->setValue(static_cast<int>(r.width));
  cropHeight_->setValue(static_cast<int>(r.height));
}

void OperationPanels::fitSplitTiles() { onTileWidthChanged(); }
uint32_t OperationPanels::tileWidth() const { return static_cast<uint32_t>(tileWidth_->value()); }
uint32_t OperationPanels::tileHeight() const { return static_cast<uint32_t>(tileHeight_->value()); }
uint32_t OperationPanels::tileColumns() const { return static_cast<uint32_t>(tileColumns_->value()); }
uint32_t OperationPanels::tileRows() const { return static_cast<uint32_t>(tileRows_->value()); }

void OperationPanels::clearTileCounts() {
  tileColumns_->setValue(0);
  tileRows_->setValue(0);
}

uint32_t OperationPanels::resizeWidth() const { return static_cast<uint32_t>(resizeWidth_->value()); }
uint32_t OperationPanels::resizeHeight() const { return static_cast<uint32_t>(resizeHeight_->value()); }
bool OperationPanels::fastResize() const { return fast_->isChecked(); }

void OperationPanels::setResizeMethodEnabled(bool enabled) {
  fast_->setEnabled(enabled);
  slow_->setEnabled(enabled);
}

void OperationPanels::setMergeGrid(int columns, int rows) {
  mergeColumns_->setValue(columns);
  mergeRows_->setValue(rows);
}

uint32_t OperationPanels::mergeColumns() const { return static_cast<uint32_t>(mergeColumns_->value()); }
uint32_t OperationPanels::mergeRows() const { return static_cast<uint32_t>(mergeRows_->value()); }

namespace {

// A tile side as typed, fitted to the image and the tile limit.
void fitTileSide(QSpinBox* side, uint32_t imageSide) {
  const int fitted = static_cast<int>(fitSplitTile(static_cast<uint32_t>(side->value()), imageSide));
  if (fitted != side->value()) side->setValue(fitted);
}

}  // namespace

void OperationPanels::onTileWidthChanged() {
  if (!image_.accepted) return;
  fitTileSide(tileWidth_, image_.width);
  updateTileCounts();
}

void OperationPanels::onTileHeightChanged() {
  if (!image_.accepted) return;
  fitTileSide(tileHeight_, image_.height);
  updateTileCounts();
}

// The counts follow only sizes a split takes: while typing, they keep their values.
void OperationPanels::updateTileCounts() {
  const int w = tileWidth_->value(), h = tileHeight_->value();
  if (w < 256 || h < 256) return;
  tileColumns_->setValue(static_cast<int>(tileCount(image_.width, static_cast<uint32_t>(w))));
  tileRows_->setValue(static_cast<int>(tileCount(image_.height, static_cast<uint32_t>(h))));
}

void OperationPanels::onResizeWidthChanged() {
  if (!image_.accepted || resizeWidth_->value() < 256) return;
  const uint32_t w = static_cast<uint32_t>(resizeWidth_->value());
  resizeHeight_->setValue(static_cast<int>(torvel::resizeHeight(image_.width, image_.height, w)));
}

bool OperationPanels::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == tileColumns_ || watched == tileRows_) && event->type() == QEvent::FocusIn) {
    QTimer::singleShot(0, this, [from = static_cast<QWidget*>(watched)] {
      QWidget* next = from->nextInFocusChain();
      while (next != from && (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisible() || !next->isEnabled()))
        next = next->nextInFocusChain();
      next->setFocus(Qt::TabFocusReason);
    });
  } else if (event->type() == QEvent::MouseButtonRelease && qobject_cast<QSpinBox*>(watched->parent())) {
    auto* edit = static_cast<QLineEdit*>(watched);
    QTimer::singleShot(0, edit, [edit] { edit->selectAll(); });
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace torvel
