#pragma once
// Runs the simulator on a line: framing by silence, reply timing, hang-ups, reports.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <memory>

#include "sim/command_line.h"
#include "sim/frame_assembler.h"
#include "sim/line.h"
#include "sim/simulator_core.h"

namespace torvix::sim {

class SimHost : public QObject {
    Q_OBJECT
public:
    explicit SimHost(SimOptions options, QObject* parent = nullptr);
    ~SimHost() override;

    // Opens the line, prints its path, makes the link and opens the files. False with the
    // reason in error.
    bool start(QString& error);
    const SimulatorCore& core() const { return core_; }

private:
    void onReceived(const QByteArray& bytes);
    void onSilence();
    void handleFrame(const RxFrame& frame);
    void transmit(const QByteArray& reply, std::uint64_t generation);
    void onHangupTimer();
    void everySecond();
    void advanceClock();
    bool openLine(QString& error);
    bool pointLink(QString& error);
    void removeLink();
    bool writeStateFile();
    void logFrame(const RxFrame& frame);
    void logReply(std::int64_t us, const QByteArray& reply);
    // The extra delay of --slow-reply-every for the reply about to go out.
    int slowReplyMs() const;
    // With --pace: waits out the last fraction of a millisecond that a timer cannot time.
    void transmitAt(std::int64_t dueUs, const QByteArray& reply, std::uint64_t generation);

    SimOptions options_;
    SimulatorCore core_;
    FrameAssembler assembler_;
    std::unique_ptr<Line> line_;
    bool lineUp_ = false;
    // Bumped at each hang-up so that replies scheduled before it are not sent after it.
    std::uint64_t lineGeneration_ = 0;
    QTimer silenceTimer_;
    QTimer secondTimer_;
    QTimer hangupTimer_;
    QElapsedTimer clock_;
    std::int64_t simulatedMsDelivered_ = 0;
    int requestLog_ = -1;
    int replyLog_ = -1;
    QString linkedTo_;
};

}  // namespace torvix::sim
