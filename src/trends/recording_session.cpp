#include "trends/recording_session.h"

#include <QDir>
#include <QFileInfo>

#include "record/event_text.h"

namespace torvix::trends {

RecordingSession::RecordingSession() = default;
RecordingSession::~RecordingSession() = default;

std::optional<QString> RecordingSession::start(const QString& folder, const QDateTime& start) {
    stop();
    const QString cannot = QStringLiteral("Запись не начата: в папку «%1» нельзя записать файл")
                               .arg(QDir::toNativeSeparators(folder));
    if (!QDir().mkpath(folder)) return cannot;
    const QString name = start.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    // Two recordings begun in one second must not share a file.
    for (int n = 1; n < 100; ++n) {
        file_.setFileName(QDir(folder).filePath(
            (n == 1 ? name : QStringLiteral("%1_%2").arg(name).arg(n)) + QStringLiteral(".csv")));
        if (file_.open(QIODevice::WriteOnly | QIODevice::NewOnly)) break;
        if (!file_.exists()) return cannot;
    }
    if (!file_.isOpen()) return cannot;
    writer_ = record::makeRecordWriter(record::Format::Csv, file_, false);
    started_ = start;
    pending_.clear();
    records_ = 0;
    return std::nullopt;
}

void RecordingSession::stop() {
    writer_.reset();
    if (file_.isOpen()) file_.close();
}

QString RecordingSession::reportPath() const {
    if (path().isEmpty()) return {};
    const QFileInfo file(path());
    return file.dir().filePath(file.completeBaseName() + QStringLiteral(".html"));
}

std::optional<QString> RecordingSession::write(const QDateTime& time,
                                               const record::StatusRecord& record) {
    if (!writer_) return std::nullopt;
    if (writer_->write(time, record, pending_)) {
        pending_.clear();
        ++records_;
        return std::nullopt;
    }
    stop();
    return QStringLiteral(
               "Запись остановлена: файл «%1» не удалось дописать (диск заполнен или "
               "недоступен). Записанное сохранено, записей: %2.")
        .arg(QDir::toNativeSeparators(path()))
        .arg(records_);
}

void RecordingSession::addEvent(const QDateTime& time, const QString& what) {
    if (!writer_) return;
    pending_ << record::eventLine(static_cast<double>(started_.msecsTo(time)) / 1000.0, what);
}

}  // namespace torvix::trends
