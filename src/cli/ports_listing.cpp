#include "cli/ports_listing.h"

#include "link/line_port.h"

namespace torvix::cli {
namespace {

constexpr int kListedPorts = 16;

QString stateOf(const PortStatus& status) {
    if (status) return QStringLiteral("free");
    switch (status.error().code) {
        case PortErrorCode::NoSuchPort:
            return QStringLiteral("missing");
        case PortErrorCode::PortInUse:
            return QStringLiteral("busy");
        case PortErrorCode::PermissionDenied:
            return QStringLiteral("denied");
        case PortErrorCode::InvalidSettings:
        case PortErrorCode::PortAlreadyOpen:
        case PortErrorCode::OpenFailed:
            break;
    }
    return QStringLiteral("error");
}

}  // namespace

QString portsListing(const std::map<int, QString>& overrides) {
    QString text;
    for (int number = 1; number <= kListedPorts; ++number) {
        LinePort port;
        port.setPortOverrides(overrides);
        PortStatus status = port.setPortNumber(number);
        if (status) status = port.setPortOpen(true);
        if (status) status = port.finishOpening();
        if (status) (void)port.setPortOpen(false);
        const auto found = overrides.find(number);
        const QString device =
            found != overrides.end() ? found->second : PortResolver::tablePath(number);
        text += QStringLiteral("COM%1  %2  %3\n")
                    .arg(QString::number(number).leftJustified(2), stateOf(status).leftJustified(7),
                         device);
    }
    return text;
}

}  // namespace torvix::cli
