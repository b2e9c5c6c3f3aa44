#include "ui/previewwindow.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "engine/preview.h"
#include "engine/text.h"
#include "engine/rules.h"
#include "ui/operationpanels.h"

namespace torvel {

namespace {

// The picture is made at most this large and scaled to the window.
constexpr uint32_t pictureMaxWidth = 1600, pictureMaxHeight = 1200;
// How near an edge of the crop rectangle a press takes hold of it.
constexpr double edgeGrip = 6.0;

QImage toImage(const PreviewPicture& p) {
  QImage image(static_cast<int>(p.width), static_cast<int>(p.height), QImage::Format_RGB888);
  for (uint32_t y = 0; y < p.height; ++y)
    std::copy_n(&p.rgb[size_t(y) * p.width * 3], size_t(p.width) * 3, image.scanLine(static_cast<int>(y)));
  return image;
}

// Passes a load's progress to the window's thread.
class LoadObserver : public RunObserver {
 public:
  explicit LoadObserver(PreviewWindow& window) : window_(window) {}
  void phaseStarted(const PhaseStart& phase) override { rows_ = phase.total; }
  void progressed(const Progress& progress) override {
    if (progress.done % 16 == 0 || progress.done == rows_) emit window_.loadProgress(progress.done, rows_);
  }

 private:
  PreviewWindow& window_;
  int64_t rows_ = 0;
};

}  // namespace

PreviewCanvas::PreviewCanvas(OperationPanels& fields, QWidget* parent) : QWidget(parent), fields_(fields) {
  setObjectName("previewCanvas");
  setMinimumSize(320, 240);
  setMouseTracking(false);
}

void PreviewCanvas::setPicture(QImage picture, uint32_t imageWidth, uint32_t imageHeight) {
  picture_ = std::move(picture);
  imageWidth_ = imageWidth;
  imageHeight_ = imageHeight;
  update();
}

QRectF PreviewCanvas::pictureArea() const {
  if (picture_.isNull()) return {};
  const double scale = std::min(width() / double(picture_.width()), height() / double(picture_.height()));
  const double w = picture_.width() * scale, h = picture_.height() * scale;
  return {(width() - w) / 2, (height() - h) / 2, w, h};
}

QRectF PreviewCanvas::cropArea() const {
  const QRectF area = pictureArea();
  if (area.isEmpty() || imageWidth_ == 0) return {};
  const double sx = area.width() / imageWidth_, sy = area.height() / imageHeight_;
  const Region r = fields_.cropRegion();
  return {area.left() + r.x * sx, area.top() + r.y * sy, r.width * sx, r.height * sy};
}

QPointF PreviewCanvas::toImage(const QPointF& at) const {
  const QRectF area = pictureArea();
  return {(at.x() - area.left()) * imageWidth_ / area.width(), (at.y() - area.top()) * imageHeight_ / area.height()};
}

void PreviewCanvas::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), QColor(64, 64, 64));
  if (picture_.isNull()) return;
  const QRectF area = pictureArea();
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(area, picture_);
  if (fields_.mode() == Mode::Crop) {
    const QRectF crop = cropArea().intersected(area);
    QPainterPath outside;
    outside.addRect(area);
    outside.addRect(crop);
    p.fillPath(outside, QColor(0, 0, 0, 120));  // even-odd: all but the crop darkened
    p.setPen(QPen(QColor(255, 220, 0), 2));
    p.drawRect(crop);
  } else if (fields_.mode() == Mode::Split) {
    drawGrid(p);
  }
}

// The tile grid as Split cuts it: the tile size fitted to the image, the last
// column and row taking what is left.
void PreviewCanvas::drawGrid(QPainter& p) const {
  const QRectF area = pictureArea();
  const uint32_t tw = fitSplitTile(fields_.tileWidth(), imageWidth_);
  const uint32_t th = fitSplitTile(fields_.tileHeight(), imageHeight_);
  if (tw == 0 || th == 0) return;
  p.setPen(QPen(QColor(0, 255, 255), 1));
  const double sx = area.width() / imageWidth_, sy = area.height() / imageHeight_;
  for (uint64_t x = tw; x < imageWidth_; x += tw) p.drawLine(QPointF(area.left() + x * sx, area.top()), QPointF(area.left() + x * sx, area.bottom()));
  for (uint64_t y = th; y < imageHeight_; y += th) p.drawLine(QPointF(area.left(), area.top() + y * sy), QPointF(area.right(), area.top() + y * sy));
}

