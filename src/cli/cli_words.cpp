#include "cli/cli_words.h"

#include <array>
#include <string_view>

#include "protocol/protocol.h"

namespace torvix::cli {
namespace {

// What the command line says of each port error: the reason after "не открывается", and the
// ports listing's state. %1 is the system's own detail.
struct PortWords {
    PortErrorCode code;
    std::u16string_view reason;
    std::string_view state;
};
constexpr std::array<PortWords, 6> kPortWords{{
    {PortErrorCode::NoSuchPort, u"нет такого устройства", "missing"},
    {PortErrorCode::PortInUse, u"занят другим приложением", "busy"},
    {PortErrorCode::PermissionDenied, u"нет прав доступа (группа dialout)", "denied"},
    {PortErrorCode::InvalidSettings, u"настройки линии не применяются: %1", "error"},
    {PortErrorCode::PortAlreadyOpen, u"ошибка открытия: %1", "error"},
    {PortErrorCode::OpenFailed, u"ошибка открытия: %1", "error"},
}};

const PortWords& wordsOf(PortErrorCode code) {
    for (const PortWords& words : kPortWords)
        if (words.code == code) return words;
    return kPortWords.back();
}

}  // namespace

QString trouble(Verdict verdict, int exceptionCode) {
    if (verdict == Verdict::Exception) return protocol::exceptionText(exceptionCode);
    if (verdict == Verdict::CrcMismatch) return QStringLiteral("ответ с неверной КС");
    return verdict == Verdict::NoAnswer ? QStringLiteral("нет ответа") : QString();
}

QString portFailureReason(const PortError& error) {
    const QString reason = QStringView(wordsOf(error.code).reason).toString();
    return reason.contains(u"%1") ? reason.arg(error.detail) : reason;
}

QString portState(const PortStatus& status) {
    if (status) return QStringLiteral("free");
    return QString::fromLatin1(wordsOf(status.error().code).state);
}

}  // namespace torvix::cli
