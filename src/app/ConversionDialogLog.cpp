// The log of the main window: every line the job, the search and the window itself give, kept
// whole (a line too long for the window scrolls sideways and shows in full as its tooltip), the
// reasons behind a failure each under the job's own line, and the clipboard copies.
#include <QClipboard>
#include <QGuiApplication>
#include <QListWidget>
#include <QThread>
#include <algorithm>
#include <utility>

#include "app/ConversionDialog.h"
#include "app/Prompts.h"
#include "convert/ReportRecorder.h"

namespace zentrova::app {

void ConversionDialog::AddLogLine(const QString& text) {
  // The report of the job in hand holds every line the log shows while it runs.
  if (report_) report_->Line(text.toLocal8Bit().toStdString());
  auto* item = new QListWidgetItem(text);
  item->setToolTip(text);
  log_->addItem(item);
  ScrollLogToEnd();
}

void ConversionDialog::ScrollLogToEnd() { log_->scrollToBottom(); }

void ConversionDialog::CopyLogSelection() {
  QList<QListWidgetItem*> items = log_->selectedItems();
  if (items.isEmpty()) return;
  std::sort(items.begin(), items.end(),
            [this](QListWidgetItem* a, QListWidgetItem* b) { return log_->row(a) < log_->row(b); });
  QStringList lines;
  for (QListWidgetItem* item : items) lines << item->text();
  QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void ConversionDialog::CopyWholeLog() {
  QStringList lines;
  for (int i = 0; i < log_->count(); ++i) lines << log_->item(i)->text();
  QGuiApplication::clipboard()->setText(lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

void ConversionDialog::PostLogLine(const std::string& line) {
  const QString text = QString::fromLocal8Bit(line);
  if (QThread::currentThread() == thread()) {
    AddJobLine(text);
    return;
  }
  QMetaObject::invokeMethod(this, [this, text] { AddJobLine(text); }, Qt::QueuedConnection);
}

void ConversionDialog::PostReason(const std::string& reason) {
  const QString text = QString::fromLocal8Bit(reason);
  if (QThread::currentThread() == thread()) {
    AddReason(text);
    return;
  }
  QMetaObject::invokeMethod(this, [this, text] { AddReason(text); }, Qt::QueuedConnection);
}

void ConversionDialog::AddJobLine(const QString& text) {
  AddLogLine(text);
  FlushReasons();
}

void ConversionDialog::AddReason(const QString& text) { pendingReasons_ << text; }

void ConversionDialog::FlushReasons() {
  const QStringList reasons = std::exchange(pendingReasons_, {});
  for (const QString& reason : reasons) AddLogLine(reason);
}

void ConversionDialog::PostFileError(const std::string& message) {
  const QString text = QString::fromLocal8Bit(message);
  if (QThread::currentThread() == thread()) {
    prompts_.ShowFileError(this, text);
    return;
  }
  QMetaObject::invokeMethod(this, [this, text] { prompts_.ShowFileError(this, text); }, Qt::QueuedConnection);
}

}  // namespace zentrova::app
