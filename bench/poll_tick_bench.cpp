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

void BM_PollTickWithStatusReply(benchmark::State& state) {
    testing::FakeSerialPort port;
    port.open = true;
    testing::RecordingSink sink;
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
BENCHMARK(BM_PollTickWithStatusReply);

void BM_PollTickNoAnswer(benchmark::State& state) {
    testing::FakeSerialPort port;
    port.open = true;
    testing::RecordingSink sink;
    Modbus modbus(port, sink);
    TickPresenter presenter(modbus, sink, sink);
    for (auto _ : state) {
        presenter.show(modbus.pollTick());
        port.written.clear();
    }
}
BENCHMARK(BM_PollTickNoAnswer);

}  // namespace
