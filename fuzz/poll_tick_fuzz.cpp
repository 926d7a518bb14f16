// The poll tick and what the window shows of it, fed whatever a line can carry between two
// ticks.
//
// The input is a run of ticks. Each starts with an op byte and a length byte:
//   op & 0x80  the fuzz target appends a good CRC (its own) to the bytes, so that whole replies
//              of every length and function code get past the check;
//   op & 0x40  an operator command (write of register 402, code from two more bytes) is
//              queued before the tick;
//   op & 0x20  (not a flood) the first half of the bytes arrives before the rest and is taken
//              early, as the command line's fast cadence does; the tick must judge the same;
//   op & 0x3F == 0x3F  a flood: kDrainLimit - 128 + length copies of one byte, on either side
//              of the tick's drain limit (one flood and 64 ticks per input at most: a flood
//              costs 16 Ki turns of the drain loop);
// then the bytes that arrive before the tick. After every tick the properties below must hold.

#include <QLocale>
#include <QString>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "control/tick_presenter.h"
#include "fuzz_check.h"
#include "link/modbus.h"
#include "protocol/request_table.h"
#include "support/fake_serial_port.h"

namespace {

using namespace torvix;
using torvix::fuzz::bitwiseCrc;
using torvix::fuzz::crcHolds;
using Bytes = std::vector<std::uint8_t>;

constexpr int kSlaveAddress = 7;

// Counts what a tick wrote into the window, by kind.
class CountingWindow : public DisplaySink, public StatusLine, public SlaveAddressSource {
public:
    int statusBlockWrites = 0;  // captions of the status block and lamps
    int backgrounds = 0;
    int counterCaptions = 0;
    QString counterCaption;
    QString status;

    void setCaption(ControlRef control, const QString& text) override {
        if (control.name == "lbl_tr_id") {
            ++counterCaptions;
            counterCaption = text;
        } else {
            ++statusBlockWrites;
        }
    }
    void setLamp(ControlRef, bool) override { ++statusBlockWrites; }
    void setBackground(ControlRef control, Rgb colour) override {
        FUZZ_CHECK(control.name == "txt_prior_sec" && colour == kGreen);
        ++backgrounds;
    }
    void setStatusText(const QString& text) override { status = text; }
    QString statusText() const override { return status; }
    int slaveAddress() const override { return kSlaveAddress; }

    void reset() { statusBlockWrites = backgrounds = counterCaptions = 0; }
};

// What the tick must make of the bytes it judges, the first kRxKept that arrived: a frame of
// five bytes with the exception flag is a refusal, anything else with a good CRC an answer.
struct Expected {
    Verdict verdict = Verdict::NoAnswer;
    int exceptionCode = 0;
    bool retired = false;
};

Expected expectedOf(std::span<const std::uint8_t> judged) {
    Expected e;
    if (judged.size() <= 2) return e;
    if (!crcHolds(judged)) {
        e.verdict = Verdict::CrcMismatch;
    } else if (judged.size() == 5 && (judged[1] & 0x80)) {
        e.verdict = Verdict::Exception;
        e.exceptionCode = judged[2];
        e.retired = judged[2] != 6;  // busy: not executed, to be sent again
    } else {
        e.verdict = Verdict::Answered;
        e.retired = true;
    }
    return e;
}

// The status line's first words for each outcome, as the operator reads them.
QString leadingText(const Expected& e) {
    switch (e.verdict) {
        case Verdict::NoAnswer:
            return QStringLiteral("Ошибка обмена: Нет ответа от контроллера Torvix");
        case Verdict::CrcMismatch:
            return QStringLiteral("Ошибка обмена: Несовпадение КС");
        case Verdict::Exception:
            if (e.exceptionCode == 6) return QStringLiteral("Контроллер Torvix занят");
            break;
        case Verdict::Answered:
            break;
    }
    return QStringLiteral("Связь с контроллером Torvix установлена");
}

const QString kRefused = QStringLiteral("Контроллер отклонил");
const QString kQueueFull = QStringLiteral("Очередь команд переполнена: команда не принята");
constexpr int kTicksANoticeStays = 30;  // 3 s of 100 ms ticks

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const QLocale locale = QLocale::c();
    torvix::fuzz::Input input(data, size);
    testing::FakeSerialPort port;
    port.open = true;
    CountingWindow window;
    Modbus modbus(port, window);
    std::chrono::milliseconds now{0};
    TickPresenter presenter(modbus, window, window, locale, [&now] { return now; });

