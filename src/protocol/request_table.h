#pragma once
// Every request the master sends, in one table: its PDU, the lengths of its replies, its
// Russian name (status line, trace) and its CLI words (`send`, scripts). Whatever needs to
// know a request asks here: the poll cycle builds its default requests from it, the window's
// buttons and the CLI their commands, the presenter and `send` judge the answered request by
// its kind, the trace names frames, the simulator's tests check its replies against it.
//
// API for other users (e.g. the fast cadence and the script runner):
//   (a) identify(frame) / entryOf(frame): the kind (and argument) of a request frame, address
//       to CRC; entry(kind) the table's row.
//   (b) normalReplyBytes(frame): the length of the normal reply to a sent frame, address to
//       CRC; kExceptionReplyBytes that of an exception reply. replyComplete(sent, received)
//       says whether the bytes received so far are a whole reply of either kind.
//   (c) name(frame) the Russian name ("СТАРТ", "Приоритет = 5", "чтение состояния"),
//       words(frame) the CLI words ("start", "priority 5", "read-status").
//   (d) pdu(request): the PDU of a kind with its argument.
//   (e) statusReadPdu() and counterWritePdu(counter): the poll cycle's default requests.
//   (f) probeReadPdu(): the bus scan's read of one register.

#include <QString>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "protocol/protocol.h"

