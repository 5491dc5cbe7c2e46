// "Save a report": the report of each conversion of the window, NAME.report.json and
// NAME.report.txt beside its output, the same as the command line's convert --report writes. The
// window's settings stand where the command line gives its own.
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>

#include "app/ConversionDialog.h"
#include "container/ContainerFile.h"
#include "convert/ReportRecorder.h"
#include "recording/RecordingScan.h"

namespace zentrova::app {
namespace {

std::string LocalPath(const QString& name) { return QFile::encodeName(name).toStdString(); }
QString FromLocalPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

}  // namespace

bool ConversionDialog::BeginReport(const QString& output, const FoundRecording* found, bool overwrite) {
  DropReport();
  // Names the job refuses before it looks at anything leave nothing to report on.
  if (!saveReport_->isChecked() || inputName_.isEmpty() || !container::IsOutputName(LocalPath(output))) return true;
  ReportRequest request;
  request.input = LocalPath(inputName_);
  request.output = LocalPath(output);
  request.program = "zentrova " ZENTROVA_VERSION;
  request.format = container::FormatOfName(request.output);
  // The compressor is noted when the user has chosen it.
  request.settings = {{"front end", "desktop dialog"},
                      {"codec", "not chosen"},
                      {"quality", "not chosen"},
                      {"rate", "auto"},
                      {"recover", found ? "yes" : "no"},
                      {"overwrite", overwrite ? "yes" : "no"}};
  request.overwrite = overwrite;
  report_ = std::make_unique<ReportRecorder>(std::move(request));
  if (report_->blocked()) {
    DropReport();
    // The report of an earlier conversion is evidence too: it goes only with the output it describes.
    AddLogLine(QStringLiteral("%1 exists: the report of an earlier conversion is kept, and %2 was not converted.")
                   .arg(FromLocalPath(ReportPath(LocalPath(output), "json")), QFileInfo(inputName_).fileName()));
    return false;
  }
  if (found) report_->Damage(found->damage);
  return true;
}

std::optional<avi::CompressOptions> ConversionDialog::NoteCompressor(std::optional<avi::CompressOptions> chosen) {
  if (report_ && chosen) {
    report_->Codec(chosen->codec);
    report_->Setting("codec", chosen->codec);
    report_->Setting("quality", std::to_string(chosen->quality));
  }
  return chosen;
}

void ConversionDialog::FinishReport(int status, bool withGaps) {
  if (!report_) return;
  // Lines from here on are about the report, not in it.
  std::shared_ptr<ReportRecorder> report(std::move(report_));
  reportThreads_.emplace_back([this, report, status, withGaps] {
    if (withGaps) report->GapsOfRecording(0, 0);
    const Expected<void> written = report->Finish(status);
    const QString line =
        written ? QStringLiteral("Report saved as %1.").arg(FromLocalPath(ReportPath(report->output(), "txt")))
                : QStringLiteral("The report was not saved: %1").arg(QString::fromLocal8Bit(written.reason()));
    const std::thread::id id = std::this_thread::get_id();
    QMetaObject::invokeMethod(
        this,
        [this, line, id] {
          AddLogLine(line);
          JoinReportThread(id);
        },
        Qt::QueuedConnection);
  });
}

void ConversionDialog::JoinReportThread(std::thread::id id) {
  for (auto it = reportThreads_.begin(); it != reportThreads_.end(); ++it)
    if (it->get_id() == id) {
      it->join();
      reportThreads_.erase(it);
      return;
    }
}

void ConversionDialog::DropReport() {
  if (!report_) return;
  // It may still be reading the recording for its digest: that ends off the window's thread.
  std::shared_ptr<ReportRecorder> report(std::move(report_));
  reportThreads_.emplace_back([this, report]() mutable {
    report.reset();
    const std::thread::id id = std::this_thread::get_id();
    QMetaObject::invokeMethod(this, [this, id] { JoinReportThread(id); }, Qt::QueuedConnection);
  });
}

}  // namespace zentrova::app
