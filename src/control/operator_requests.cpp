#include "control/operator_requests.h"

#include <algorithm>
#include <limits>

namespace torvix::commands {
namespace {

// The buttons stand in the request table's order: the twelve mode buttons from СТАРТ on, the
// three number buttons from Приоритет on.
constexpr requests::Kind kFirstMode = requests::Kind::Start;
constexpr requests::Kind kFirstNumber = requests::Kind::Priority;

requests::Kind kindAt(requests::Kind first, int offset) {
    return static_cast<requests::Kind>(static_cast<int>(first) + offset);
}

}  // namespace

std::optional<requests::Kind> modeButton(int index) {
    if (index < 0 || index >= kModeButtons) return std::nullopt;
    return kindAt(kFirstMode, index);
}

std::optional<requests::Kind> numberButton(int index) {
    if (index < 0 || index >= kNumberButtons) return std::nullopt;
    return kindAt(kFirstNumber, index);
}

std::optional<ModeRequest> modeRequest(int index) {
    const auto kind = modeButton(index);
    if (!kind) return std::nullopt;
    const auto pdu = requests::pdu({*kind});
    ModeRequest request{};
    std::copy(pdu->begin(), pdu->end(), request.begin());
    return request;
}

std::optional<NumberRequest> numberRequest(int kindIndex, int number) {
    const auto kind = numberButton(kindIndex);
    if (!kind) return std::nullopt;
    const auto pdu = requests::pdu({*kind, number});
    if (!pdu) return std::nullopt;
    NumberRequest request{};
    std::copy(pdu->begin(), pdu->end(), request.begin());
    return request;
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
