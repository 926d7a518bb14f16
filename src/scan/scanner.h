#pragma once
// The bus scan: probes ports x line settings x addresses with a read of one register and tells
// where a controller answers. Everything runs on the clock's timers: no call waits for the
// line, so the window keeps painting and the command line keeps taking its signals.

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "link/clock.h"
#include "link/serial_port.h"
#include "scan/scan_plan.h"

namespace torvix::scan {

// Why a port was skipped.
enum class PortTrouble { Busy, Missing, Denied, Failed };
PortTrouble troubleOf(const PortError& error);

struct Found {
    ScanPort port;
    LineSettings settings;
    int address = 0;
    int exceptionCode = 0;  // the probe was refused, which still tells a controller is there
    // As the record writes them ("3.07"); empty when the whole block read got no answer.
    QString softwareVersion;
    QString protocolVersion;
};

struct Skipped {
    ScanPort port;
    PortTrouble trouble;
    PortError error;
};

// Bytes came back that made no reply: the port has traffic, but at another speed or parity.
struct Activity {
    ScanPort port;
    LineSettings settings;
};

struct Progress {
    int portIndex = 0;  // ports done before the current one
    int portCount = 0;
    int settingsIndex = 0;  // on the current port
    int settingsCount = 0;
    int addressIndex = 0;  // on the current settings
    int addressCount = 0;
    long long probesDone = 0;
    long long probesTotal = 0;
    double remainingMs = 0;  // the waits of the probes still to come
    ScanPort port;
    LineSettings settings;
    int address = 0;
};

struct ScanReport {
    std::vector<Found> found;
    std::vector<Skipped> skipped;
    std::vector<Activity> activity;
    std::vector<ScanPort> withoutController;  // probed to the end, nothing answered
    long long probes = 0;
    double seconds = 0;
    int portsOpened = 0;
    bool stopped = false;  // ended by stop(), not by a find or the end of the plan
    // The sum of the waits of the probes sent: what the line itself needed.
    double lineMs = 0;
};

class Scanner {
public:
    struct Hooks {
        std::function<void(const Progress&)> progress;  // before each probe
        std::function<void(const Found&)> found;
        std::function<void(const Skipped&)> skipped;
        std::function<void(const Activity&)> activity;  // once per port and settings
        // Around the use of a port: the window lets go of its own port and takes it back.
        std::function<void(const ScanPort&)> portWanted;
        std::function<void(const ScanPort&)> portReleased;
        // The last word of a scan; the scanner may be deleted later, not from inside it.
        std::function<void()> finished;
    };

    // `port` and `clock` outlive the scanner; the port is set to each plan port's number.
    Scanner(SerialPort& port, Clock& clock, ScanPlan plan, Hooks hooks);
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // The first probe goes out at once; the rest follow on the clock's timers.
    void start();
    // At any moment: the port is let go, what was found is kept, finished() follows.
    // Destroying a running scanner closes the port without calling the hooks: stop() first.
    void stop();
    bool running() const { return running_; }

    const ScanPlan& plan() const { return plan_; }
    const ScanReport& report() const { return report_; }

private:
    void nextPort();
    void nextSettings();
    void nextProbe();
    void sendAndWait(std::span<const std::uint8_t> pdu, double waitMs);
    void onWaitOver();
    void judgeProbe(const std::vector<std::uint8_t>& reply);
    void judgeStatus(const std::vector<std::uint8_t>& reply);
    std::vector<std::uint8_t> takeReply();
    void releasePort();
    void finish(bool stopped);
    Progress progress() const;
    const ScanPort& currentPort() const { return plan_.ports[size_t(portIndex_)]; }
    const LineSettings& currentSettings() const { return plan_.settings[size_t(settingsIndex_)]; }

    SerialPort& port_;
    Clock& clock_;
    ScanPlan plan_;
    Hooks hooks_;
    std::vector<int> addresses_;
    std::unique_ptr<Timer> waitTimer_;
    ScanReport report_;

    bool running_ = false;
    bool opening_ = false;  // inside a device server's open, which runs the event loop
    bool stopWanted_ = false;
    bool holdingPort_ = false;
    enum class Waiting { Nothing, Probe, Status } waiting_ = Waiting::Nothing;
    int portIndex_ = -1;
    int settingsIndex_ = -1;
    int addressIndex_ = -1;
    bool activityNoted_ = false;  // on the current port and settings
    std::vector<std::uint8_t> sent_;
    qint64 dueNs_ = 0;
    qint64 startNs_ = 0;
    Found candidate_;
    int statusTries_ = 0;
};

}  // namespace torvix::scan
