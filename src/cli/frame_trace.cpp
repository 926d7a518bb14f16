#include "cli/frame_trace.h"

#include "link/outcome_words.h"
#include "link/request_table.h"

namespace torvix::cli {
namespace {

QString stamp(double ms) {
    return QStringLiteral("%1").arg(ms, 11, 'f', 3);
}

}  // namespace

QString hexBytes(std::span<const std::uint8_t> bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()) * 3);
    for (const std::uint8_t byte : bytes) {
        if (!text.isEmpty()) text += u' ';
        text += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

QString traceSent(double ms, std::span<const std::uint8_t> frame) {
    return QStringLiteral("%1 TX %2  (%3)\n")
        .arg(stamp(ms), hexBytes(frame), requests::name(frame));
}

QString traceReceived(double ms, std::span<const std::uint8_t> reply, Verdict verdict,
                      int exceptionCode, std::optional<double> replyMs) {
    QString line = QStringLiteral("%1 RX %2  %3")
                       .arg(stamp(ms), reply.empty() ? QStringLiteral("--") : hexBytes(reply),
                            outcome_words::trace(verdict, exceptionCode));
    if (replyMs) line += QStringLiteral(", %1 ms").arg(*replyMs, 0, 'f', 2);
    return line + u'\n';
}

}  // namespace torvix::cli
