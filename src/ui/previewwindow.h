// The preview: a resizable window beside the main one that shows the input
// scaled to fit, loaded on a worker thread by reading only the rows it shows.
// In Crop mode the crop rectangle is drawn and can be moved and resized with
// the mouse, in Split mode the tile grid is drawn, in Resize mode the output
// size is written under the picture. The rectangle, the grid and the size
// come from the operation panels' fields, so they follow what the user types.
#pragma once

#include <QImage>
#include <QWidget>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

#include "engine/image.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace torvel {

class OperationPanels;

// The picture with what the main window's mode draws on it.
class PreviewCanvas : public QWidget {
  Q_OBJECT
 public:
  PreviewCanvas(OperationPanels& fields, QWidget* parent);
  void setPicture(QImage picture, uint32_t imageWidth, uint32_t imageHeight);
  const QImage& picture() const { return picture_; }
  // Where the picture is drawn, and the crop rectangle on it, in widget pixels.
  QRectF pictureArea() const;
  QRectF cropArea() const;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent*) override;

 private:
  QPointF toImage(const QPointF& at) const;
  void drawGrid(QPainter& p) const;
  void setCrop(double left, double top, double right, double bottom);

  OperationPanels& fields_;
  QImage picture_;
  uint32_t imageWidth_ = 0, imageHeight_ = 0;
  // The edges a drag moves (all four: the whole rectangle).
  bool dragLeft_ = false, dragTop_ = false, dragRight_ = false, dragBottom_ = false, dragging_ = false;
  QPointF dragStart_;
  QRectF cropAtStart_;  // in image pixels
};

class PreviewWindow : public QWidget {
  Q_OBJECT
 public:
  // A window of its own beside `parent`, drawing on `fields`.
  PreviewWindow(OperationPanels& fields, QWidget* parent);
  ~PreviewWindow() override;
  // Loads the picture of `image` (an accepted input), cancelling a load under way.
  void load(const ImageInfo& image);
  bool loading() const { return loading_; }
  void cancelLoad();
  // The caption and the drawing again, after the mode or the fields changed.
  void refresh();
  PreviewCanvas* canvas;
  QProgressBar* progress;
  QPushButton* cancelButton;
  QLabel* caption;

 signals:
  void loadProgress(qint64 row, qint64 rows);
  void loaded(quint64 generation, QImage picture, QString failure);

 private:
  void finishLoad(quint64 generation, const QImage& picture, const QString& failure);

  OperationPanels& fields_;
  ImageInfo image_;
  // The loads whose threads have not reported their end yet: a cancelled or
  // replaced one finishes its current step and reports, and only then is its
  // thread joined, so the window never waits for one.
  struct Load {
    quint64 generation;
    std::jthread thread;
  };
  std::vector<Load> loads_;
  quint64 generation_ = 0;  // which load a report belongs to
  bool loading_ = false;
};

}  // namespace torvel
