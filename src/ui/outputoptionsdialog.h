// The options of an output format, as the format table gives them: the TIFF
// codec with its level, quality, subsampling and predictor, tiles; a PNG's
// compression level; a JPEG's quality and subsampling. Only the options the
// format takes are shown, and only those the chosen codec takes are enabled.
#pragma once

#include <QDialog>

#include "engine/formats.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace torvel {

class OutputOptionsDialog : public QDialog {
  Q_OBJECT
 public:
  OutputOptionsDialog(const OutputKind& kind, const OutputFormat& current, QWidget* parent);
  // The format as the controls set it; a TIFF is the kind's own (the
  // original writer, byte for byte) while nothing differs from the kind.
  OutputFormat chosen() const;

 private:
  void codecChanged();
  int addRow(const QString& text, QWidget* control, int y);

  const OutputKind& kind_;
  OutputFormat format_;
  QComboBox *codec_ = nullptr, *tiles_ = nullptr;
  QSpinBox *level_ = nullptr, *quality_ = nullptr;
  QCheckBox *lossless_ = nullptr, *chroma444_ = nullptr, *predictor_ = nullptr, *pyramid_ = nullptr;
};

}  // namespace torvel
