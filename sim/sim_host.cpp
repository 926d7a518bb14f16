#include "sim/sim_host.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sim/pty_line.h"
#include "sim/serial_device_line.h"
#include "sim/tcp_line.h"

namespace torvix::sim {
namespace {

std::int64_t monotonicUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

int secondsToMs(double s) {
    return static_cast<int>(std::lround(s * 1000));
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray hexLine(std::int64_t us, std::span<const std::uint8_t> bytes) {
    QByteArray line = QByteArray::number(static_cast<qint64>(us));
    for (std::uint8_t b : bytes) {
        line += ' ';
        line += QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
    }
    line += '\n';
    return line;
}

// Nothing to do for an empty path; otherwise opened for appending, or false and why not.
bool openLog(const QString& path, int& fd, QString& error) {
    if (path.isEmpty()) return true;
    fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC,
                0644);
    if (fd >= 0) return true;
    error = QStringLiteral("%1: %2").arg(path, errnoText());
    return false;
}

}  // namespace

SimHost::SimHost(SimOptions options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      core_(options_.genset, static_cast<std::uint8_t>(options_.address), options_.faults) {
    core_.setRuleBreaks(options_.breaks);
    if (options_.tcpListen)
        line_ = std::make_unique<TcpLine>(*options_.tcpListen, options_.tcpCloseEvery);
    else if (options_.device.isEmpty())
        line_ = std::make_unique<PtyLine>();
    else
        line_ = std::make_unique<SerialDeviceLine>(options_.device, options_.settings);
    connect(line_.get(), &Line::received, this, &SimHost::onReceived);

    silenceTimer_.setSingleShot(true);
    silenceTimer_.setTimerType(Qt::PreciseTimer);
    silenceTimer_.setInterval(silentInterval(options_.settings));
    connect(&silenceTimer_, &QTimer::timeout, this, &SimHost::onSilence);

    secondTimer_.setInterval(1000);
    connect(&secondTimer_, &QTimer::timeout, this, &SimHost::everySecond);

    hangupTimer_.setSingleShot(true);
    connect(&hangupTimer_, &QTimer::timeout, this, &SimHost::onHangupTimer);
}

SimHost::~SimHost() {
    removeLink();
    if (line_) line_->close();
    if (requestLog_ >= 0) ::close(requestLog_);
    if (replyLog_ >= 0) ::close(replyLog_);
}

bool SimHost::start(QString& error) {
    if (!openLog(options_.requestLog, requestLog_, error) ||
        !openLog(options_.replyLog, replyLog_, error))
        return false;
    if (!writeStateFile()) {
        error = QStringLiteral("%1: cannot be written").arg(options_.stateFile);
        return false;
    }
    if (!openLine(error)) return false;
    clock_.start();
    secondTimer_.start();
    if (options_.hangupAfterS > 0) hangupTimer_.start(secondsToMs(options_.hangupAfterS));
    writeStateFile();
    return true;
}

bool SimHost::openLine(QString& error) {
    if (!line_->open(error)) return false;
    if (!options_.link.isEmpty() && !pointLink(error)) {
        line_->close();
        return false;
    }
    lineUp_ = true;
    // After the link, so a reader of this line finds the link in place.
    std::fprintf(stdout, "%s\n", QFile::encodeName(line_->devicePath()).constData());
    std::fflush(stdout);
    return true;
}

bool SimHost::pointLink(QString& error) {
    const QByteArray link = QFile::encodeName(options_.link);
    const QByteArray target = QFile::encodeName(line_->devicePath());
    struct stat st {};
    if (::lstat(link.constData(), &st) == 0 && !S_ISLNK(st.st_mode)) {
        error = QStringLiteral("%1 exists and is not a symlink").arg(options_.link);
        return false;
    }
    // A new name renamed over the old one: whoever opens the link never finds it missing.
    const QByteArray temp = link + ".new" + QByteArray::number(::getpid());
    ::unlink(temp.constData());
    if (::symlink(target.constData(), temp.constData()) != 0 ||
        ::rename(temp.constData(), link.constData()) != 0) {
        error = QStringLiteral("%1: %2").arg(options_.link, errnoText());
        ::unlink(temp.constData());
        return false;
    }
    linkedTo_ = line_->devicePath();
    return true;
}

void SimHost::removeLink() {
    if (linkedTo_.isEmpty()) return;
    const QByteArray link = QFile::encodeName(options_.link);
    std::array<char, 4096> target{};
    const ssize_t n = ::readlink(link.constData(), target.data(), target.size() - 1);
    // Only our own link: another program may have taken the name meanwhile.
    if (n > 0 && QFile::decodeName(QByteArray(target.data(), n)) == linkedTo_)
        ::unlink(link.constData());
    linkedTo_.clear();
}

void SimHost::onReceived(const QByteArray& bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto frames =
        assembler_.feed(std::span(data, static_cast<std::size_t>(bytes.size())), monotonicUs());
    for (const RxFrame& frame : frames) handleFrame(frame);
    if (assembler_.pending())
        silenceTimer_.start();
    else
        silenceTimer_.stop();
}

void SimHost::onSilence() {
    if (auto frame = assembler_.silence()) handleFrame(*frame);
}

void SimHost::handleFrame(const RxFrame& frame) {
    logFrame(frame);
    advanceClock();
    const std::vector<std::uint8_t> reply = core_.onFrame(frame.bytes);
    if (!reply.empty()) {
        const QByteArray bytes(reinterpret_cast<const char*>(reply.data()),
                               static_cast<qsizetype>(reply.size()));
        const std::uint64_t generation = lineGeneration_;
        const int delayMs = options_.delayMs + slowReplyMs();
        if (options_.pace) {
            // Both frames on the wire one after the other, the controller's turnaround between.
            const double wireUs =
                options_.settings.wireMicroseconds(frame.bytes.size() + reply.size()) +
                options_.turnaroundMs * 1000 + delayMs * 1000.0;
            transmitAt(frame.startUs + std::llround(wireUs), bytes, generation);
        } else if (delayMs > 0)
            QTimer::singleShot(delayMs, Qt::PreciseTimer, this,
                               [this, bytes, generation] { transmit(bytes, generation); });
        else
            transmit(bytes, generation);
    }
    line_->frameHandled();
    writeStateFile();
}

int SimHost::slowReplyMs() const {
    return core_.slowReplyDue() ? options_.breaks.slowReplyMs : 0;
}

void SimHost::transmitAt(std::int64_t dueUs, const QByteArray& reply, std::uint64_t generation) {
    const std::int64_t waitUs = dueUs - monotonicUs();
    if (waitUs >= 1000) {
        QTimer::singleShot(
            static_cast<int>(waitUs / 1000), Qt::PreciseTimer, this,
            [this, dueUs, reply, generation] { transmitAt(dueUs, reply, generation); });
        return;
    }
    while (monotonicUs() < dueUs) {
    }
    transmit(reply, generation);
}

void SimHost::transmit(const QByteArray& reply, std::uint64_t generation) {
    if (generation != lineGeneration_ || !lineUp_) return;
    // Stamped before the write: the master cannot have the reply sooner, so a gap measured
    // from here is never shorter than the one it kept.
    if (options_.splitMs <= 0 || reply.size() < 2) {
        const std::int64_t us = monotonicUs();
        line_->write(reply);
        logReply(us, reply);
        return;
    }
    const qsizetype half = reply.size() / 2;
    line_->write(reply.first(half));
    QTimer::singleShot(options_.splitMs, Qt::PreciseTimer, this, [this, reply, half, generation] {
        if (generation != lineGeneration_ || !lineUp_) return;
        const std::int64_t us = monotonicUs();
        line_->write(reply.sliced(half));
        logReply(us, reply);
    });
}

void SimHost::logReply(std::int64_t us, const QByteArray& reply) {
    if (replyLog_ < 0) return;
    const QByteArray line =
        hexLine(us, std::span(reinterpret_cast<const std::uint8_t*>(reply.constData()),
                              static_cast<std::size_t>(reply.size())));
    [[maybe_unused]] const ssize_t written =
        ::write(replyLog_, line.constData(), static_cast<std::size_t>(line.size()));
}

void SimHost::onHangupTimer() {
    if (lineUp_) {
        // Like an unplugged adapter, the name goes away: a link left on the dead pty could
        // lead the program to whatever pty the kernel hands out next under that number.
        removeLink();
        line_->close();
        lineUp_ = false;
        ++lineGeneration_;
        assembler_.reset();
        silenceTimer_.stop();
        core_.noteHangup();
        if (!options_.quiet) std::fprintf(stderr, "torvix-sim: line hung up\n");
        writeStateFile();
        hangupTimer_.start(secondsToMs(options_.hangupForS));
        return;
    }
    QString error;
    if (!openLine(error)) {
        std::fprintf(stderr, "torvix-sim: %s; trying again\n", qPrintable(error));
        hangupTimer_.start(1000);
        return;
    }
    if (!options_.quiet) std::fprintf(stderr, "torvix-sim: line back\n");
    writeStateFile();
    hangupTimer_.start(secondsToMs(options_.hangupAfterS));
}

void SimHost::advanceClock() {
    const double simulatedMs =
        static_cast<double>(clock_.nsecsElapsed()) / 1e6 * options_.timeScale;
    const auto whole = static_cast<std::int64_t>(simulatedMs);
    core_.advance(std::chrono::milliseconds(whole - simulatedMsDelivered_));
    simulatedMsDelivered_ = whole;
}

void SimHost::everySecond() {
    advanceClock();
    writeStateFile();
    if (options_.quiet) return;
    std::fprintf(stderr, "torvix-sim: %s line=%s\n", qPrintable(core_.summaryLine()),
                 lineUp_ ? "up" : "down");
    std::fflush(stderr);
}

bool SimHost::writeStateFile() {
    if (options_.stateFile.isEmpty()) return true;
    QJsonObject state = core_.state();
    state.insert(QStringLiteral("line_up"), lineUp_);
    state.insert(QStringLiteral("device"), line_->devicePath());
    const QByteArray text = QJsonDocument(state).toJson(QJsonDocument::Compact) + '\n';

    // Readers see the old file or the new one, never half of one.
    const QString temp = options_.stateFile + QStringLiteral(".new");
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return false;
    file.close();
    if (::rename(QFile::encodeName(temp).constData(),
                 QFile::encodeName(options_.stateFile).constData()) != 0) {
        ::unlink(QFile::encodeName(temp).constData());
        return false;
    }
    return true;
}

void SimHost::logFrame(const RxFrame& frame) {
    if (requestLog_ < 0) return;
    // One write per line: a reader never sees half a line, and nothing waits in a buffer.
    const QByteArray line = hexLine(frame.startUs, frame.bytes);
    // A failed write (a full disk) loses the line, never a reply.
    [[maybe_unused]] const ssize_t written =
        ::write(requestLog_, line.constData(), static_cast<std::size_t>(line.size()));
}

}  // namespace torvix::sim
