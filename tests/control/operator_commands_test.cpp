#include "control/operator_commands.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "support/fake_serial_port.h"
#include "support/recording_sink.h"
#include "support/reference_frames.h"

namespace torvix {
namespace {

namespace reference = testing::reference;

using testing::Frame;

// A text box that, like the widget, reports a change only when the text differs.
class TextBoxDouble : public PriorityTextBox {
public:
    QString text = QStringLiteral("0");
    OperatorCommands* commands = nullptr;

    QString priorityText() const override { return text; }
    void setPriorityText(const QString& t) override {
        if (t == text) return;
        text = t;
        commands->textChanged();
    }
};

// The commands with everything they reach: queue, port, window sinks and the text box.
struct Rig {
    Rig() {
        port.open = true;
        box.commands = &commands;
    }

    // The frame the next tick sends: the oldest request still unanswered.
    Frame sentOnNextTick() {
        port.written.clear();
        presenter.show(modbus.pollTick());
        return port.written.empty() ? Frame{} : port.written.back();
    }
    void type(const QString& text) {
        box.text = text;
        commands.textChanged();
    }
    Rgb boxColour() const { return sink.backgrounds.at({"txt_prior_sec", -1}); }

    testing::FakeSerialPort port;
    testing::RecordingSink sink;
    Modbus modbus{port, sink};
    TickPresenter presenter{modbus, sink, sink};
    TextBoxDouble box;
    OperatorCommands commands{modbus, sink, sink, box};
};

class Commands : public ::testing::Test, protected Rig {};

// Frames with slave address 7; the CRCs are pymodbus's computeCRC of the bytes before them.
struct ModeCase {
    int index;
    int signedCode;  // as the command table lists it
    Frame frame;
};

const ModeCase kModeCases[] = {
    {0, 4657, reference::kStart},           {1, 17762, reference::kStop},
    {2, 30867, reference::kAcknowledge},    {3, -21564, reference::kLoadToggle},
    {4, -21556, reference::kSectionToggle}, {5, -21744, reference::kAutostartToggle},
    {6, 3012, reference::kLoadOff},         {7, 23492, reference::kLoadOn},
    {8, 3020, reference::kSectionOff},      {9, 23500, reference::kSectionOn},
    {10, 2832, reference::kAutostartOff},   {11, 23312, reference::kAutostartOn},
};

TEST_F(Commands, EachModeButtonSendsItsCodeToRegister402) {
    for (const auto& c : kModeCases) {
        SCOPED_TRACE(c.index);
        commands.modeClicked(c.index);
        const Frame sent = sentOnNextTick();
        EXPECT_EQ(sent, c.frame);
        // The code bytes are the 16-bit two's complement of the signed code.
        ASSERT_EQ(sent.size(), 8u);
        EXPECT_EQ(static_cast<std::int16_t>(sent[4] << 8 | sent[5]), c.signedCode);
        port.feed(sent);  // the controller echoes a write-single reply
    }
    EXPECT_TRUE(sink.backgrounds.empty());  // mode buttons never colour the text box
    EXPECT_FALSE(commands::modeButton(12));
    EXPECT_FALSE(commands::numberButton(3));
}

TEST_F(Commands, ClicksGoOutInClickOrderEachAfterTheOneBeforeIsAnswered) {
    commands.modeClicked(0);
    commands.modeClicked(1);
    commands.modeClicked(0);
    EXPECT_EQ(sentOnNextTick(), kModeCases[0].frame);
    EXPECT_EQ(sentOnNextTick(), kModeCases[0].frame);  // unanswered: sent again
    port.feed(kModeCases[0].frame);
    EXPECT_EQ(sentOnNextTick(), kModeCases[1].frame);
    port.feed(kModeCases[1].frame);
    EXPECT_EQ(sentOnNextTick(), kModeCases[0].frame);
    port.feed(kModeCases[0].frame);
    // Then the polls resume with the status read.
    EXPECT_EQ(sentOnNextTick(), reference::kStatusRead);
}

struct NumberCase {
    const char16_t* typed;
    int kind;
    Frame frame;            // empty: rejected
    const char16_t* after;  // the text once the click is done
};

const NumberCase kNumberCases[] = {
    {u"3", 0, reference::kPriority3, u"3"},
    {u"0", 0, reference::kPriority0, u"0"},
    {u"7", 2, reference::kNeighbourSection7, u"7"},
    {u" 5", 1, reference::kSectionNumber5, u"5"},
    {u"6.5", 0, reference::kPriority6, u"6"},
    {u"2.5", 0, reference::kPriority2, u"2"},
    {u"абв", 1, reference::kSectionNumber0, u"0"},
    {u"   ", 1, reference::kSectionNumber0, u"0"},
    {u"8", 0, {}, u"8"},
    {u"-1", 1, {}, u"-1"},
    {u"", 2, {}, u""},
    {u"7.5", 0, {}, u"7.5"},
    {u"99999999999", 0, {}, u"99999999999"},
};

TEST(NumberCommands, SendTheTypedNumberOrTurnTheBoxRed) {
    for (const auto& c : kNumberCases) {
        const QString typed = QString::fromUtf16(c.typed);
        SCOPED_TRACE(typed.toStdString());
        Rig rig;
        rig.type(typed);
        EXPECT_EQ(rig.boxColour(), kWhite);

        rig.commands.numberClicked(c.kind);

        EXPECT_EQ(rig.box.text, QString::fromUtf16(c.after));
        if (c.frame.empty()) {
            EXPECT_EQ(rig.boxColour(), kRed);
            EXPECT_TRUE(rig.modbus.queue().isEmpty());
            continue;
        }
        EXPECT_EQ(rig.boxColour(), kWhite);
        EXPECT_EQ(rig.sentOnNextTick(), c.frame);
        // The controller's write-multiple reply turns the box green.
        rig.port.feed(reference::kNumberWriteReply);
        rig.presenter.show(rig.modbus.pollTick());
        EXPECT_EQ(rig.boxColour(), kGreen);
    }
}

TEST_F(Commands, TypingAfterARejectionTurnsTheBoxWhiteAgain) {
    type(QStringLiteral("9"));
    commands.numberClicked(0);
    EXPECT_EQ(boxColour(), kRed);
    commands.numberClicked(0);  // the same text again: red again, nothing queued
    EXPECT_EQ(boxColour(), kRed);
    EXPECT_TRUE(modbus.queue().isEmpty());
    type(QStringLiteral("4"));
    EXPECT_EQ(boxColour(), kWhite);
}

TEST_F(Commands, AFullQueueRefusesCommandsAndSaysSo) {
    port.open = false;  // nothing is answered, so nothing leaves the queue
    const std::uint8_t filler[] = {6, 0x01, 0x90, 0x00, 0x00};
    while (modbus.enqueue(filler)) {
    }
    const int pending = modbus.queue().pendingCount();
    ASSERT_EQ(pending, RequestQueue::kCapacity);

    commands.modeClicked(0);
    EXPECT_EQ(sink.statusText(), status_text::kQueueFull);
    EXPECT_EQ(modbus.queue().pendingCount(), pending);

    type(QStringLiteral(" 3"));
    sink.statusHistory.clear();
    commands.numberClicked(0);
    EXPECT_EQ(sink.statusText(), status_text::kQueueFull);
    EXPECT_EQ(boxColour(), kRed);
    EXPECT_EQ(box.text, QStringLiteral(" 3"));  // left as typed: it was not sent
    EXPECT_EQ(modbus.queue().pendingCount(), pending);
}

TEST(TypedNumber, ReadsLikeTheOperatorsExpect) {
    using commands::readTypedNumber;
    const struct {
        const char16_t* text;
        std::optional<std::int32_t> number;
    } cases[] = {
        {u"", -1},
        {u"0", 0},
        {u"7", 7},
        {u"2.5", 2},
        {u"3.5", 4},
        {u"-0.4", 0},
        {u"-0.5", 0},
        {u"-0.6", -1},
        {u"0.51", 1},
        {u"2.50001", 3},
        {u" 5", 5},
        {u"\t+6", 6},
        {u"1 2", 12},
        {u"5abc", 5},
        {u"5.", 5},
        {u".5", 0},
        {u"1.5.5", 2},
        {u"1e3", 1},
        {u"-", 0},
        {u"x7", 0},
        {u"٣", 0},
        {u"2147483647", 2147483647},
        {u"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {u"2147483648", std::nullopt},
        {u"2147483647.5", std::nullopt},
        {u"-2147483649", std::nullopt},
        {u"123456789012345678901234567890", std::nullopt},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        EXPECT_EQ(readTypedNumber(text), c.number) << text.toStdString();
    }
}

}  // namespace
}  // namespace torvix
