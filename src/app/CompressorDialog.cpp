#include "app/CompressorDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace zentrova::app {
namespace {

constexpr int kCodecRole = Qt::UserRole;

QString ItemText(const avi::CompressorInfo& info) {
  QString text = QString::fromStdString(info.description);
  if (text.isEmpty()) text = QString::fromStdString(info.name);
  if (!info.available) text += QStringLiteral(" (not available)");
  return text;
}

}  // namespace

CompressorDialog::CompressorDialog(std::vector<avi::CompressorInfo> compressors, QWidget* parent)
    : QDialog(parent), compressors_(std::move(compressors)) {
  setWindowTitle(QStringLiteral("Video Compression"));
  setModal(true);

  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("compressors"));
  for (const avi::CompressorInfo& info : compressors_) {
    auto* item = new QListWidgetItem(ItemText(info), list_);
    item->setData(kCodecRole, QString::fromStdString(info.name));
    if (!info.available) item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
  }

  qualitySlider_ = new QSlider(Qt::Horizontal, this);
  qualitySlider_->setRange(0, 100);
  qualitySpin_ = new QSpinBox(this);
  qualitySpin_->setObjectName(QStringLiteral("quality"));
  qualitySpin_->setRange(0, 100);
  connect(qualitySlider_, &QSlider::valueChanged, qualitySpin_, &QSpinBox::setValue);
  connect(qualitySpin_, &QSpinBox::valueChanged, qualitySlider_, &QSlider::setValue);
  setQuality(kDefaultQuality);

  auto* qualityLabel = new QLabel(QStringLiteral("&Quality:"), this);
  qualityLabel->setBuddy(qualitySpin_);
  auto* qualityRow = new QHBoxLayout;
  qualityRow->addWidget(qualityLabel);
  qualityRow->addWidget(qualitySlider_, 1);
  qualityRow->addWidget(qualitySpin_);

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(list_, &QListWidget::itemSelectionChanged, this, &CompressorDialog::UpdateOkButton);
  connect(list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    if (item->flags() & Qt::ItemIsEnabled) accept();
  });

  auto* listLabel = new QLabel(QStringLiteral("&Compressor:"), this);
  listLabel->setBuddy(list_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(listLabel);
  layout->addWidget(list_);
  layout->addLayout(qualityRow);
  layout->addWidget(buttons_);

  // Every conversion starts from the default choice; nothing of an earlier one is kept.
  if (!selectCodec(QString::fromLatin1(avi::kDefaultCodec))) {
    for (int row = 0; row < list_->count(); ++row) {
      if (list_->item(row)->flags() & Qt::ItemIsSelectable) {
        list_->setCurrentRow(row);
        break;
      }
    }
  }
  UpdateOkButton();
}

bool CompressorDialog::selectCodec(const QString& name) {
  for (int row = 0; row < list_->count(); ++row) {
    QListWidgetItem* item = list_->item(row);
    if (item->data(kCodecRole).toString() != name) continue;
    if (!(item->flags() & Qt::ItemIsSelectable)) return false;
    list_->setCurrentRow(row);
    return true;
  }
  return false;
}

void CompressorDialog::setQuality(int quality) { qualitySpin_->setValue(quality); }

avi::CompressOptions CompressorDialog::options() const {
  avi::CompressOptions options;
  const QListWidgetItem* item = list_->currentItem();
  if (item) options.codec = item->data(kCodecRole).toString().toStdString();
  options.quality = qualitySpin_->value();
  return options;
}

void CompressorDialog::UpdateOkButton() {
  const QListWidgetItem* item = list_->currentItem();
  const bool chosen = item && item->isSelected() && (item->flags() & Qt::ItemIsSelectable);
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(chosen);
}

}  // namespace zentrova::app
