#include "ui/operator_commands.h"

#include <algorithm>
#include <limits>

#include "link/crc16.h"

namespace torvix {
namespace commands {

ModeRequest modeRequest(std::uint16_t code) {
    return {kWriteSingleRegister, byteOf(kCommandRegister, 1), byteOf(kCommandRegister, 0),
            byteOf(code, 1), byteOf(code, 0)};
}

NumberRequest numberRequest(NumberKind kind, int number) {
    constexpr std::uint16_t kRegisters = 2;
    return {kWriteMultipleRegisters,
            byteOf(kNumberRegister, 1),
            byteOf(kNumberRegister, 0),
            byteOf(kRegisters, 1),
            byteOf(kRegisters, 0),
            2 * kRegisters,
            kind.marker,
            byteOf(number, 0),
            byteOf(kind.code, 1),
            byteOf(kind.code, 0)};
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

}  // namespace commands

void OperatorCommands::modeClicked(int index) {
    if (index < 0 || index >= static_cast<int>(commands::kModeCodes.size())) return;
    const auto request = commands::modeRequest(commands::kModeCodes[index]);
    if (!modbus_.enqueue(request)) refuse(false);
}

void OperatorCommands::numberClicked(int index) {
    if (index < 0 || index >= static_cast<int>(commands::kNumberKinds.size())) return;
    const QString text = box_.priorityText();
    const auto number = commands::readTypedNumber(text);
    if (!number || *number < commands::kLowestNumber || *number > commands::kHighestNumber) {
        display_.setBackground(kTextBox, kRed);
        return;
    }
    const auto request = commands::numberRequest(commands::kNumberKinds[index], *number);
    if (!modbus_.enqueue(request)) {
        refuse(true);
        return;
    }
    // The operator sees the number that went out: " 5" becomes "5", "2.5" becomes "2".
    const QString sent = QString::number(*number);
    if (sent != text) box_.setPriorityText(sent);
}

void OperatorCommands::textChanged() {
    display_.setBackground(kTextBox, kWhite);
}

void OperatorCommands::refuse(bool colourBox) {
    // Only a controller that has stopped answering lets 511 requests pile up; the command must
    // not look as if it had been sent.
    if (colourBox) display_.setBackground(kTextBox, kRed);
    status_.setStatusText(status_text::kQueueFull);
}

}  // namespace torvix
