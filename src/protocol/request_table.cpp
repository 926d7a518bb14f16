#include "protocol/request_table.h"

namespace torvix::requests {
namespace {

using protocol::byteOf;

static_assert([] {
    for (std::size_t i = 0; i < kTable.size(); ++i)
        if (static_cast<std::size_t>(kTable[i].kind) != i) return false;
    return true;
}());

int wordAt(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes[at] << 8 | bytes[at + 1];
}

bool argumentFits(const Entry& e, int argument) {
    switch (e.shape) {
        case Shape::WriteArgument:
            return argument >= 0 && argument <= 0xFFFF;
        case Shape::WriteNumber:
            return argument >= kLowestNumber && argument <= kHighestNumber;
        case Shape::ReadStatus:
        case Shape::WriteCode:
            return argument == 0;
    }
    return false;
}

Pdu build(const Entry& e, int argument) {
    switch (e.shape) {
        case Shape::ReadStatus:
        case Shape::WriteCode:
            return {e.function, byteOf(e.reg, 1), byteOf(e.reg, 0), byteOf(e.value, 1),
                    byteOf(e.value, 0)};
        case Shape::WriteArgument:
            return {e.function, byteOf(e.reg, 1), byteOf(e.reg, 0), byteOf(argument, 1),
                    byteOf(argument, 0)};
        case Shape::WriteNumber:
            break;
    }
    constexpr std::uint16_t kRegisters = 2;
    return {e.function,
            byteOf(e.reg, 1),
            byteOf(e.reg, 0),
            byteOf(kRegisters, 1),
            byteOf(kRegisters, 0),
            2 * kRegisters,
            e.marker,
            byteOf(argument, 0),
            byteOf(e.value, 1),
            byteOf(e.value, 0)};
}

// The argument `frame` carries for entry `e`, when the frame is that entry's request.
std::optional<int> argumentOf(const Entry& e, std::span<const std::uint8_t> frame) {
    if (frame.size() < 2 || frame[1] != e.function) return std::nullopt;
    switch (e.shape) {
        case Shape::ReadStatus:
        case Shape::WriteCode:
            if (frame.size() != 8 || wordAt(frame, 2) != e.reg || wordAt(frame, 4) != e.value)
                return std::nullopt;
            return 0;
        case Shape::WriteArgument:
            if (frame.size() != 8 || wordAt(frame, 2) != e.reg) return std::nullopt;
            return wordAt(frame, 4);
        case Shape::WriteNumber:
            // The marker is not checked: the code in 402 says what the number is for.
            if (frame.size() != 13 || wordAt(frame, 2) != e.reg || wordAt(frame, 4) != 2 ||
                frame[6] != 4 || wordAt(frame, 9) != e.value)
                return std::nullopt;
            return frame[8];
    }
    return std::nullopt;
}

}  // namespace

Pdu::Pdu(std::initializer_list<std::uint8_t> bytes) : size_(std::min(bytes.size(), kMaxPduBytes)) {
    std::copy_n(bytes.begin(), size_, bytes_.begin());
}

Pdu statusReadPdu() {
    return build(entry(Kind::StatusRead), 0);
}

Pdu counterWritePdu(int counter) {
    return build(entry(Kind::CounterWrite), counter);
}

Pdu probeReadPdu() {
    using protocol::kReadInputRegisters, protocol::kStatusFirstRegister;
    return {kReadInputRegisters, byteOf(kStatusFirstRegister, 1), byteOf(kStatusFirstRegister, 0),
            byteOf(kProbeRegisterCount, 1), byteOf(kProbeRegisterCount, 0)};
}

std::optional<Pdu> pdu(const Request& request) {
    const Entry& e = entry(request.kind);
    if (!argumentFits(e, request.argument)) return std::nullopt;
    return build(e, request.argument);
}

std::optional<Request> identify(std::span<const std::uint8_t> frame) {
    for (const Entry& e : kTable)
        if (const auto argument = argumentOf(e, frame)) return Request{e.kind, *argument};
    return std::nullopt;
}

const Entry* entryOf(std::span<const std::uint8_t> frame) {
    const auto request = identify(frame);
    return request ? &entry(request->kind) : nullptr;
}

std::optional<int> normalReplyBytes(std::span<const std::uint8_t> sent) {
    const Entry* e = entryOf(sent);
    if (!e) return std::nullopt;
    return e->replyBytes;
}

bool replyComplete(std::span<const std::uint8_t> sent, std::span<const std::uint8_t> received) {
    return replyComplete(identify(sent), received);
}

bool replyComplete(const std::optional<Request>& sent, std::span<const std::uint8_t> received) {
    if (!sent) return false;
    if (received.size() >= static_cast<std::size_t>(entry(sent->kind).replyBytes)) return true;
    return received.size() >= static_cast<std::size_t>(kExceptionReplyBytes) &&
           (received[1] & protocol::kExceptionFlag) != 0;
}

std::optional<Shape> shapeAnswered(std::span<const std::uint8_t> reply) {
    if (reply.size() < 2) return std::nullopt;
    for (const Entry& e : kTable)
        if (e.function == reply[1]) return e.shape;
    return std::nullopt;
}

QString name(const Request& request) {
    const Entry& e = entry(request.kind);
    QString text = QStringView(e.name).toString();
    if (e.shape == Shape::WriteNumber)
        text += QStringLiteral(" = ") + QString::number(request.argument);
    return text;
}

QString name(std::span<const std::uint8_t> frame) {
    if (frame.size() < 2) return QStringLiteral("пустой запрос");
    if (const auto request = identify(frame)) return name(*request);
    return QStringLiteral("функция %1").arg(frame[1]);
}

QString words(const Request& request) {
    const Entry& e = entry(request.kind);
    QString text = QString::fromLatin1(e.cliName.data(), static_cast<qsizetype>(e.cliName.size()));
    if (e.takesArgument) text += u' ' + QString::number(request.argument);
    return text;
}

QString words(std::span<const std::uint8_t> frame) {
    const auto request = identify(frame);
    return request ? words(*request) : QString();
}

}  // namespace torvix::requests
