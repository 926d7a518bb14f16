#include "link/tcp_address.h"

#include <QUrl>

namespace torvix {
namespace {

const QString kScheme = QStringLiteral("tcp");

// QUrl's port() is -1 when the text has none.
std::optional<TcpAddress> parseUrl(const QString& text, int lowestPort) {
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != kScheme || url.host().isEmpty() ||
        url.port() < lowestPort || !url.userInfo().isEmpty() ||
        !(url.path().isEmpty() || url.path() == u"/") || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    return TcpAddress{url.host(), static_cast<quint16>(url.port())};
}

}  // namespace

QString TcpAddress::text() const {
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("tcp://%1:%2").arg(shownHost).arg(port);
}

bool isTcpAddressText(QStringView text) {
    return text.trimmed().startsWith(QStringLiteral("tcp://"), Qt::CaseInsensitive);
}

std::optional<TcpAddress> parseTcpAddress(QStringView text) {
    if (!isTcpAddressText(text)) return std::nullopt;
    return parseUrl(text.trimmed().toString(), 1);
}

std::optional<TcpAddress> parseListenAddress(QStringView text) {
    return parseUrl(kScheme + QStringLiteral("://") + text.trimmed().toString(), 0);
}

}  // namespace torvix
