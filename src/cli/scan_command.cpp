// scan: finds the controller over ports, line settings and addresses, on the Qt event loop.

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

#include "cli/console.h"
#include "cli/line_choice.h"
#include "cli/run_commands.h"
#include "cli/stop_signals.h"
#include "link/line_port.h"
#include "scan/scan_text.h"
#include "scan/scanner.h"
#include "scan/system_ports.h"
#include "settings/config_file.h"

namespace torvix::cli {
namespace {

QString jsonString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString jsonList(const QStringList& texts) {
    QStringList quoted;
    for (const QString& text : texts) quoted << jsonString(text);
    return u'[' + quoted.join(QStringLiteral(", ")) + u']';
}

QString jsonVersion(const QString& version) {
    return version.isEmpty() ? QStringLiteral("null") : jsonString(version);
}

// The keys in the order users read them; QJsonObject would sort them.
QString jsonReport(const scan::ScanReport& report) {
    QStringList found;
    for (const scan::Found& f : report.found)
        found << QStringLiteral(
                     "{\"port\": %1, \"device\": %2, \"settings\": %3, \"address\": %4, "
                     "\"software_version\": %5, \"protocol_version\": %6}")
                     .arg(jsonString(f.port.name), jsonString(f.port.device),
                          jsonString(f.settings.toText()), QString::number(f.address),
                          jsonVersion(f.softwareVersion), jsonVersion(f.protocolVersion));
    return QStringLiteral(
               "{\"found\": [%1], \"busy\": %2, \"activity_without_reply\": %3, \"probes\": %4, "
               "\"seconds\": %5}\n")
        .arg(found.join(QStringLiteral(", ")), jsonList(scan::busyPorts(report)),
             jsonList(scan::activityPorts(report)), QString::number(report.probes),
             QString::number(report.seconds, 'f', 2));
}

struct Planned {
    scan::ScanPlan plan;
    std::map<int, QString> overrides;
};

// The command line's choices, тп.ini's port and settings first, its section "Ports" for what
// the numbers stand for.
std::variant<Planned, Failure> planOf(const Invocation& run, const QString& iniPath) {
    const PortChoice choice = readPortChoice(iniPath).value_or(PortChoice{});
    scan::PortList ports;
    if (run.scanPorts.isEmpty()) {
        ports = scan::defaultPorts(choice.overrides, scan::systemSerialPorts());
    } else {
        auto parsed = scan::parsePortList(run.scanPorts, choice.overrides);
        if (auto* error = std::get_if<QString>(&parsed))
            return Failure{ExitCode::Usage, QStringLiteral("--ports: ") + *error};
        ports = std::get<scan::PortList>(std::move(parsed));
    }
    Planned planned;
    scan::ScanPlan& plan = planned.plan;
    plan.ports = ports.ports;
    planned.overrides = ports.overrides;
    plan.settings = scan::standardSettings();
    if (!run.scanSettings.isEmpty())
        plan.settings =
            std::get<std::vector<LineSettings>>(scan::parseSettingsList(run.scanSettings));
    if (!run.scanAddresses.isEmpty()) {
        const auto range = std::get<scan::AddressRange>(scan::parseAddressRange(run.scanAddresses));
        plan.firstAddress = range.first;
        plan.lastAddress = range.last;
    }
    plan.all = run.scanAll;
    if (run.replyTimeoutSeconds) plan.replyTimeoutMs = *run.replyTimeoutSeconds * 1000;
    scan::preferConfigured(plan, choice.port, choice.settings, run.scanSettings.isEmpty());
    return planned;
}

}  // namespace

int runScan(const Invocation& run, const QString& iniPath) {
    auto planned = planOf(run, iniPath);
    if (const auto* failure = std::get_if<Failure>(&planned)) {
        tell(failure->message);
        return static_cast<int>(failure->code);
    }
    auto& [plan, overrides] = std::get<Planned>(planned);
    LinePort port;
    port.setPortOverrides(overrides);
    QtClock clock;
    QEventLoop loop;
    const bool showProgress = isTerminal(stderr);
    bool progressShown = false;
    const auto clearProgress = [&] {
        if (progressShown) put(stderr, QStringLiteral("\r\033[K"));
        progressShown = false;
    };
    const auto say = [&](const QString& text) {
        clearProgress();
        tell(text);
    };
    scan::Scanner::Hooks hooks;
    if (showProgress)
        hooks.progress = [&](const scan::Progress& progress) {
            put(stderr, QStringLiteral("\r\033[K") + scan::progressText(progress));
            progressShown = true;
        };
    hooks.skipped = [&](const scan::Skipped& skipped) { say(scan::skippedText(skipped)); };
    hooks.activity = [&](const scan::Activity& activity) { say(scan::activityText(activity)); };
    hooks.found = [&](const scan::Found& found) {
        clearProgress();
        if (!run.json) put(stdout, scan::foundText(found) + u'\n');
    };
    hooks.finished = [&] { loop.exit(); };
    scan::Scanner scanner(port, clock, plan, hooks);
    bool interrupted = false;
    const StopSignals stopSignals([&](int) {
        interrupted = true;
        scanner.stop();
    });
    scanner.start();
    if (scanner.running()) loop.exec();
    clearProgress();

    const scan::ScanReport& report = scanner.report();
    if (run.json)
        put(stdout, jsonReport(report));
    else
        put(stdout, scan::summaryText(report) + u'\n');
    if (interrupted) return static_cast<int>(ExitCode::Interrupted);
    if (!report.found.empty()) return static_cast<int>(ExitCode::Ok);
    return static_cast<int>(report.portsOpened == 0 ? ExitCode::PortUnavailable
                                                    : ExitCode::NoAnswer);
}

}  // namespace torvix::cli
