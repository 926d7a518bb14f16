#include "protocol/request_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/qt_printers.h"
#include "support/reference_frames.h"

namespace torvix::requests {
namespace {

namespace reference = testing::reference;

using testing::Frame;

Frame framed(std::span<const std::uint8_t> pdu, std::uint8_t address = 7) {
    Frame frame{address};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    return testing::withCrc(frame);
}

struct Row {
    Request request;
    Frame frame;  // address 7, from pymodbus 3.0's ModbusRtuFramer.buildPacket
    const char16_t* name;
    const char* words;
};

// Every kind once, with the frame an independent Modbus stack builds for it.
const std::vector<Row>& rows() {
    static const std::vector<Row> kRows = {
        {{Kind::StatusRead}, reference::kStatusRead, u"чтение состояния", "read-status"},
        {{Kind::CounterWrite, 1},
         reference::kFirstCounterWrite,
         u"запись кода транзакции",
         "write-counter 1"},
        {{Kind::Start}, reference::kStart, u"СТАРТ", "start"},
        {{Kind::Stop}, reference::kStop, u"СТОП", "stop"},
        {{Kind::Acknowledge}, reference::kAcknowledge, u"КВИТ", "ack"},
        {{Kind::LoadToggle}, reference::kLoadToggle, u"Нагрузка 1/0", "load toggle"},
        {{Kind::SectionToggle}, reference::kSectionToggle, u"Секция 1/0", "section toggle"},
        {{Kind::AutostartToggle},
         reference::kAutostartToggle,
         u"Автозапуск 1/0",
         "autostart toggle"},
        {{Kind::LoadOff}, reference::kLoadOff, u"Нагрузка 0", "load off"},
        {{Kind::LoadOn}, reference::kLoadOn, u"Нагрузка 1", "load on"},
        {{Kind::SectionOff}, reference::kSectionOff, u"Секция 0", "section off"},
        {{Kind::SectionOn}, reference::kSectionOn, u"Секция 1", "section on"},
        {{Kind::AutostartOff}, reference::kAutostartOff, u"Автозапуск 0", "autostart off"},
        {{Kind::AutostartOn}, reference::kAutostartOn, u"Автозапуск 1", "autostart on"},
        {{Kind::Priority, 5}, reference::kPriority5, u"Приоритет = 5", "priority 5"},
        {{Kind::SectionNumber, 5}, reference::kSectionNumber5, u"Секция = 5", "section-number 5"},
        {{Kind::NeighbourSection, 5},
         reference::kNeighbourSection5,
         u"Соседняя Секция = 5",
         "neighbour 5"},
    };
    return kRows;
}

TEST(RequestTable, EveryKindBuildsTheFrameOfAnIndependentStackAndIsKnownByIt) {
    ASSERT_EQ(rows().size(), kTable.size());
    for (const Row& row : rows()) {
        const auto pdu = requests::pdu(row.request);
        ASSERT_TRUE(pdu) << row.words;
        EXPECT_EQ(framed(*pdu), row.frame) << row.words;
        EXPECT_EQ(identify(row.frame), row.request) << row.words;
        EXPECT_EQ(entryOf(row.frame), &entry(row.request.kind)) << row.words;
        EXPECT_EQ(name(row.frame), QString::fromUtf16(row.name)) << row.words;
        EXPECT_EQ(words(row.frame), QString::fromLatin1(row.words));
    }
    EXPECT_EQ(framed(statusReadPdu()), rows()[0].frame);
    EXPECT_EQ(framed(counterWritePdu(1)), rows()[1].frame);
}

// Replies from pymodbus 3.0: ReadInputRegistersResponse of 64 registers, the write responses
// and ExceptionResponse, each framed for address 7.
TEST(RequestTable, ReplyLengthsAreThoseOfTheStandardReplies) {
    for (const Row& row : rows()) {
        const int expected = row.request.kind == Kind::StatusRead ? 133 : 8;
        EXPECT_EQ(normalReplyBytes(row.frame), expected) << row.words;
        EXPECT_EQ(entry(row.request.kind).replyBytes, expected);
    }
    EXPECT_EQ(kExceptionReplyBytes, 5);

    const Frame read = rows()[0].frame;
    const Frame start = rows()[2].frame;
    const Frame& exception = reference::kIllegalAddress6;
    EXPECT_FALSE(replyComplete(read, Frame(132, 0x04)));
    EXPECT_TRUE(replyComplete(read, Frame(133, 0x04)));
    EXPECT_FALSE(replyComplete(start, std::span(start).first(7)));
    EXPECT_TRUE(replyComplete(start, start));  // the echo
    EXPECT_TRUE(replyComplete(start, exception));
    EXPECT_FALSE(replyComplete(read, std::span(exception).first(4)));
    EXPECT_FALSE(replyComplete(reference::kHoldingRead, exception));
}

TEST(RequestTable, FramesOfNoKnownRequestAreNamedByTheirFunction) {
    const Frame other[] = {
        reference::kHoldingRead,                                     // holding registers
        testing::withCrc({0x07, 0x04, 0x01, 0x2C, 0x00, 0x01}),      // not the whole block
        testing::withCrc({0x07, 0x06, 0x01, 0x92, 0x12, 0x34}),      // no command code
        reference::kWrite401Alone,                                   // register 401 alone
        testing::withCrc({0x07, 0x10, 0x01, 0x91, 0x00, 0x02, 0x04,  // no number command
                          0x55, 0x05, 0xEE, 0x56}),
    };
    const int functions[] = {3, 4, 6, 6, 16};
    for (std::size_t i = 0; i < std::size(other); ++i) {
        EXPECT_FALSE(identify(other[i])) << i;
        EXPECT_FALSE(normalReplyBytes(other[i])) << i;
        EXPECT_TRUE(words(other[i]).isEmpty()) << i;
        EXPECT_EQ(name(other[i]), QStringLiteral("функция %1").arg(functions[i]));
    }
    EXPECT_EQ(name(Frame{0x07}), QStringLiteral("пустой запрос"));
}

TEST(RequestTable, ArgumentsOutsideTheirRangeBuildNoRequest) {
    EXPECT_FALSE(pdu({Kind::Priority, 8}));
    EXPECT_FALSE(pdu({Kind::CounterWrite, 65536}));
}

}  // namespace
}  // namespace torvix::requests
