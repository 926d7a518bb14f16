#pragma once
// The window's command buttons as requests of the request table, and the number the operator typed.

#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/protocol.h"
#include "protocol/request_table.h"

namespace torvix::commands {

// The window's buttons: cmd_mode(index) and cmd_mode_pr(index) as kinds; empty outside.
inline constexpr int kModeButtons = 12;
inline constexpr int kNumberButtons = 3;
std::optional<requests::Kind> modeButton(int index);
std::optional<requests::Kind> numberButton(int index);

// The range of the number buttons' argument.
inline constexpr int kLowestNumber = requests::kLowestNumber;
inline constexpr int kHighestNumber = requests::kHighestNumber;

using ModeRequest = std::array<std::uint8_t, 5>;
using NumberRequest = std::array<std::uint8_t, 10>;

// The requests of the window's buttons cmd_mode(index) and cmd_mode_pr(kindIndex), from the
// function code on, as the request table builds them; the slave address and CRC are added when
// sent. Empty for an index outside the buttons or a number outside kLowestNumber..kHighestNumber.
std::optional<ModeRequest> modeRequest(int index);
std::optional<NumberRequest> numberRequest(int kindIndex, int number);

// The number the operator typed: blanks are skipped, then an optional sign, digits and a
// decimal point with digits are read up to the first other character, and the result is
// rounded half to even. Text that does not start with a number reads 0, an empty text -1.
// Empty optional: the number lies outside the signed 32-bit range.
std::optional<std::int32_t> readTypedNumber(QStringView text);

}  // namespace torvix::commands
