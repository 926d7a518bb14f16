// Eight hours of a load test in a minute: the window's link against the simulator's controller
// in process, every tick's outcome into the companion's log, the companion window shown
// (offscreen, every series, 10-minute span) and recording. The clock is simulated, 100 ms a
// tick; the plot is redrawn every 10 simulated seconds. Prints the RSS after each hour.
//   bench_companion_hours [HOURS]   (default 8)

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QTemporaryDir>
#include <cstdio>

#include "machine_figures.h"
#include "protocol/request_table.h"
#include "sim/simulator_core.h"
#include "support/fake_serial_port.h"
#include "support/fixed_slave_address.h"
#include "trends/companion_log.h"
#include "ui/companion_window.h"

using torvix::bench::cpuModel;
using torvix::bench::rssMiB;

int main(int argc, char* argv[]) {
    using namespace torvix;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int hours = argc > 1 ? std::atoi(argv[1]) : 8;
    std::printf("companion over %d simulated hours at 5 records/s on %s, %s\n", hours,
                qPrintable(cpuModel()), qPrintable(QSysInfo::prettyProductName()));

    sim::SimulatorCore controller({.seed = 1, .noise = true, .running = true}, 7, {});
    testing::FakeSerialPort port;
    port.open = true;
    testing::FixedSlaveAddress slave;
    Modbus modbus(port, slave);

    const QDateTime start = QDateTime::currentDateTime();
    qint64 ms = 0;
    trends::CompanionLog log([&] {
        return trends::CompanionLog::Now{start.addMSecs(ms), static_cast<double>(ms)};
    });
    QTemporaryDir dir;
    CompanionWindow window(log, dir.filePath(trends::RecordingSession::kFolderName));
    window.show();
    QCoreApplication::processEvents();
    if (const auto failure =
            log.startRecording(dir.filePath(trends::RecordingSession::kFolderName))) {
        std::fprintf(stderr, "%s\n", qPrintable(*failure));
        return 1;
    }

    const double rssAtStart = rssMiB();
    std::printf("%5s %9s %9s %8s %9s %8s %8s %9s\n", "hour", "RSS MiB", "records", "buckets",
                "bucket s", "markers", "frames", "wall s");
    std::printf("%5d %9.1f %9lld %8zu %9.0f %8zu %8zu %9.1f\n", 0, rssAtStart, 0LL, size_t{0}, 0.0,
                size_t{0}, size_t{0}, 0.0);
    QElapsedTimer wall;
    wall.start();
    const qint64 ticksPerHour = 36000;
    double rssAfterFirstHour = 0;
    for (qint64 tick = 1; tick <= hours * ticksPerHour; ++tick) {
        ms += 100;
        controller.advance(std::chrono::milliseconds(100));
        log.take(modbus.pollTick());
        // The controller answers at once; the next tick takes the reply.
        for (const auto& frame : port.written) port.feed(controller.onFrame(frame));
        port.written.clear();
        // The load on and off every 5 minutes: markers and events.
        if (tick % 3000 == 0)
            (void)modbus.enqueue(
                requests::pdu({tick % 6000 ? requests::Kind::LoadOn : requests::Kind::LoadOff})
                    ->bytes());
        if (tick % 100 == 0) {
            window.refresh();
            QCoreApplication::processEvents();
        }
        if (tick % ticksPerHour == 0) {
            const double rss = rssMiB();
            if (tick == ticksPerHour) rssAfterFirstHour = rss;
            std::printf("%5lld %9.1f %9lld %8zu %9.0f %8zu %8zu %9.1f\n", tick / ticksPerHour, rss,
                        log.recording().records(), log.series().bucketCount(),
                        log.series().bucketSeconds(), log.markers().all().size(),
                        log.traffic().size(), double(wall.elapsed()) / 1000);
            std::fflush(stdout);
        }
    }
    const double rssAtEnd = rssMiB();
    const qint64 fileBytes = QFileInfo(log.recording().path()).size();
    log.stopRecording();
    std::printf(
        "RSS growth over %d h: %.1f MiB from the start, %.1f MiB after the first hour "
        "(goal < 30 MB from the start: %s); the recording keeps everything: %lld rows, "
        "%.1f MB\n",
        hours, rssAtEnd - rssAtStart, rssAtEnd - rssAfterFirstHour,
        (rssAtEnd - rssAtStart) * 1.048576 < 30 ? "met" : "MISSED", log.recording().records(),
        double(fileBytes) / 1e6);
    return (rssAtEnd - rssAtStart) * 1.048576 < 30 ? 0 : 1;
}
