// The operation area: one panel per mode with its fields. The fields follow
// the chosen image (split tiles fitted to it, the resize height derived from
// the width), and every change is announced, for the preview to follow.
#pragma once

#include <QFrame>
#include <QHash>

#include "engine/image.h"
#include "engine/operations.h"
#include "ui/mode.h"
#include "ui/pyramidchoice.h"

class QRadioButton;
class QSpinBox;

namespace torvel {

class OperationPanels : public QFrame {
  Q_OBJECT
 public:
  explicit OperationPanels(QWidget* parent);
  // Shows the panel of `mode` (none for the about page).
  void showMode(Mode mode);
  Mode mode() const { return mode_; }
  // The image the fields follow; an image not accepted leaves them as typed.
  void setImage(const ImageInfo& image);

  Region cropRegion() const;
  void setCropRegion(const Region& region);
  // The split tile size as a split takes it: fitted to the image.
  void fitSplitTiles();
  uint32_t tileWidth() const;
  uint32_t tileHeight() const;
  uint32_t tileColumns() const;
  uint32_t tileRows() const;
  void clearTileCounts();
  uint32_t resizeWidth() const;
  uint32_t resizeHeight() const;
  bool fastResize() const;
  void setResizeMethodEnabled(bool enabled);
  void setMergeGrid(int columns, int rows);
  uint32_t mergeColumns() const;
  uint32_t mergeRows() const;
  // Split mode's zoomable pyramid.
  PyramidChoice& pyramid() const { return *pyramid_; }

 signals:
  void changed();
  // A typed value the field did not keep as typed (out of range, fitted to
  // the image): what it became and why.
  void notice(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildCrop();
  void buildResize();
  void buildSplit();
  void buildMerge();
  void connectFields();
  void watchTyping(QSpinBox* field, const QString& name);
  void onTileWidthChanged();
  void onTileHeightChanged();
  void onResizeWidthChanged();
  void updateTileCounts();

  QFrame *convert_, *crop_, *resize_, *split_, *merge_;
  QSpinBox *cropX_, *cropY_, *cropWidth_, *cropHeight_;
  QSpinBox *resizeWidth_, *resizeHeight_, *tileWidth_, *tileHeight_, *tileColumns_, *tileRows_;
  QSpinBox *mergeColumns_, *mergeRows_;
  QRadioButton *fast_, *slow_;
  PyramidChoice* pyramid_;
  Mode mode_ = Mode::About;
  ImageInfo image_;
  QHash<QSpinBox*, QString> typed_;  // the text last typed into each field
};

}  // namespace torvel
