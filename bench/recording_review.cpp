// An hour's recording opened in "Графики и запись" as an engineer opens it after the test: the
// time from "open" to the drawn recording (read on its worker thread), the longest the window's
// event loop waited meanwhile, the redraw of each pan and zoom, and the memory.
//   make_load_record /tmp/hour.csv 1 50 && bench_recording_review /tmp/hour.csv
// Run it offscreen or under Xvfb; it prints what it measured, on which machine.

#include <qcustomplot.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "machine_figures.h"
#include "ui/recording_view.h"
#include "ui/trend_plot.h"

namespace {

using torvix::bench::cpuModel;
using torvix::bench::loadAverage;
using torvix::bench::peakRssMiB;
using torvix::bench::rssMiB;

struct Figures {
    double median;
    double worst;
};

Figures figures(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: bench_recording_review RECORD.csv\n");
        return 2;
    }
    const QString path = args[1];
    std::printf("machine: %s, %d cores, %s; load average before: %s\n", qPrintable(cpuModel()),
                QThread::idealThreadCount(), qPrintable(QSysInfo::prettyProductName()),
                qPrintable(loadAverage()));
    std::printf("record: %s, %.1f MB\n", qPrintable(path),
                static_cast<double>(QFileInfo(path).size()) / 1e6);
    const double rssBefore = rssMiB();

    // The event loop's longest wait while the file is read: what a click would wait for.
    QElapsedTimer clock;
    double longestWaitMs = 0;
    qint64 lastTick = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestWaitMs = std::max(longestWaitMs, static_cast<double>(now - lastTick) / 1e6);
        lastTick = now;
    });

    clock.start();
    ticker.start();
    torvix::RecordingView view(path);
    view.resize(1280, 800);
    view.show();
    const double constructedMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    bool done = false;
    QObject::connect(&view, &torvix::RecordingView::loaded, [&] { done = true; });
    QObject::connect(&view, &torvix::RecordingView::failed, [&] { done = true; });
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    view.trends()->plot()->replot(QCustomPlot::rpImmediateRefresh);
    const double openMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    ticker.stop();
    if (!view.isLoaded()) {
        std::fprintf(stderr, "%s\n", qPrintable(view.message()));
        return 1;
    }
    std::printf("rows: %zu\n", view.series()->size());
    std::printf(
        "open: %.0f ms to the drawn recording (the tab itself %.0f ms); the window's "
        "event loop waited at most %.0f ms meanwhile\n",
        openMs, constructedMs, longestWaitMs);

    // Pan and zoom as the mouse does them: each a new time range, its data thinned and set,
    // and the plot drawn at once.
    const double first = view.series()->firstTime();
    const double last = view.series()->lastTime();
    QCPAxis* axis = view.trends()->timeAxis();
    const auto timed = [&](double from, double to) {
        QElapsedTimer redraw;
        redraw.start();
        axis->setRange(from, to);  // the view redraws its data on the range's change
        view.trends()->plot()->replot(QCustomPlot::rpImmediateRefresh);
        return static_cast<double>(redraw.nsecsElapsed()) / 1e6;
    };
    std::vector<double> whole;
    std::vector<double> zoom;
    std::vector<double> pan;
    for (int i = 0; i < 10; ++i) whole.push_back(timed(first, last + i * 0.001));
    for (double span : {1800.0, 600.0, 60.0, 10.0, 600.0, 3600.0})
        for (int i = 0; i < 5; ++i) zoom.push_back(timed(first + 100 + i, first + 100 + i + span));
    for (int i = 0; i < 50; ++i) pan.push_back(timed(first + 60 * i, first + 60 * i + 600));
    const Figures w = figures(whole);
    const Figures z = figures(zoom);
    const Figures p = figures(pan);
    std::printf("redraw, whole hour: median %.1f ms, worst %.1f ms (%d runs)\n", w.median, w.worst,
                static_cast<int>(whole.size()));
    std::printf("redraw, zoom 1 h .. 10 s: median %.1f ms, worst %.1f ms (%d runs)\n", z.median,
                z.worst, static_cast<int>(zoom.size()));
    std::printf("redraw, pan over 10 min: median %.1f ms, worst %.1f ms (%d runs)\n", p.median,
                p.worst, static_cast<int>(pan.size()));
    std::printf("memory: RSS %.0f MiB before, %.0f MiB with the recording open; peak %.0f MiB\n",
                rssBefore, rssMiB(), peakRssMiB());
    std::printf("load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}
