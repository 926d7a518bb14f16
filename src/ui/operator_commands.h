#pragma once
// The command buttons and the priority text box: each accepted click queues one write request.

#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>
#include <optional>

#include "link/modbus.h"
#include "link/window_sinks.h"

namespace torvix {

namespace commands {

inline constexpr std::uint8_t kWriteSingleRegister = 6;
inline constexpr std::uint8_t kWriteMultipleRegisters = 16;
inline constexpr std::uint16_t kCommandRegister = 402;
inline constexpr std::uint16_t kNumberRegister = 401;

// Code written to 402 by cmd_mode(i). In the three rows the low byte names the function
// (0xC4 load, 0xCC section, 0x10 autostart) and the high byte the action (0x0B off, 0x5B on,
// 0xAB toggle).
inline constexpr std::array<std::uint16_t, 12> kModeCodes = {
    0x1231,                  // СТАРТ
    0x4562,                  // СТОП
    0x7893,                  // КВИТ
    0xABC4, 0xABCC, 0xAB10,  // 1/0
    0x0BC4, 0x5BC4,          // Нагрузка 0, 1
    0x0BCC, 0x5BCC,          // Секция 0, 1
    0x0B10, 0x5B10,          // Автозапуск 0, 1
};

struct NumberKind {
    std::uint8_t marker;  // high byte of 401; the low byte is the number
    std::uint16_t code;   // written to 402
};

// cmd_mode_pr(i): Приоритет, Секция, Соседняя Секция.
inline constexpr std::array<NumberKind, 3> kNumberKinds = {{
    {0x55, 0xEE55},
    {0xAA, 0xEEAA},
    {0xAA, 0xEEBB},
}};

inline constexpr int kLowestNumber = 0;
inline constexpr int kHighestNumber = 7;

using ModeRequest = std::array<std::uint8_t, 5>;
using NumberRequest = std::array<std::uint8_t, 10>;

// The requests from the function code on; the slave address and CRC are added when sent.
ModeRequest modeRequest(std::uint16_t code);
NumberRequest numberRequest(NumberKind kind, int number);

// The number the operator typed: blanks are skipped, then an optional sign, digits and a
// decimal point with digits are read up to the first other character, and the result is
// rounded half to even. Text that does not start with a number reads 0, an empty text -1.
// Empty optional: the number lies outside the signed 32-bit range.
std::optional<std::int32_t> readTypedNumber(QStringView text);

}  // namespace commands

// txt_prior_sec as the commands read and rewrite it. Rewriting fires the box's change rule.
class PriorityTextBox {
public:
    virtual ~PriorityTextBox() = default;
    virtual QString priorityText() const = 0;
    virtual void setPriorityText(const QString& text) = 0;
};

class OperatorCommands {
public:
    static constexpr ControlRef kTextBox{"txt_prior_sec"};

    OperatorCommands(Modbus& modbus, DisplaySink& display, StatusLine& status, PriorityTextBox& box)
        : modbus_(modbus), display_(display), status_(status), box_(box) {}

    // cmd_mode(index) clicked.
    void modeClicked(int index);
    // cmd_mode_pr(index) clicked: sends the typed number, or turns the box red.
    void numberClicked(int index);
    // The text of txt_prior_sec changed, by typing or by a click that normalised it.
    void textChanged();

private:
    void refuse(bool colourBox);

    Modbus& modbus_;
    DisplaySink& display_;
    StatusLine& status_;
    PriorityTextBox& box_;
};

}  // namespace torvix
