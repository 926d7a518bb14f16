#include "control/status_words.h"

#include "protocol/protocol.h"

namespace torvix::status_text {

QString statusLine(Verdict verdict, int exceptionCode) {
    switch (verdict) {
        case Verdict::Answered:
            return kLinkUp;
        case Verdict::CrcMismatch:
            return kCrcMismatch;
        case Verdict::NoAnswer:
            return kNoAnswer;
        case Verdict::Exception:
            break;
    }
    return exceptionCode == protocol::exception_code::kSlaveDeviceBusy ? kBusy : kLinkUp;
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
