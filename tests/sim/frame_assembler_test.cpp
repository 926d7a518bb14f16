#include "sim/frame_assembler.h"

#include <gtest/gtest.h>

#include <random>

#include "sim/simulator_core.h"
#include "support/reference_frames.h"

namespace torvix::sim {
namespace {

using namespace testing;
using reference::kStatusRead;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(FrameAssembler, RequestArrivingInPiecesIsTakenWhenComplete) {
    FrameAssembler assembler;
    EXPECT_TRUE(assembler.feed(std::span(kStatusRead).first(3), 100).empty());
    EXPECT_TRUE(assembler.feed(std::span(kStatusRead).subspan(3, 4), 900).empty());
    const auto frames = assembler.feed(std::span(kStatusRead).last(1), 1500);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, kStatusRead);
    EXPECT_EQ(frames[0].startUs, 100);
    EXPECT_FALSE(assembler.pending());
    EXPECT_FALSE(assembler.silence());
}

TEST(FrameAssembler, BackToBackRequestsAreCutByTheirLengths) {
    const Bytes multiple = reference::kPriority3;
    const Bytes start = reference::kStart;
    FrameAssembler assembler;
    const auto frames = assembler.feed(join({multiple, start, kStatusRead}), 7);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes, multiple);
    EXPECT_EQ(frames[1].bytes, start);
    EXPECT_EQ(frames[2].bytes, kStatusRead);
}

TEST(FrameAssembler, AfterABadCrcTheBurstUpToTheSilenceIsOneFrame) {
    Bytes corrupt = kStatusRead;
    corrupt[4] ^= 0x01;
    FrameAssembler assembler;
    EXPECT_TRUE(assembler.feed(join({corrupt, kStatusRead}), 0).empty());
    EXPECT_TRUE(assembler.feed(kStatusRead, 10).empty());
    const auto frame = assembler.silence();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->bytes.size(), 24u);
    // The line is in step again.
    EXPECT_EQ(assembler.feed(kStatusRead, 20).size(), 1u);
}

TEST(FrameAssembler, UnknownFunctionsAndFragmentsEndAtTheSilence) {
    FrameAssembler assembler;
    const Bytes diagnostics = framed({7, 8, 0, 0, 0x12, 0x34});
    EXPECT_TRUE(assembler.feed(diagnostics, 5).empty());
    auto frame = assembler.silence();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->bytes, diagnostics);

    EXPECT_TRUE(assembler.feed(bytes({0x07, 0x04, 0x01}), 6).empty());
    frame = assembler.silence();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->bytes.size(), 3u);
}

TEST(FrameAssembler, EndlessNoiseIsCappedAtOneFrame) {
    FrameAssembler assembler;
    const Bytes noise(1000, 0x55);
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(assembler.feed(noise, i).empty());
    const auto frame = assembler.silence();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->bytes.size(), FrameAssembler::kMaxFrame);
    EXPECT_EQ(assembler.bytesDropped(), 10000u - FrameAssembler::kMaxFrame);
    EXPECT_EQ(assembler.feed(kStatusRead, 11).size(), 1u);
}

TEST(FrameAssembler, RandomBytesNeverBreakTheSlave) {
    FrameAssembler assembler;
    SimulatorCore core(GensetConfig{}, 7, FaultOptions{});
    std::mt19937 rng(2024);
    for (int burst = 0; burst < 5000; ++burst) {
        Bytes noise(rng() % 300);
        for (auto& b : noise) b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 7 : rng());
        for (const RxFrame& frame : assembler.feed(noise, burst)) core.onFrame(frame.bytes);
        if (burst % 3 == 0)
            if (auto frame = assembler.silence()) core.onFrame(frame->bytes);
    }
    assembler.silence();
    const auto frames = assembler.feed(kStatusRead, 0);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(core.onFrame(frames[0].bytes).size(), 133u);
}

}  // namespace
}  // namespace torvix::sim
