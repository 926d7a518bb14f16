#include "sim/genset_model.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace torvix::sim {
namespace {

using namespace std::chrono_literals;

std::uint32_t runningMinutes(const GensetModel& m) {
    return static_cast<std::uint32_t>(m.inputRegister(362) << 16 | m.inputRegister(363));
}
int minutesToService(const GensetModel& m) {
    return static_cast<std::int16_t>(m.inputRegister(361));
}

TEST(GensetModel, RunningTimeCountsWholeMinutesOnlyWhileRunning) {
    GensetModel model(GensetConfig{.noise = false});
    model.advance(10min);
    EXPECT_EQ(runningMinutes(model), 120000u);
    EXPECT_EQ(minutesToService(model), 15000);

    model.writeHoldingRegister(402, 0x1231);
    model.advance(59s);
    EXPECT_EQ(runningMinutes(model), 120000u);
    model.advance(1s);
    EXPECT_EQ(runningMinutes(model), 120001u);
    EXPECT_EQ(minutesToService(model), 14999);
    model.advance(90min);
    EXPECT_EQ(runningMinutes(model), 120091u);
    EXPECT_EQ(minutesToService(model), 14909);

    model.writeHoldingRegister(402, 0x4562);
    model.advance(5h);
    EXPECT_EQ(runningMinutes(model), 120091u);
}

TEST(GensetModel, TimeToServiceGoesNegativeAndStopsAtTheSigned16BitEnd) {
    GensetModel model(GensetConfig{.noise = false, .running = true});
    model.advance(std::chrono::minutes(15060));
    EXPECT_EQ(minutesToService(model), -60);  // shown as -1 мч
    model.advance(std::chrono::minutes(40000));
    EXPECT_EQ(minutesToService(model), -32768);
    EXPECT_EQ(runningMinutes(model), 120000u + 55060u);
}

TEST(GensetModel, NoiseIsSmallAndRepeatsWithTheSeed) {
    GensetModel a(GensetConfig{.seed = 42, .running = true});
    GensetModel b(GensetConfig{.seed = 42, .running = true});
    GensetModel c(GensetConfig{.seed = 43, .running = true});
    bool differs = false;
    bool varies = false;
    std::uint16_t previous = 0;
    for (int i = 0; i < 200; ++i) {
        a.sampleNoise();
        b.sampleNoise();
        c.sampleNoise();
        EXPECT_EQ(a.statusBlock(), b.statusBlock());
        differs = differs || a.statusBlock() != c.statusBlock();
        varies = varies || (i > 0 && a.inputRegister(304) != previous);
        previous = a.inputRegister(304);
        for (int phase = 304; phase <= 306; ++phase)
            EXPECT_LE(std::abs(a.inputRegister(phase) - 2300), 15);  // 230 V +- 1.5 V
        EXPECT_LE(std::abs(a.inputRegister(318) - 5000), 5);         // 50 Hz +- 0.05 Hz
        EXPECT_LE(std::abs(a.inputRegister(302) - 2300), 10);
        EXPECT_LE(std::abs(a.inputRegister(339) - 276), 1);  // charging battery
    }
    EXPECT_TRUE(differs);
    EXPECT_TRUE(varies);
}

TEST(GensetModel, KeepsOnlyTheLatestCommands) {
    GensetModel model;
    for (std::size_t i = 0; i < GensetModel::kCommandsKept + 5; ++i)
        model.writeHoldingRegister(402, static_cast<std::uint16_t>(i));
    EXPECT_EQ(model.commandCount(), GensetModel::kCommandsKept + 5);
    ASSERT_EQ(model.recentCommands().size(), GensetModel::kCommandsKept);
    EXPECT_EQ(model.recentCommands().front(), 5);
}

}  // namespace
}  // namespace torvix::sim