namespace torvix::requests {

// In the window's order: the status read, the counter write, the twelve mode buttons
// cmd_mode(0..11), the three number buttons cmd_mode_pr(0..2).
enum class Kind : std::uint8_t {
    StatusRead,
    CounterWrite,
    Start,
    Stop,
    Acknowledge,
    LoadToggle,
    SectionToggle,
    AutostartToggle,
    LoadOff,
    LoadOn,
    SectionOff,
    SectionOn,
    AutostartOff,
    AutostartOn,
    Priority,
    SectionNumber,
    NeighbourSection,
};
inline constexpr int kKindCount = 17;

// How the PDU is made.
enum class Shape : std::uint8_t {
    ReadStatus,     // function 4: `value` registers from `reg`
    WriteArgument,  // function 6: the argument (the counter) to `reg`
    WriteCode,      // function 6: `value` (the command code) to `reg`
    WriteNumber,    // function 16: `marker` and the argument to `reg`, `value` to `reg` + 1
};

struct Entry {
    Kind kind;
    Shape shape;
    std::uint8_t function;
    std::uint16_t reg;         // the first register written or read
    std::uint16_t value;       // register count or command code; see Shape
    std::uint8_t marker;       // WriteNumber: the high byte of 401
    int replyBytes;            // the normal reply, address to CRC
    std::u16string_view name;  // Russian; a number command adds " = N"
    std::string_view cliName;  // "start", "load on", "priority", "read-status"
    bool takesArgument;        // counter value or number, after the name
    bool operatorCommand;      // one of the window's buttons: `send` accepts it
};

inline constexpr int kExceptionReplyBytes = protocol::kExceptionReplyBytes;
inline constexpr int kLowestNumber = 0;  // the number commands' argument
inline constexpr int kHighestNumber = 7;
inline constexpr std::size_t kMaxPduBytes = 10;

namespace detail {
using namespace protocol;
using namespace protocol::command;
constexpr int kEchoBytes = 8;  // address, function, register, value or count, CRC
constexpr Entry code(Kind kind, std::uint16_t value, std::u16string_view name,
                     std::string_view cli) {
    return {kind,
            Shape::WriteCode,
            kWriteSingleRegister,
            kCommandRegister,
            value,
            0,
            kEchoBytes,
            name,
            cli,
            false,
            true};
}
constexpr Entry number(Kind kind, std::uint16_t value, std::uint8_t marker,
                       std::u16string_view name, std::string_view cli) {
    return {kind,
            Shape::WriteNumber,
            kWriteMultipleRegisters,
            kNumberRegister,
            value,
            marker,
            kEchoBytes,
            name,
            cli,
            true,
            true};
}
}  // namespace detail

inline constexpr std::array<Entry, kKindCount> kTable = [] {
    using namespace detail;
    return std::array<Entry, kKindCount>{{
        {Kind::StatusRead, Shape::ReadStatus, kReadInputRegisters, kStatusFirstRegister,
         kStatusRegisterCount, 0, kStatusReplyBytes, u"чтение состояния", "read-status", false,
         false},
        {Kind::CounterWrite, Shape::WriteArgument, kWriteSingleRegister, kCounterRegister, 0, 0,
         kEchoBytes, u"запись кода транзакции", "write-counter", true, false},
        code(Kind::Start, kStart, u"СТАРТ", "start"),
        code(Kind::Stop, kStop, u"СТОП", "stop"),
        code(Kind::Acknowledge, kAcknowledge, u"КВИТ", "ack"),
        code(Kind::LoadToggle, switchCode(kToggle, kLoad), u"Нагрузка 1/0", "load toggle"),
        code(Kind::SectionToggle, switchCode(kToggle, kSection), u"Секция 1/0", "section toggle"),
        code(Kind::AutostartToggle, switchCode(kToggle, kAutostart), u"Автозапуск 1/0",
             "autostart toggle"),
        code(Kind::LoadOff, switchCode(kOff, kLoad), u"Нагрузка 0", "load off"),
        code(Kind::LoadOn, switchCode(kOn, kLoad), u"Нагрузка 1", "load on"),
        code(Kind::SectionOff, switchCode(kOff, kSection), u"Секция 0", "section off"),
        code(Kind::SectionOn, switchCode(kOn, kSection), u"Секция 1", "section on"),
        code(Kind::AutostartOff, switchCode(kOff, kAutostart), u"Автозапуск 0", "autostart off"),
        code(Kind::AutostartOn, switchCode(kOn, kAutostart), u"Автозапуск 1", "autostart on"),
        number(Kind::Priority, kSetPriority, kPriorityMarker, u"Приоритет", "priority"),
        number(Kind::SectionNumber, kSetSection, kSectionMarker, u"Секция", "section-number"),
        number(Kind::NeighbourSection, kSetNeighbourSection, kSectionMarker, u"Соседняя Секция",
               "neighbour"),
    }};
}();

constexpr const Entry& entry(Kind kind) {
    return kTable[static_cast<std::size_t>(kind)];
}

// A kind with its argument: the counter value, or the number of a number command.
struct Request {
    Kind kind = Kind::StatusRead;
    int argument = 0;
    friend bool operator==(const Request&, const Request&) = default;
};

// A PDU, function code onward; the slave address and CRC are added when it is sent.
class Pdu {
public:
    Pdu() = default;
    Pdu(std::initializer_list<std::uint8_t> bytes);
    std::size_t size() const { return size_; }
    const std::uint8_t* data() const { return bytes_.data(); }
    const std::uint8_t* begin() const { return bytes_.data(); }
    const std::uint8_t* end() const { return bytes_.data() + size_; }
    std::span<const std::uint8_t> bytes() const { return {bytes_.data(), size_}; }
    friend bool operator==(const Pdu& a, const Pdu& b) {
        return std::ranges::equal(a.bytes(), b.bytes());
    }

private:
    std::array<std::uint8_t, kMaxPduBytes> bytes_{};
    std::size_t size_ = 0;
};

// (e) The poll cycle's requests: the status read of 300..363 and the counter write to 400.
Pdu statusReadPdu();
Pdu counterWritePdu(int counter);

// (f) The bus scan's probe: a read of one register, the first of the status block. It is the
// shortest request the controller answers, with the shortest reply, and it writes nothing.
inline constexpr int kProbeRegisterCount = 1;
inline constexpr int kProbeReplyBytes = 3 + 2 * kProbeRegisterCount + 2;
Pdu probeReadPdu();

// The PDU of a request; empty for an argument its kind does not take (a number outside
// kLowestNumber..kHighestNumber, a counter outside 0..65535).
std::optional<Pdu> pdu(const Request& request);

// (a) What a request frame (address to CRC, as sent) asks for; empty for no request of the
// table. A frame is recognised by its whole PDU: function, registers, count and, for the
// commands, the code; the CRC is not checked.
std::optional<Request> identify(std::span<const std::uint8_t> frame);
const Entry* entryOf(std::span<const std::uint8_t> frame);

// (b) The normal reply to a sent frame, address to CRC: 133 bytes for the status read, 8 for
// every write; empty for a frame of no known request. An exception reply has
// kExceptionReplyBytes.
std::optional<int> normalReplyBytes(std::span<const std::uint8_t> sent);
// The bytes received after `sent` make a whole reply: as many as its normal reply, or an
// exception reply (function with the exception flag, kExceptionReplyBytes bytes). Whether the
// CRC holds is for the poll cycle to judge. False for a sent frame of no known request.
bool replyComplete(std::span<const std::uint8_t> sent, std::span<const std::uint8_t> received);
// The same for a request already identified.
bool replyComplete(const std::optional<Request>& sent, std::span<const std::uint8_t> received);

// How a reply is read by its function code alone, as the window routes replies (any reply
// with a good CRC answers the request sent): the shape of the table's requests of that
// function (4: the status read; 16: the number commands; 6: the counter write and the
// commands, whose echoes mean nothing more). Empty for no such function, exceptions included.
std::optional<Shape> shapeAnswered(std::span<const std::uint8_t> reply);

// (c) The Russian name as the status line and the trace show it: "СТАРТ", "Нагрузка 1",
// "Приоритет = 5", "чтение состояния", "запись кода транзакции"; a frame of no known request
// gives "функция N", a frame too short for a function code "пустой запрос".
QString name(const Request& request);
QString name(std::span<const std::uint8_t> frame);
// The CLI words: "start", "load on", "priority 5", "read-status", "write-counter 17"; empty
// for a frame of no known request.
QString words(const Request& request);
QString words(std::span<const std::uint8_t> frame);

}  // namespace torvix::requests
