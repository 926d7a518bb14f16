#include "link/operator_requests.h"

#include <algorithm>
#include <limits>

namespace torvix::commands {
namespace {

// The captions of the buttons that send each code, with the row a 0/1 button switches.
constexpr std::array<std::u16string_view, 12> kModeNames = {
    u"СТАРТ",      u"СТОП",       u"КВИТ",     u"Нагрузка 1/0", u"Секция 1/0",   u"Автозапуск 1/0",
    u"Нагрузка 0", u"Нагрузка 1", u"Секция 0", u"Секция 1",     u"Автозапуск 0", u"Автозапуск 1",
};
constexpr std::array<std::u16string_view, 3> kNumberNames = {u"Приоритет", u"Секция",
                                                             u"Соседняя Секция"};

int wordAt(std::span<const std::uint8_t> frame, std::size_t at) {
    return frame[at] << 8 | frame[at + 1];
}

}  // namespace

std::optional<ModeRequest> modeRequest(int index) {
    if (index < 0 || index >= static_cast<int>(kModeCodes.size())) return std::nullopt;
    const std::uint16_t code = kModeCodes[static_cast<std::size_t>(index)];
    using protocol::byteOf;
    return ModeRequest{protocol::kWriteSingleRegister, byteOf(protocol::kCommandRegister, 1),
                       byteOf(protocol::kCommandRegister, 0), byteOf(code, 1), byteOf(code, 0)};
}

std::optional<NumberRequest> numberRequest(int kindIndex, int number) {
    if (kindIndex < 0 || kindIndex >= static_cast<int>(kNumberKinds.size())) return std::nullopt;
    if (number < kLowestNumber || number > kHighestNumber) return std::nullopt;
    const NumberKind kind = kNumberKinds[static_cast<std::size_t>(kindIndex)];
    constexpr std::uint16_t kRegisters = 2;
    using protocol::byteOf;
    return NumberRequest{protocol::kWriteMultipleRegisters,
                         byteOf(protocol::kNumberRegister, 1),
                         byteOf(protocol::kNumberRegister, 0),
                         byteOf(kRegisters, 1),
                         byteOf(kRegisters, 0),
                         2 * kRegisters,
                         kind.marker,
                         byteOf(number, 0),
                         byteOf(kind.code, 1),
                         byteOf(kind.code, 0)};
}

QString requestName(std::span<const std::uint8_t> frame) {
    if (frame.size() < 2) return QStringLiteral("пустой запрос");
    const std::uint8_t function = frame[1];
    if (function == protocol::kReadInputRegisters) return QStringLiteral("чтение состояния");
    if (function == protocol::kWriteSingleRegister && frame.size() >= 6) {
        const int reg = wordAt(frame, 2);
        if (reg == protocol::kCounterRegister) return QStringLiteral("запись кода транзакции");
        const auto code = std::find(kModeCodes.begin(), kModeCodes.end(), wordAt(frame, 4));
        if (reg == protocol::kCommandRegister && code != kModeCodes.end())
            return QStringView(kModeNames[static_cast<std::size_t>(code - kModeCodes.begin())])
                .toString();
    }
    if (function == protocol::kWriteMultipleRegisters && frame.size() >= 11 &&
        wordAt(frame, 2) == protocol::kNumberRegister) {
        const int code = wordAt(frame, 9);
        for (std::size_t i = 0; i < kNumberKinds.size(); ++i) {
            if (kNumberKinds[i].code == code)
                return QStringView(kNumberNames[i]).toString() + QStringLiteral(" = ") +
                       QString::number(frame[8]);
        }
    }
    return QStringLiteral("функция %1").arg(function);
}

std::optional<std::int32_t> readTypedNumber(QStringView text) {
    if (text.isEmpty()) return -1;

    // Blanks are skipped wherever they stand, as the operators' old tools did.
    qsizetype pos = 0;
    auto peek = [&]() -> QChar {
        while (pos < text.size() && (text[pos] == u' ' || text[pos] == u'\t')) ++pos;
        return pos < text.size() ? text[pos] : QChar();
    };
    auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };

    bool negative = false;
    if (const QChar c = peek(); c == u'+' || c == u'-') {
        negative = c == u'-';
        ++pos;
    }

    // Whole part, kept exactly up to a bound well past the 32-bit range.
    constexpr std::int64_t kBeyondRange = std::int64_t{1} << 40;
    std::int64_t whole = 0;
    while (isDigit(peek())) {
        whole = std::min(whole * 10 + (text[pos].unicode() - u'0'), kBeyondRange);
        ++pos;
    }

    // The fraction only decides the rounding: below, at or above one half.
    int firstFractionDigit = 0;
    bool restNonZero = false;
    if (peek() == u'.') {
        ++pos;
        bool first = true;
        while (isDigit(peek())) {
            const int digit = text[pos].unicode() - u'0';
            if (first) {
                firstFractionDigit = digit;
                first = false;
            } else if (digit != 0) {
                restNonZero = true;
            }
            ++pos;
        }
    }
    const bool roundUp = firstFractionDigit > 5 || (firstFractionDigit == 5 && restNonZero) ||
                         (firstFractionDigit == 5 && !restNonZero && whole % 2 == 1);
    if (roundUp) ++whole;

    const std::int64_t number = negative ? -whole : whole;
    if (number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(number);
}

}  // namespace torvix::commands
