#pragma once
// A peer (simulator, pymodbus controller) in its own process, for the end-to-end tests.

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace torvix::testing {

// Killed when the test ends, however it ends.
class Peer {
public:
    // Its stderr goes to `errorLog` when given, else to ours.
    Peer(const QString& program, const QStringList& arguments, const QString& errorLog = {}) {
        process_.setProgram(program);
        process_.setArguments(arguments);
        if (errorLog.isEmpty())
            process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        else
            process_.setStandardErrorFile(errorLog);
        process_.start();
    }
    ~Peer() {
        if (process_.state() == QProcess::NotRunning) return;
        process_.kill();
        process_.waitForFinished(5000);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // The first line on its stdout: the simulator's device, the pymodbus peer's "ready".
    QString firstLine(int startMs) {
        QDeadlineTimer deadline(startMs);
        if (!process_.waitForStarted(startMs)) return {};
        while (!process_.canReadLine() && process_.state() == QProcess::Running &&
               !deadline.hasExpired())
            process_.waitForReadyRead(50);
        return QString::fromLocal8Bit(process_.readLine()).trimmed();
    }

    QProcess& process() { return process_; }

private:
    QProcess process_;
};

// A program run to its end: exit code (-1 when it crashed or did not end in time), stdout, stderr.
struct Finished {
    int code = -1;
    QString out;
    QString err;
};

inline Finished runToEnd(const QString& program, const QStringList& arguments,
                         const QProcessEnvironment& environment, int timeoutMs) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, QStringLiteral("did not finish")};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

}  // namespace torvix::testing
