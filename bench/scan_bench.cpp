// The bus scan's speed on real pseudo-terminals, on the Qt clock as the programs run it:
//   scan_bench addresses SIM_BINARY    one port's 247 addresses at 115200,e,8,1, the simulator
//                                      (--pace) answering only the last of them, 247
//   scan_bench silent [N]              a port with nothing behind it, N of the 20 settings
//                                      (default all) x 247 addresses: the whole scan's time
//                                      against the sum of its probes' line times and time-outs
// Prints what it measured; the limits are the issue's: under 15 s, and at most 5 % over.

#include <pty.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QThread>
#include <cstdio>

#include "link/line_port.h"
#include "scan/scanner.h"

namespace {

using namespace torvix;

struct Measured {
    scan::ScanReport report;
    double wallSeconds;
};

Measured runScan(const QString& device, scan::ScanPlan plan) {
    LinePort port;
    port.setPortOverrides({{1, device}});
    plan.ports = {{1, device, device, false}};
    QtClock clock;
    QEventLoop loop;
    scan::Scanner::Hooks hooks;
    hooks.finished = [&] { loop.exit(); };
    scan::Scanner scanner(port, clock, plan, hooks);
    QElapsedTimer wall;
    wall.start();
    scanner.start();
    if (scanner.running()) loop.exec();
    return {scanner.report(), double(wall.nsecsElapsed()) / 1e9};
}

int addresses(const QString& sim) {
    QProcess simulator;
    const QString link = QStringLiteral("/tmp/torvix-scan-bench-%1").arg(::getpid());
    simulator.start(
        sim, {QStringLiteral("--quiet"), QStringLiteral("--pace"), QStringLiteral("--settings"),
              QStringLiteral("115200,e,8,1"), QStringLiteral("--address"), QStringLiteral("247"),
              QStringLiteral("--link"), link});
    if (!simulator.waitForReadyRead(15000)) {
        std::fprintf(stderr, "scan_bench: the simulator did not start\n");
        return 1;
    }
    scan::ScanPlan plan;
    plan.settings = {*LineSettings::parse(u"115200,e,8,1")};
    const Measured m = runScan(link, plan);
    simulator.terminate();
    simulator.waitForFinished();
    std::printf(
        "one port, 115200,e,8,1, addresses 1..247 (found at %d): %lld probes and the "
        "block read in %.2f s (limit 15 s); probes' line time + time-outs %.2f s\n",
        m.report.found.empty() ? 0 : m.report.found.front().address, m.report.probes, m.wallSeconds,
        m.report.lineMs / 1000);
    return m.report.found.size() == 1 && m.wallSeconds < 15 ? 0 : 1;
}

int silent(int settingsCount) {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) return 1;
    scan::ScanPlan plan;
    plan.settings = scan::standardSettings();
    plan.settings.resize(std::size_t(std::clamp(settingsCount, 1, 20)));
    const Measured m = runScan(QString::fromLocal8Bit(name), plan);
    ::close(master);
    ::close(slave);
    const double overhead = (m.wallSeconds * 1000 / m.report.lineMs - 1) * 100;
    std::printf(
        "silent port, %zu settings x 247 addresses: %lld probes in %.2f s; their line "
        "time + time-outs %.2f s; overhead %.2f %% (limit 5 %%)\n",
        plan.settings.size(), m.report.probes, m.wallSeconds, m.report.lineMs / 1000, overhead);
    return overhead <= 5 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 3 && args[1] == u"addresses") return addresses(args[2]);
    if (args.size() >= 2 && args[1] == u"silent")
        return silent(args.size() >= 3 ? args[2].toInt() : 20);
    std::fputs("usage: scan_bench addresses SIM_BINARY | scan_bench silent [SETTINGS]\n", stderr);
    return 2;
}
