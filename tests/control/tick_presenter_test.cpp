#include "control/tick_presenter.h"

#include <gtest/gtest.h>

#include "control/operator_requests.h"
#include "support/fake_serial_port.h"
#include "support/recording_sink.h"
#include "support/reference_frames.h"

namespace torvix {
namespace {

using namespace std::chrono_literals;
using testing::Frame;
using testing::StatusRegisters;
using testing::withCrc;

const QLocale kRussian(QLocale::Russian, QLocale::Russia);

// A status block with a distinct, hand-checked value in every shown register.
StatusRegisters knownBlock() {
    StatusRegisters r{};
    r[0] = 0x020E;  // protocol 2.14
    r[1] = 0x0305;  // software 3.05
    r[2] = 4001;    // common bus 400.1 V
    r[3] = 3999;    // section 399.9 V
    r[4] = 0x0906;  // phase A 231 V
    r[5] = 2305;    // 230.5
    r[6] = 0;
    r[7] = 0x0005;   // 1 A
    r[8] = 1234;     // 246.8 A
    r[9] = 65535;    // 13107 A
    r[10] = 0xFFFF;  // active power -10 kW
    r[11] = 0xFF9C;
    r[12] = 0x8000;  // full power 214748364.8
    r[13] = 0x0000;
    r[14] = 0x0000;  // reactive power 6553.5
    r[15] = 0xFFFF;
    r[16] = 4999;    // 49.99 Hz
    r[17] = 5000;    // 50 Hz
    r[18] = 0x1388;  // 50 Hz
    r[29] = 0x0000;  // last cascade 000000FF
    r[30] = 0x00FF;
    r[35] = 0x1234;  // saved cascade 12345678
    r[36] = 0x5678;
    r[39] = 0xFF38;  // battery -20 V
    r[40] = 0x000F;
    r[41] = 0x1A2B;
    for (int i = 0; i < 9; ++i) r[42 + i] = static_cast<std::uint16_t>(0x1111 * i);
    r[43] = 0x1234;
    r[51] = 0x8000;  // current cascade 80000001
    r[52] = 0x0001;
    r[55] = 0x00A5;
    r[56] = 0x0203;           // section 2, priority 3
    r[58] = 0x0100 | 0xFC00;  // only "Авария"; bits 10..15 ignored
    r[60] = 0xFFF8 | 0x0005;  // "Старт" and "Сирена"
    r[61] = 0xFFC4;           // -60 minutes
    r[62] = 0xFFFF;           // 4294967295 minutes
    r[63] = 0xFFFF;
    return r;
}

// The link and the presenter as the window runs them, with a clock the test moves.
class Presenter : public ::testing::Test {
protected:
    Presenter() {
        port.open = true;
        tick();  // the status read is out
    }

    void tick(const Frame& reply = {}) {
        port.feed(reply);
        presenter.show(modbus.pollTick());
    }
    const Frame& lastSent() const { return port.written.back(); }
    QString status() const { return sink.statusText(); }