void PreviewCanvas::mousePressEvent(QMouseEvent* e) {
  if (fields_.mode() != Mode::Crop || picture_.isNull() || e->button() != Qt::LeftButton) return;
  const QRectF crop = cropArea();
  const QPointF at = e->position();
  auto near = [](double a, double b) { return std::abs(a - b) <= edgeGrip; };
  const bool within = crop.adjusted(-edgeGrip, -edgeGrip, edgeGrip, edgeGrip).contains(at);
  dragLeft_ = within && near(at.x(), crop.left());
  dragRight_ = within && near(at.x(), crop.right());
  dragTop_ = within && near(at.y(), crop.top());
  dragBottom_ = within && near(at.y(), crop.bottom());
  const Region r = fields_.cropRegion();
  cropAtStart_ = QRectF(r.x, r.y, r.width, r.height);
  dragStart_ = toImage(at);
  if (!dragLeft_ && !dragRight_ && !dragTop_ && !dragBottom_) {
    if (crop.contains(at)) {
      dragLeft_ = dragRight_ = dragTop_ = dragBottom_ = true;  // the whole rectangle moves
    } else {
      // A new rectangle from the press, pulled out by its bottom-right corner.
      cropAtStart_ = QRectF(std::floor(dragStart_.x()), std::floor(dragStart_.y()), 1, 1);
      dragRight_ = dragBottom_ = true;
    }
  }
  dragging_ = true;
  mouseMoveEvent(e);
}

void PreviewCanvas::mouseMoveEvent(QMouseEvent* e) {
  if (!dragging_) return;
  const QPointF d = toImage(e->position()) - dragStart_;
  QRectF r = cropAtStart_;
  if (dragLeft_ && dragRight_ && dragTop_ && dragBottom_) {
    // Moved whole, kept inside the image.
    const double x = std::clamp(r.left() + d.x(), 0.0, std::max(0.0, imageWidth_ - r.width()));
    const double y = std::clamp(r.top() + d.y(), 0.0, std::max(0.0, imageHeight_ - r.height()));
    return setCrop(x, y, x + r.width(), y + r.height());
  }
  if (dragLeft_) r.setLeft(r.left() + d.x());
  if (dragRight_) r.setRight(r.right() + d.x());
  if (dragTop_) r.setTop(r.top() + d.y());
  if (dragBottom_) r.setBottom(r.bottom() + d.y());
  r = r.normalized();
  setCrop(r.left(), r.top(), r.right(), r.bottom());
}

void PreviewCanvas::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

// The rectangle in image pixels, whole and inside the image, into the fields.
void PreviewCanvas::setCrop(double left, double top, double right, double bottom) {
  const auto clampTo = [](double v, uint32_t side) { return std::clamp<long>(std::lround(v), 0, side); };
  // At least one pixel each way.
  const long l = std::min<long>(clampTo(left, imageWidth_), long(imageWidth_) - 1);
  const long t = std::min<long>(clampTo(top, imageHeight_), long(imageHeight_) - 1);
  const long r = std::max(clampTo(right, imageWidth_), l + 1), b = std::max(clampTo(bottom, imageHeight_), t + 1);
  fields_.setCropRegion({static_cast<uint32_t>(l), static_cast<uint32_t>(t), static_cast<uint32_t>(r - l),
                         static_cast<uint32_t>(b - t)});
}

