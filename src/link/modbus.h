#pragma once
// The Modbus RTU master: request queue, transmitter and the 100 ms poll cycle.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "link/request_queue.h"
#include "link/serial_port.h"
#include "protocol/request_table.h"
#include "protocol/status_registers.h"

namespace torvix {

// The selected slave address of every frame sent; read at each transmission.
class SlaveAddressSource {
public:
    virtual ~SlaveAddressSource() = default;
    virtual int slaveAddress() const = 0;  // 0..127, -1 when nothing is selected
};

// How the bytes that arrived since the last tick answer the request sent then.
enum class Verdict {
    Answered,     // a reply with a good CRC
    Exception,    // a good CRC and the exception flag: the controller refused the request
    CrcMismatch,  // bytes whose last two are not their CRC
    NoAnswer,     // two bytes or fewer
};

// One tick's result, read by the window, the companion and the command line alike: the
// requests are named and a status reply decoded here once. The spans stay valid until the
// next tick.
struct TickOutcome {
    Verdict verdict = Verdict::NoAnswer;
    int exceptionCode = 0;  // for Verdict::Exception
    // The request left the queue: answered, or refused for good. A busy controller, a wrong
    // CRC and silence keep it at the head, to go out again.
    bool retired = false;
    std::span<const std::uint8_t> answered;  // the frame sent last tick; empty before the first
    std::span<const std::uint8_t> reply;     // the bytes judged
    std::span<const std::uint8_t> sent;      // the frame this tick sent, for the next to judge
    bool written = false;                    // `sent` reached an open port

    // What `answered` and `sent` ask for; empty for a frame of no request of the table.
    std::optional<requests::Request> answeredRequest;
    std::optional<requests::Request> sentRequest;
    // An answer is taken by its function code, whatever was asked: 4 a status block, 16 a
    // number command's echo, 6 an echo that means nothing more. Empty for any other answer.
    std::optional<requests::Shape> replyShape;
    // The status block of an answer that is a whole one.
    std::optional<protocol::StatusRegisters> status;
};

class Modbus {
public:
    static constexpr int kRxBufferSize = 256;
    static constexpr int kRxKept = 250;  // bytes judged per tick; the rest are read and dropped
    // A tick ends its drain after this many bytes even if more keep coming, so a port that
    // floods the line cannot hold the window; far more than any reply of the controller.
    static constexpr int kDrainLimit = 16384;

    Modbus(SerialPort& port, const SlaveAddressSource& slave) : port_(port), slave_(slave) {}

    // The whole work of one timer tick: judge what arrived as the reply to the request sent
    // last tick, retire it when answered, and send the next request. Never blocks.
    TickOutcome pollTick();

    // Queues an operator's request (function code onward). False when the queue is full.
    [[nodiscard]] bool enqueue(std::span<const std::uint8_t> pdu) { return queue_.put(pdu); }

    // For a cadence faster than the tick (the command line's --fast; the window never calls
    // these). Takes the bytes that have arrived so far for the request in flight, to be judged
    // by the next pollTick with whatever comes after; true once they make a whole reply: the
    // length the request expects, or an exception reply.
    bool takeArrived();
    // The length of a normal reply to the request in flight; 0 when it is not known.
    std::size_t expectedReplyBytes() const;
    // Which default request an empty queue takes next: the counter write or the status read.
    void setCounterWriteDue(bool due) { counterWriteDue_ = due; }

    const RequestQueue& queue() const { return queue_; }
    bool isQueueFull() const { return queue_.pendingCount() >= RequestQueue::kCapacity; }
    int transactionCounter() const { return transactionCounter_; }
    std::span<const std::uint8_t> rxBuffer() const { return rxBuffer_; }
    int rxCount() const { return rxCount_; }

    // Counter writes carry 1, 2, ... 65534, 0, 1, ...; 65535 is never sent.
    static int nextTransactionCounter(int counter) { return counter + 1 > 65534 ? 0 : counter + 1; }

private:
    using Frame = std::array<std::uint8_t, RequestQueue::kSlotSize + 2>;

    void drain();
    void judge(TickOutcome& outcome);
    void sendNextRequest(TickOutcome& outcome);
    void refillWithDefaultRequest();

    SerialPort& port_;
    const SlaveAddressSource& slave_;

    RequestQueue queue_;
    bool counterWriteDue_ = false;
    int transactionCounter_ = 0;

    // Entries past rxCount_ keep bytes of earlier ticks; only the first rxCount_ are judged.
    std::array<std::uint8_t, kRxBufferSize> rxBuffer_{};
    int rxCount_ = 0;
    bool takenEarly_ = false;  // rxBuffer_ holds bytes takeArrived() took since the last tick
    Frame txFrame_{};
    std::size_t txLength_ = 0;
    std::optional<requests::Request> txRequest_;  // what txFrame_ asks for
    Frame answeredFrame_{};
    std::size_t answeredLength_ = 0;
};

}  // namespace torvix
