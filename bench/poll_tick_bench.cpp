// One poll tick that drains, validates and decodes a whole status reply into the window's
// texts, then sends the next request: the work the window's thread does every 100 ms.

#include <benchmark/benchmark.h>

#include "control/tick_presenter.h"
#include "support/fake_serial_port.h"
#include "support/frames.h"
#include "support/recording_sink.h"

namespace {

using namespace torvix;

testing::StatusRegisters sampleBlock() {
    testing::StatusRegisters r{};
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint16_t>(0x1234 + 977 * i);
    return r;
}

// What the window does with a tick, without widgets: it keeps each label's text, takes the
// whole block at once and compares rather than looking labels up by name, as the tests' sink
// does to be able to say which label got what.
class WindowLikeSink : public DisplaySink, public StatusLine, public SlaveAddressSource {
public:
    void setCaption(ControlRef, const QString& text) override { other_ = text; }
    void setLamp(ControlRef, bool lit) override { lit_ = lit; }
    void setBackground(ControlRef, Rgb) override {}
    void showStatus(const StatusTexts& texts) override {
        for (std::size_t i = 0; i < texts.fields.size(); ++i)
            if (fields_[i] != texts.fields[i]) fields_[i] = texts.fields[i];
        lampBits_ = texts.lampBits;
    }
    void setStatusText(const QString& text) override { status_ = text; }
    QString statusText() const override { return status_; }
    int slaveAddress() const override { return 7; }

private:
    std::array<QString, status_block::kFieldCount> fields_;
    std::array<std::uint16_t, status_block::kLampRowCount> lampBits_{};
    QString other_;
    QString status_;
    bool lit_ = false;
};

template <typename Sink>
void pollTickWithStatusReply(benchmark::State& state) {
    testing::FakeSerialPort port;
    port.open = true;
    Sink sink;
    Modbus modbus(port, sink);
    TickPresenter presenter(modbus, sink, sink, QLocale(QLocale::Russian));
    const testing::Frame reply = testing::statusReply(sampleBlock());
    for (auto _ : state) {
        port.feed(reply);
        presenter.show(modbus.pollTick());
        port.written.clear();
    }
    if (sink.statusText() != status_text::kLinkUp) state.SkipWithError("reply was not accepted");
}

// The window's share of a tick.
void BM_PollTickWithStatusReply(benchmark::State& state) {
    pollTickWithStatusReply<WindowLikeSink>(state);
}
BENCHMARK(BM_PollTickWithStatusReply);

// The same through the tests' sink, which finds each label by name in a map and keeps every
// status line ever written: what this benchmark measured until it had a sink of its own.
void BM_PollTickWithStatusReplyIntoTestSink(benchmark::State& state) {
    pollTickWithStatusReply<testing::RecordingSink>(state);
}
BENCHMARK(BM_PollTickWithStatusReplyIntoTestSink);

void BM_PollTickNoAnswer(benchmark::State& state) {
    testing::FakeSerialPort port;
    port.open = true;
    WindowLikeSink sink;
    Modbus modbus(port, sink);
    TickPresenter presenter(modbus, sink, sink);
    for (auto _ : state) {
        presenter.show(modbus.pollTick());
        port.written.clear();
    }
}
BENCHMARK(BM_PollTickNoAnswer);

}  // namespace