    Bytes previousFrame;
    int lastRefusal = -kTicksANoticeStays;
    // Bounds on the work per input: a flood drains 16 KiB byte by byte.
    int ticks = 0;
    int floods = 0;
    while (!input.empty() && ticks < 64) {
        ++ticks;
        now += std::chrono::milliseconds(100);
        const std::uint8_t op = input.byte();
        const std::uint8_t length = input.byte();
        if (op & 0x40) {
            const std::uint8_t hi = input.byte();
            const std::uint8_t lo = input.byte();
            const std::array<std::uint8_t, 5> command{6, 0x01, 0x92, hi, lo};
            const bool wasFull = modbus.isQueueFull();
            FUZZ_CHECK(modbus.enqueue(command) == !wasFull);
        }
        Bytes arrived;
        if ((op & 0x3F) == 0x3F && floods++ < 1) {
            arrived.assign(std::size_t{Modbus::kDrainLimit} - 128 + length, input.byte());
        } else {
            const auto bytes = input.take(length);
            arrived.assign(bytes.begin(), bytes.end());
        }
        if (op & 0x80) {
            const std::uint16_t crc = bitwiseCrc(arrived);
            arrived.push_back(static_cast<std::uint8_t>(crc & 0xFF));
            arrived.push_back(static_cast<std::uint8_t>(crc >> 8));
        }

        const auto judged = std::span<const std::uint8_t>(arrived).first(
            std::min<std::size_t>(arrived.size(), Modbus::kRxKept));
        const Expected expected = expectedOf(judged);
        const int readIndexBefore = modbus.queue().readIndex();
        const bool requestPending = !modbus.queue().isEmpty();  // not before the first tick
        const int discardsBefore = port.discards;
        const std::size_t framesBefore = port.written.size();
        window.reset();
        if ((op & 0x20) && (op & 0x3F) != 0x3F && !previousFrame.empty()) {
            const std::size_t half = arrived.size() / 2;
            port.feed(Bytes(arrived.begin(), arrived.begin() + half));
            // Whole: an exception reply, or as long as the reply to the request in flight.
            const std::size_t expectedLength =
                previousFrame[1] == 4
                    ? 5 + 2 * std::size_t(previousFrame[4] << 8 | previousFrame[5])
                    : 8;
            const std::size_t taken = std::min<std::size_t>(half, Modbus::kRxKept);
            // A command code no button sends is no request of the table: with no length to
            // expect, the fast cadence waits for its time-out rather than guess.
            const bool known = torvix::requests::identify(previousFrame).has_value();
            const bool whole =
                known && ((taken >= 5 && (arrived[1] & 0x80)) || taken >= expectedLength);
            FUZZ_CHECK(modbus.takeArrived() == whole);
            port.feed(Bytes(arrived.begin() + half, arrived.end()));
        } else {
            port.feed(arrived);
        }
        const TickOutcome outcome = modbus.pollTick();
        presenter.show(outcome);

        // The verdict is what an independent CRC says of the judged bytes.
        FUZZ_CHECK(outcome.verdict == expected.verdict);
        FUZZ_CHECK(
            std::equal(outcome.reply.begin(), outcome.reply.end(), judged.begin(), judged.end()));
        if (expected.verdict == Verdict::Exception)
            FUZZ_CHECK(outcome.exceptionCode == expected.exceptionCode);
        FUZZ_CHECK(outcome.retired == expected.retired);
        FUZZ_CHECK(std::equal(outcome.answered.begin(), outcome.answered.end(),
                              previousFrame.begin(), previousFrame.end()));

        // The queue moves on only after a reply that retires the request, and then by one.
        const int readIndexAfter = modbus.queue().readIndex();
        if (expected.retired && requestPending)
            FUZZ_CHECK(readIndexAfter == (readIndexBefore + 1) % RequestQueue::kSlots);
        else
            FUZZ_CHECK(readIndexAfter == readIndexBefore);

        // The status line leads with the verdict, keeps a refusal for 3 s and a full queue for
        // as long as it lasts.
        FUZZ_CHECK(window.status.startsWith(leadingText(expected)));
        if (expected.verdict == Verdict::Exception && expected.retired &&
            expected.exceptionCode != 5) {
            lastRefusal = ticks;
            FUZZ_CHECK(window.status.contains(
                QStringLiteral("исключение %1 ").arg(expected.exceptionCode)));
        }
        if (ticks - lastRefusal < kTicksANoticeStays) FUZZ_CHECK(window.status.contains(kRefused));
        FUZZ_CHECK(window.status.endsWith(kQueueFull) == modbus.isQueueFull());

        // Captions and lamps change only for a whole status block with a good CRC, and always
        // for one; the priority box turns green only for the answer to a write-multiple.
        const bool wholeStatusBlock = expected.verdict == Verdict::Answered &&
                                      arrived.size() == 133 && arrived[1] == 4 && arrived[2] == 128;
        FUZZ_CHECK((window.statusBlockWrites > 0) == wholeStatusBlock);
        // The outcome carries the block it showed, and the request it judged by name.
        FUZZ_CHECK(outcome.status.has_value() == wholeStatusBlock);
        FUZZ_CHECK(outcome.answeredRequest == torvix::requests::identify(previousFrame));
        FUZZ_CHECK((window.backgrounds > 0) ==
                   (expected.verdict == Verdict::Answered && arrived[1] == 16));

        // Nothing is carried over to the next tick; only a drain past its limit throws away.
        FUZZ_CHECK(port.rx.empty());
        FUZZ_CHECK(port.discards - discardsBefore ==
                   (arrived.size() > Modbus::kDrainLimit ? 1 : 0));

        // One whole frame per tick; a request not retired goes out again unchanged.
        FUZZ_CHECK(port.written.size() == framesBefore + 1);
        const Bytes& frame = port.written.back();
        FUZZ_CHECK(frame.size() >= 4 && frame[0] == kSlaveAddress && crcHolds(frame));
        FUZZ_CHECK(
            std::equal(outcome.sent.begin(), outcome.sent.end(), frame.begin(), frame.end()));
        if (!expected.retired && !previousFrame.empty()) FUZZ_CHECK(frame == previousFrame);
        // The counter caption shows the value of the counter write going out.
        const bool counterWrite =
            frame.size() == 8 && frame[1] == 6 && frame[2] == 0x01 && frame[3] == 0x90;
        FUZZ_CHECK(window.counterCaptions == (counterWrite ? 1 : 0));
        if (counterWrite)
            FUZZ_CHECK(window.counterCaption == QString::number(frame[4] * 256 + frame[5]));
        previousFrame = frame;
    }
    return 0;
}
