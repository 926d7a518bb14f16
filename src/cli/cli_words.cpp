#include "cli/cli_words.h"

#include "protocol/protocol.h"

namespace torvix::cli {

QString trouble(Verdict verdict, int exceptionCode) {
    switch (verdict) {
        case Verdict::Answered:
            return {};
        case Verdict::CrcMismatch:
            return QStringLiteral("ответ с неверной КС");
        case Verdict::NoAnswer:
            return QStringLiteral("нет ответа");
        case Verdict::Exception:
            break;
    }
    return protocol::exceptionText(exceptionCode);
}

QString portFailureReason(const PortError& error) {
    switch (error.code) {
        case PortErrorCode::NoSuchPort:
            return QStringLiteral("нет такого устройства");
        case PortErrorCode::PortInUse:
            return QStringLiteral("занят другим приложением");
        case PortErrorCode::PermissionDenied:
            return QStringLiteral("нет прав доступа (группа dialout)");
        case PortErrorCode::InvalidSettings:
            return QStringLiteral("настройки линии не применяются: %1").arg(error.detail);
        case PortErrorCode::PortAlreadyOpen:
        case PortErrorCode::OpenFailed:
            break;
    }
    return QStringLiteral("ошибка открытия: %1").arg(error.detail);
}

QString portState(const PortStatus& status) {
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

}  // namespace torvix::cli