    testing::FakeSerialPort port;
    testing::RecordingSink sink;
    Modbus modbus{port, sink};
    std::chrono::milliseconds now{1000};
    TickPresenter presenter{modbus, sink, sink, kRussian, [this] { return now; }};
};

TEST_F(Presenter, KnownStatusBlockShowsEveryCaptionAndLamp) {
    tick(testing::statusReply(knownBlock()));
    const std::pair<const char*, const char*> expected[] = {
        {"lbl_pr_ver", "2 .14 "},   {"lbl_sw_ver", "3 .05 "},
        {"lbl_section", "2 "},      {"lbl_priority", "3 "},
        {"lbl_phAU", "231 "},       {"lbl_phBU", "230,5 "},
        {"lbl_phCU", "0 "},         {"lbl_phAI", "1 "},
        {"lbl_phBI", "246,8 "},     {"lbl_phCI", "13107 "},
        {"lbl_fr", "50 "},          {"lbl_netAU", "400,1 "},
        {"lbl_netfr", "49,99 "},    {"lbl_secAU", "399,9 "},
        {"lbl_secfr", "50 "},       {"lbl_ap", "-10 "},
        {"lbl_fp", "214748364,8 "}, {"lbl_rp", "6553,5 "},
        {"lbl_service", "-1 мч"},   {"lbl_motomin", "71582788 мч"},
        {"lbl_acc", "-20 "},        {"lbl_dbg", "EDS 00A5"},
        {"lbl_intf", "INTF 1A2B"},  {"lbl_adc_b_d", "000F"},
    };
    for (const auto& [name, text] : expected)
        EXPECT_EQ(sink.caption(name), QString::fromUtf8(text)) << name;

    const char* faults[] = {"0000", "1234", "2222", "3333",     "4444",     "5555",
                            "6666", "7777", "8888", "000000FF", "12345678", "80000001"};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(sink.caption("lbl_faults", i), QString::fromUtf8(faults[i])) << i;

    for (int i = 0; i < 10; ++i) EXPECT_EQ(sink.lamp("lbl_led", i), i == 8) << "led " << i;
    EXPECT_TRUE(sink.lamp("lbl_relay", 0));
    EXPECT_FALSE(sink.lamp("lbl_relay", 1));
    EXPECT_TRUE(sink.lamp("lbl_relay", 2));
    EXPECT_FALSE(sink.lamps.contains({"lbl_led", 10}));
    EXPECT_FALSE(sink.lamps.contains({"lbl_relay", 3}));
    EXPECT_TRUE(sink.backgrounds.empty());
}

TEST_F(Presenter, LampWordsLightExactlyTheirBits) {
    StatusRegisters r{};
    r[58] = 0x03FF;
    r[60] = 0xFFF8;
    tick(testing::statusReply(r));
    for (int i = 0; i < 10; ++i) EXPECT_TRUE(sink.lamp("lbl_led", i));
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(sink.lamp("lbl_relay", i));
    r[58] = 0;
    tick(testing::statusReply(r));
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(sink.lamp("lbl_led", i));
}

TEST_F(Presenter, WriteMultipleReplyOnlyTurnsThePriorityBoxGreen) {
    tick(testing::reference::kNumberWriteReply);
    EXPECT_EQ(sink.backgrounds.at({"txt_prior_sec", -1}), kGreen);
    EXPECT_FALSE(sink.hasCaption("lbl_phAU"));
    EXPECT_TRUE(sink.lamps.empty());
}

TEST_F(Presenter, EchoesAndExceptionRepliesChangeNoCaptionOrLamp) {
    tick(testing::reference::kStart);
    tick(testing::reference::kIllegalAddress4);
    tick(withCrc({0x07, 0x90, 0x01}));
    EXPECT_EQ(sink.captions.size(), 1u);  // the transaction counter alone
    EXPECT_TRUE(sink.hasCaption("lbl_tr_id"));
    EXPECT_TRUE(sink.lamps.empty());
    EXPECT_TRUE(sink.backgrounds.empty());
}

// A read reply that is not a whole 64-register block would show stale bytes as live values.
TEST_F(Presenter, ReadReplyThatIsNotAWholeStatusBlockIsNotShown) {
    tick(testing::withCrc({0x07, 0x04, 0x02, 0x09, 0x06}));
    Frame wrongCount = testing::statusReply(knownBlock());
    wrongCount[2] = 126;
    tick(wrongCount);
    Frame longer = testing::statusReply(knownBlock());
    longer.insert(longer.end() - 2, {0x00, 0x00});
    tick(longer);
    EXPECT_FALSE(sink.hasCaption("lbl_phAU"));
    EXPECT_TRUE(sink.lamps.empty());
}

TEST_F(Presenter, StatusLineFollowsTheLinkAndTheCounterCaptionItsWrites) {
    EXPECT_EQ(status(), status_text::kNoAnswer);
    EXPECT_FALSE(sink.hasCaption("lbl_tr_id"));
    tick(testing::statusReply({}));
    EXPECT_EQ(status(), status_text::kLinkUp);
    EXPECT_EQ(sink.caption("lbl_tr_id"), QStringLiteral("1"));
    Frame corrupt = lastSent();
    corrupt.back() ^= 0x01;
    tick(corrupt);
    EXPECT_EQ(status(), status_text::kCrcMismatch);
    tick();
    EXPECT_EQ(status(), status_text::kNoAnswer);
    EXPECT_EQ(sink.caption("lbl_tr_id"), QStringLiteral("1"));  // repeated, not counted again
    tick(lastSent());
    tick(testing::statusReply({}));
    EXPECT_EQ(sink.caption("lbl_tr_id"), QStringLiteral("2"));
}

TEST_F(Presenter, FullQueueStaysVisibleUntilARequestIsAnswered) {
    while (modbus.enqueue(Frame{0x06, 0x01, 0x92, 0x12, 0x31})) {
    }
    tick();
    EXPECT_EQ(status(), status_text::kNoAnswer + QStringLiteral(". ") + status_text::kQueueFull);
    tick(testing::statusReply({}));  // one answered: there is room again
    EXPECT_EQ(status(), status_text::kLinkUp);
}

// Every tick rewrites the status line; a refusal must stay readable for three seconds.
TEST_F(Presenter, RefusedCommandIsNamedWithItsExceptionForThreeSeconds) {
    ASSERT_TRUE(modbus.enqueue(commands::modeRequest(0).value()));
    tick(testing::statusReply({}));  // СТАРТ goes out
    tick(testing::reference::kIllegalAddress6);
    const QString refusal =
        QStringLiteral("Контроллер отклонил «СТАРТ»: исключение 2 (недопустимый адрес данных)");
    EXPECT_EQ(status(), status_text::kLinkUp + QStringLiteral(". ") + refusal);
    now += 2999ms;
    tick();
    EXPECT_EQ(status(), status_text::kNoAnswer + QStringLiteral(". ") + refusal);
    now += 1ms;
    tick();
    EXPECT_EQ(status(), status_text::kNoAnswer);
}

TEST_F(Presenter, BusyIsShownWhileRepeatingAndAcknowledgeCountsAsDone) {
    tick(testing::reference::kBusy4);
    EXPECT_EQ(status(), QStringLiteral("Контроллер Torvix занят: запрос будет повторён"));
    tick(withCrc({0x07, 0x84, 0x05}));
    EXPECT_EQ(status(), status_text::kLinkUp);
}

}  // namespace
}  // namespace torvix
