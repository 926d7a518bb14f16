#include "link/frame_trace.h"

#include "protocol/protocol.h"
#include "protocol/request_table.h"

namespace torvix {
namespace {

QString stamp(double ms) {
    return QStringLiteral("%1").arg(ms, 11, 'f', 3);
}

// English, as the rest of a trace line, with the exception's Russian meaning.
QString verdictWords(Verdict verdict, int exceptionCode) {
    if (verdict == Verdict::Exception)
        return QStringLiteral("exception %1 (%2)")
            .arg(exceptionCode)
            .arg(protocol::exceptionMeaning(exceptionCode));
    return verdict == Verdict::Answered      ? QStringLiteral("answered")
           : verdict == Verdict::CrcMismatch ? QStringLiteral("CRC mismatch")
                                             : QStringLiteral("no answer");
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
                            verdictWords(verdict, exceptionCode));
    if (replyMs) line += QStringLiteral(", %1 ms").arg(*replyMs, 0, 'f', 2);
    return line + u'\n';
}

}  // namespace torvix
