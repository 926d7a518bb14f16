#include "control/status_words.h"

#include "protocol/protocol.h"

namespace torvix::status_text {

QString statusLine(Verdict verdict, int exceptionCode) {
    if (verdict == Verdict::CrcMismatch) return kCrcMismatch;
    if (verdict == Verdict::NoAnswer) return kNoAnswer;
    // Any other refusal than busy leaves the link up; the notice names it.
    const bool busy = verdict == Verdict::Exception &&
                      exceptionCode == protocol::exception_code::kSlaveDeviceBusy;
    return busy ? kBusy : kLinkUp;
}

QString refused(const QString& requestName, int exceptionCode) {
    return QStringLiteral("Контроллер отклонил «%1»: %2")
        .arg(requestName, protocol::exceptionText(exceptionCode));
}

QString portFailure(const PortError& error) {
    return error.code == PortErrorCode::PortInUse ? QStringLiteral(" занят другим приложением")
                                                  : QStringLiteral(" не доступен");
}

}  // namespace torvix::status_text