PreviewWindow::PreviewWindow(OperationPanels& fields, QWidget* parent) : QWidget(parent, Qt::Window), fields_(fields) {
  setObjectName("previewWindow");
  setWindowTitle("Preview");
  resize(720, 560);
  auto* layout = new QVBoxLayout(this);
  canvas = new PreviewCanvas(fields, this);
  layout->addWidget(canvas, 1);
  caption = new QLabel(this);
  caption->setObjectName("previewCaption");
  layout->addWidget(caption);
  auto* loadRow = new QHBoxLayout;
  progress = new QProgressBar(this);
  progress->setObjectName("previewProgress");
  cancelButton = new QPushButton("Cancel", this);
  cancelButton->setObjectName("previewCancel");
  loadRow->addWidget(progress, 1);
  loadRow->addWidget(cancelButton);
  layout->addLayout(loadRow);
  connect(cancelButton, &QPushButton::clicked, this, [this] { cancelLoad(); });
  connect(this, &PreviewWindow::loadProgress, this, [this](qint64 row, qint64 rows) {
    progress->setMaximum(static_cast<int>(rows));
    progress->setValue(static_cast<int>(row));
  });
  connect(
      this, &PreviewWindow::loaded, this,
      [this](quint64 generation, const QImage& picture, const QString& failure) {
        // The load has reported its end: its thread has nothing left to do.
        std::erase_if(loads_, [generation](const Load& l) { return l.generation == generation; });
        finishLoad(generation, picture, failure);
      },
      Qt::QueuedConnection);
  connect(&fields, &OperationPanels::changed, this, [this] { refresh(); });
}

// The window is going: every load stops at its next step and is waited for.
PreviewWindow::~PreviewWindow() {
  for (Load& l : loads_) l.thread.request_stop();
  loads_.clear();
}

namespace {

// The picture of `image`, or why there is none; nothing it throws escapes its thread.
RunResult makePicture(const ImageInfo& image, const RunContext& context, QImage& picture) {
  PreviewPicture made;
  RunResult result;
  try {
    result = makePreview(image, pictureMaxWidth, pictureMaxHeight, context, made);
    if (result.completed()) picture = toImage(made);
  } catch (const std::bad_alloc&) {
    result = {Outcome::Failed, notEnoughMemoryFor("the preview picture", uint64_t{pictureMaxWidth} * pictureMaxHeight * 3), {}};
  } catch (const std::exception& e) {
    result = {Outcome::Failed, e.what(), {}};
  }
  return result;
}

}  // namespace

void PreviewWindow::load(const ImageInfo& image) {
  cancelLoad();
  image_ = image;
  canvas->setPicture({}, image.width, image.height);
  loading_ = true;
  progress->setValue(0);
  progress->show();
  cancelButton->show();
  caption->setText("Loading " + QString::fromStdString(image.path) + " ...");
  const quint64 generation = ++generation_;
  loads_.push_back({generation, std::jthread([this, image, generation](std::stop_token stop) {
                      LoadObserver observer(*this);
                      QImage picture;
                      const RunResult result = makePicture(image, RunContext(&observer, stop), picture);
                      emit loaded(generation, picture, QString::fromStdString(result.message));
                    })});
}

void PreviewWindow::cancelLoad() {
  for (Load& l : loads_) l.thread.request_stop();
  if (loading_) finishLoad(generation_, QImage(), "Operation aborted");
}

void PreviewWindow::finishLoad(quint64 generation, const QImage& picture, const QString& failure) {
  if (generation != generation_ || !loading_) return;  // a load cancelled or replaced since
  loading_ = false;
  progress->hide();
  cancelButton->hide();
  canvas->setPicture(picture, image_.width, image_.height);
  if (picture.isNull()) caption->setText(failure.isEmpty() ? QString("No preview") : failure);
  else refresh();
}

// The caption and the drawing follow the main window's mode and fields.
void PreviewWindow::refresh() {
  canvas->update();
  if (loading_ || canvas->picture().isNull()) return;
  QString text = QString("%1 × %2").arg(image_.width).arg(image_.height);
  const Region crop = fields_.cropRegion();
  if (fields_.mode() == Mode::Crop)
    text += QString(", crop %1 × %2 at %3, %4").arg(crop.width).arg(crop.height).arg(crop.x).arg(crop.y);
  else if (fields_.mode() == Mode::Split)
    text += QString(", tiles %1 × %2 in %3 columns and %4 rows")
                .arg(fitSplitTile(fields_.tileWidth(), image_.width))
                .arg(fitSplitTile(fields_.tileHeight(), image_.height))
                .arg(fields_.tileColumns())
                .arg(fields_.tileRows());
  else if (fields_.mode() == Mode::Resize)
    text += QString(", resized to %1 × %2").arg(fields_.resizeWidth()).arg(fields_.resizeHeight());
  caption->setText(text);
}

}  // namespace torvel
