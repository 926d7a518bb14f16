#include "cli/ports_listing.h"

#include "cli/cli_words.h"
#include "link/line_port.h"
#include "protocol/defaults.h"

namespace torvix::cli {

QString portsListing(const std::map<int, QString>& overrides) {
    QString text;
    for (int number = defaults::kFirstPort; number <= defaults::kLastPort; ++number) {
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
                    .arg(QString::number(number).leftJustified(2),
                         portState(status).leftJustified(7), device);
    }
    return text;
}

}  // namespace torvix::cli
