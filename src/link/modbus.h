#pragma once
// The Modbus RTU master: request queue, transmitter and the 100 ms poll cycle.

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <span>

#include "link/request_queue.h"
#include "link/serial_port.h"
#include "control/window_sinks.h"

namespace torvix {

namespace status_text {
inline const QString kLinkUp = QStringLiteral("Связь с контроллером Torvix установлена");
inline const QString kCrcMismatch = QStringLiteral("Ошибка обмена: Несовпадение КС");
inline const QString kNoAnswer = QStringLiteral("Ошибка обмена: Нет ответа от контроллера Torvix");
inline const QString kQueueFull = QStringLiteral("Очередь команд переполнена: команда не принята");
}  // namespace status_text

class Modbus {
public:
    static constexpr int kRxBufferSize = 256;
    static constexpr int kRxKept = 250;  // bytes judged per tick; the rest are read and dropped
    // A tick ends its drain after this many bytes even if more keep coming, so a port that
    // floods the line cannot hold the window; far more than any reply of the controller.
    static constexpr int kDrainLimit = 16384;

    Modbus(SerialPort& port, DisplaySink& display, StatusLine& status,
           const SlaveAddressSource& slave, QLocale locale = QLocale::system());

    // The whole work of one timer tick: judge what arrived as the reply to the request sent
    // last tick, report, decode, and send the next request. Never blocks.
    void pollTick();

    // Queues an operator's request (function code onward). False when the queue is full.
    [[nodiscard]] bool enqueue(std::span<const std::uint8_t> pdu) { return queue_.put(pdu); }

    const RequestQueue& queue() const { return queue_; }
    bool isQueueFull() const { return queue_.pendingCount() >= RequestQueue::kCapacity; }
    int transactionCounter() const { return transactionCounter_; }
    std::span<const std::uint8_t> rxBuffer() const { return rxBuffer_; }
    int rxCount() const { return rxCount_; }

    // Counter writes carry 1, 2, ... 65534, 0, 1, ...; 65535 is never sent.
    static int nextTransactionCounter(int counter) { return counter + 1 > 65534 ? 0 : counter + 1; }

private:
    void report(const QString& outcome);
    void drain();
    void sendNextRequest();
    void refillWithDefaultRequest();

    SerialPort& port_;
    DisplaySink& display_;
    StatusLine& status_;
    const SlaveAddressSource& slave_;
    QLocale locale_;

    RequestQueue queue_;
    bool counterWriteDue_ = false;
    int transactionCounter_ = 0;

    // Entries past rxCount_ keep bytes of earlier ticks; only the first rxCount_ are judged.
    std::array<std::uint8_t, kRxBufferSize> rxBuffer_{};
    int rxCount_ = 0;
    std::array<std::uint8_t, RequestQueue::kSlotSize + 2> txFrame_{};
};

}  // namespace torvix
