#pragma once
// The operator's commands as requests: the one builder that the window and the CLI share.

#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "link/protocol.h"

namespace torvix::commands {

// Code written to 402 by the mode buttons, in the window's order cmd_mode(0..11).
inline constexpr std::array<std::uint16_t, 12> kModeCodes = [] {
    using namespace protocol::command;
    return std::array<std::uint16_t, 12>{
        kStart,
        kStop,
        kAcknowledge,
        switchCode(kToggle, kLoad),
        switchCode(kToggle, kSection),
        switchCode(kToggle, kAutostart),
        switchCode(kOff, kLoad),
        switchCode(kOn, kLoad),
        switchCode(kOff, kSection),
        switchCode(kOn, kSection),
        switchCode(kOff, kAutostart),
        switchCode(kOn, kAutostart),
    };
}();

struct NumberKind {
    std::uint8_t marker;  // high byte of 401; the low byte is the number
    std::uint16_t code;   // written to 402
};

// cmd_mode_pr(0..2): Приоритет, Секция, Соседняя Секция.
inline constexpr std::array<NumberKind, 3> kNumberKinds = {{
    {protocol::command::kPriorityMarker, protocol::command::kSetPriority},
    {protocol::command::kSectionMarker, protocol::command::kSetSection},
    {protocol::command::kSectionMarker, protocol::command::kSetNeighbourSection},
}};

inline constexpr int kLowestNumber = 0;
inline constexpr int kHighestNumber = 7;

using ModeRequest = std::array<std::uint8_t, 5>;
using NumberRequest = std::array<std::uint8_t, 10>;

// The requests from the function code on; the slave address and CRC are added when sent.
// Empty for an index outside the tables or a number outside kLowestNumber..kHighestNumber.
std::optional<ModeRequest> modeRequest(int index);
std::optional<NumberRequest> numberRequest(int kindIndex, int number);

// The number the operator typed: blanks are skipped, then an optional sign, digits and a
// decimal point with digits are read up to the first other character, and the result is
// rounded half to even. Text that does not start with a number reads 0, an empty text -1.
// Empty optional: the number lies outside the signed 32-bit range.
std::optional<std::int32_t> readTypedNumber(QStringView text);

// What a request frame (address to CRC) asks for, in the operator's words: "СТАРТ",
// "Приоритет 5", "чтение состояния"; a frame of no known request gives its function code.
QString requestName(std::span<const std::uint8_t> frame);

}  // namespace torvix::commands
