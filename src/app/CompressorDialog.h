#pragma once
// The modal dialog in which the user picks the video compressor of one conversion and its
// quality. Compressors the machine's libraries lack are listed but cannot be chosen.
#include <QDialog>
#include <vector>

#include "avi/Compressor.h"

class QDialogButtonBox;
class QListWidget;
class QSlider;
class QSpinBox;

namespace zentrova::app {

class CompressorDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDefaultQuality = 90;

  explicit CompressorDialog(std::vector<avi::CompressorInfo> compressors, QWidget* parent = nullptr);

  // The selected compressor and quality; meaningful after the dialog was accepted.
  avi::CompressOptions options() const;

  // Selects the compressor of that name when it is available; false otherwise.
  bool selectCodec(const QString& name);
  void setQuality(int quality);

 private:
  void UpdateOkButton();

  std::vector<avi::CompressorInfo> compressors_;
  QListWidget* list_ = nullptr;
  QSlider* qualitySlider_ = nullptr;
  QSpinBox* qualitySpin_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};

}  // namespace zentrova::app
