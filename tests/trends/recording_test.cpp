#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>

#include <csignal>
#endif

#include "support/files.h"
#include "support/qt_printers.h"
#include "support/scripted_link.h"
#include "trends/companion_log.h"

namespace torvix::trends {
namespace {

class Recording : public ::testing::Test, protected testing::ScriptedLink {
protected:
    Recording() {
        onTick = [this](const TickOutcome& outcome) { log.take(outcome); };
        regs[4] = 2305;  // generator phase A, 0.1 V
    }
    QString folder() const { return QDir(dir.path()).filePath(RecordingSession::kFolderName); }
    QStringList rows() const {
        return QString::fromUtf8(testing::readFile(log.recording().path()))
            .split(u'\n', Qt::SkipEmptyParts);
    }
    void statusReplies(int count) {
        for (int i = 0; i < count; ++i) {
            while (lastSent()[1] != protocol::kReadInputRegisters) tick(echo());
            tick(testing::statusReply(regs));
        }
    }

    QTemporaryDir dir;
    CompanionLog log{[this] { return CompanionLog::Now{wallNow(), ms}; }};
};

TEST_F(Recording, OneRowPerStatusReplyWithTheClicksAndMarksAndNoRowsForAHangUp) {
    tick();
    ASSERT_EQ(log.startRecording(folder()), std::nullopt);  // at 07:30:00.116
    EXPECT_EQ(log.recording().path(), QDir(folder()).filePath("2026-12-08_07-30-00.csv"));
    statusReplies(2);

    ASSERT_TRUE(click(requests::Kind::Start));  // busy once, then executed
    ASSERT_TRUE(untilCommandSent());
    tick(exception(6));
    tick(echo());
    log.mark(QStringLiteral("наброс 50 %, \"ступень 1\""));
    statusReplies(1);

    for (int i = 0; i < 20; ++i) tick();         // 2 s without an answer
    ASSERT_TRUE(click(requests::Kind::LoadOn));  // refused
    ASSERT_TRUE(untilCommandSent());
    tick(exception(2));
    statusReplies(2);
    log.stopRecording();
    statusReplies(1);  // after the stop: not in the file

    const QStringList lines = rows();
    ASSERT_EQ(lines.size(), 1 + 5);
    EXPECT_EQ(log.recording().records(), 5);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("time,gen_u_a_v,gen_u_b_v,")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(",events")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("2026-12-08T07:30:00.216")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral(",230.5,")));
    EXPECT_TRUE(lines[1].endsWith(u','));  // no events
    // The seconds count from the start of the recording, 0.1 s before the first row; busy at
    // 616 ms, executed and marked at 716 ms.
    EXPECT_TRUE(lines[3].endsWith(
        QStringLiteral(",\"[0.5 s] send start: занят, повтор | [0.6 s] send start: выполнено | "
                       "[0.6 s] mark наброс 50 %, \"\"ступень 1\"\"\"")))
        << lines[3].toStdString();
    EXPECT_TRUE(lines[4].endsWith(
        QStringLiteral(",[2.9 s] send load on: отказ: исключение 2 (недопустимый адрес данных)")))
        << lines[4].toStdString();
    // The hang-up: rows 3 and 4 are more than 2 s apart, with nothing in between.
    const QDateTime before = QDateTime::fromString(lines[3].section(u',', 0, 0), Qt::ISODateWithMs);
    const QDateTime after = QDateTime::fromString(lines[4].section(u',', 0, 0), Qt::ISODateWithMs);
    EXPECT_GT(before.msecsTo(after), 2000);

    // A second recording in the same second gets a file of its own.
    ASSERT_EQ(log.startRecording(folder()), std::nullopt);
    ASSERT_EQ(log.startRecording(folder()), std::nullopt);
    EXPECT_TRUE(log.recording().path().endsWith(QStringLiteral("_2.csv")));
}

TEST_F(Recording, AFolderThatCannotBeMadeIsToldAndNothingIsRecorded) {
    testing::writeFile(QDir(dir.path()).filePath("file"), "not a folder");
    const auto failure = log.startRecording(QDir(dir.path()).filePath("file/записи"));
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->startsWith(QStringLiteral("Запись не начата: в папку «")))
        << failure->toStdString();
    EXPECT_FALSE(log.recording().isActive());
    tick();
    statusReplies(1);
}

TEST_F(Recording, AFileThatCannotGrowStopsTheRecordingAndKeepsItsRows) {
#if !defined(Q_OS_UNIX)
    GTEST_SKIP() << "the file size limit that stands in for a full disk is POSIX's";
#else
    ASSERT_EQ(log.startRecording(folder()), std::nullopt);
    tick();
    statusReplies(3);
    const qint64 written = QFileInfo(log.recording().path()).size();
    ASSERT_EQ(rows().size(), 4);

    // The file may not grow by another row, as on a full disk.
    QSignalSpy failures(&log, &CompanionLog::recordingFailed);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = static_cast<rlim_t>(written);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    statusReplies(2);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_EQ(failures.count(), 1);
    EXPECT_TRUE(failures[0][0].toString().startsWith(QStringLiteral("Запись остановлена: файл «")));
    EXPECT_TRUE(
        failures[0][0].toString().endsWith(QStringLiteral("Записанное сохранено, записей: 3.")));
    EXPECT_FALSE(log.recording().isActive());
    EXPECT_EQ(rows().size(), 4);
    EXPECT_EQ(QFileInfo(log.recording().path()).size(), written);
#endif
}

}  // namespace
}  // namespace torvix::trends
