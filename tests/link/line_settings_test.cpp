#include "protocol/line_settings.h"

#include <gtest/gtest.h>

#include "link/platform_serial_port.h"

namespace torvix {
namespace {

using P = LineSettings::Parity;
using S = LineSettings::StopBits;

struct Accepted {
    const char16_t* text;
    LineSettings expected;
};

TEST(LineSettings, AcceptedTexts) {
    const Accepted cases[] = {
        {u"115200,e,8,1", {115200, P::Even, 8, S::One}},
        {u"9600,n,8,1", {9600, P::None, 8, S::One}},
        {u"19200,O,7,2", {19200, P::Odd, 7, S::Two}},
        {u"1200,m,5,1.5", {1200, P::Mark, 5, S::OneAndHalf}},
        {u"2400,S,6,1", {2400, P::Space, 6, S::One}},
        {u"250000,N,8,2", {250000, P::None, 8, S::Two}},
        {u"4000000,e,8,1", {4000000, P::Even, 8, S::One}},
        {u"1,n,8,1", {1, P::None, 8, S::One}},
        {u" 57600 , E ,\t8\t, 1 ", {57600, P::Even, 8, S::One}},
    };
    for (const Accepted& c : cases) {
        const QString text = QString::fromUtf16(c.text);
        const auto parsed = LineSettings::parse(text);
        ASSERT_TRUE(parsed.has_value()) << text.toStdString();
        EXPECT_EQ(*parsed, c.expected) << text.toStdString();
        // The canonical text reads back to the same settings.
        EXPECT_EQ(LineSettings::parse(parsed->toText()), parsed) << text.toStdString();
    }
}

TEST(LineSettings, RefusedTexts) {
    const char16_t* cases[] = {
        u"",
        u" ",
        u"115200,e,8",
        u"115200,e,8,1,1",
        u"0,n,8,1",
        u"-9600,n,8,1",
        u"+9600,n,8,1",
        u"4000001,n,8,1",
        u"99999999999,n,8,1",
        u"9600.0,n,8,1",
        u"96 00,n,8,1",
        u"abc,n,8,1",
        u"0x2580,n,8,1",
        u",n,8,1",
        u"９６００,n,8,1",
        u"9600,x,8,1",
        u"9600,ev,8,1",
        u"9600,,8,1",
        u"9600,n,4,1",
        u"9600,n,9,1",
        u"9600,n,8,0",
        u"9600,n,8,3",
        u"9600,n,8,1.0",
        u"9600,n,8,1,5",
        u"9600;n;8;1",
        u"9600,n,8,1\n",
        u"9600,n,8,1.",
        u"9600 n 8 1",
    };
    for (const char16_t* c : cases) {
        const QString text = QString::fromUtf16(c);
        EXPECT_FALSE(LineSettings::parse(text).has_value()) << text.toStdString();
    }
}

TEST(LineSettings, RefusedTextLeavesTheLastAcceptedOneOnTheClosedPort) {
    PlatformSerialPort port;
    EXPECT_EQ(port.lineSettings().toText(), "9600,n,8,1");
    ASSERT_TRUE(setLineSettingsText(port, u"115200,E,8,1"));
    for (const QString& bad :
         {QString(), QStringLiteral("115200,e,8"), QStringLiteral("0,n,8,1")}) {
        const PortStatus status = setLineSettingsText(port, bad);
        ASSERT_FALSE(status) << bad.toStdString();
        EXPECT_EQ(status.error().number(), 380);
        EXPECT_EQ(port.lineSettings().toText(), "115200,e,8,1");
    }
}

}  // namespace
}  // namespace torvix
