#include "link/outcome_words.h"

#include <array>
#include <string_view>

#include "link/protocol.h"

namespace torvix::outcome_words {
namespace {

// A verdict other than an exception, for each reader.
struct VerdictWords {
    Verdict verdict;
    const QString& statusLine;
    std::string_view trace;
    std::u16string_view trouble;
};
const std::array<VerdictWords, 3> kVerdictWords{{
    {Verdict::Answered, kLinkUp, "answered", u""},
    {Verdict::CrcMismatch, kCrcMismatch, "CRC mismatch", u"ответ с неверной КС"},
    {Verdict::NoAnswer, kNoAnswer, "no answer", u"нет ответа"},
}};

const VerdictWords* wordsOf(Verdict verdict) {
    for (const VerdictWords& words : kVerdictWords)
        if (words.verdict == verdict) return &words;
    return nullptr;  // an exception
}

// A port error for each reader; the window tells only PortInUse apart. %1 is the system's
// own detail.
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

QString text(std::u16string_view words) {
    return QStringView(words).toString();
}

}  // namespace

QString exception(int code) {
    return QStringLiteral("исключение %1 (%2)").arg(code).arg(protocol::exceptionMeaning(code));
}

QString statusLine(Verdict verdict, int exceptionCode) {
    if (const VerdictWords* words = wordsOf(verdict)) return words->statusLine;
    return exceptionCode == protocol::exception_code::kSlaveDeviceBusy ? kBusy : kLinkUp;
}

QString refused(const QString& requestName, int exceptionCode) {
    return QStringLiteral("Контроллер отклонил «%1»: %2")
        .arg(requestName, exception(exceptionCode));
}

QString trace(Verdict verdict, int exceptionCode) {
    if (const VerdictWords* words = wordsOf(verdict)) return QString::fromLatin1(words->trace);
    return QStringLiteral("exception %1 (%2)")
        .arg(exceptionCode)
        .arg(protocol::exceptionMeaning(exceptionCode));
}

QString trouble(Verdict verdict, int exceptionCode) {
    if (const VerdictWords* words = wordsOf(verdict)) return text(words->trouble);
    return exception(exceptionCode);
}

QString portFailure(const PortError& error) {
    return error.code == PortErrorCode::PortInUse ? u' ' + text(wordsOf(error.code).reason)
                                                  : QStringLiteral(" не доступен");
}

QString portFailureReason(const PortError& error) {
    const QString reason = text(wordsOf(error.code).reason);
    return reason.contains(u"%1") ? reason.arg(error.detail) : reason;
}

QString portState(const PortStatus& status) {
    if (status) return QStringLiteral("free");
    return QString::fromLatin1(wordsOf(status.error().code).state);
}

}  // namespace torvix::outcome_words
