#include "cli/command_words.h"

#include <gtest/gtest.h>

#include "support/qt_printers.h"

namespace torvix::cli {
namespace {

using requests::Entry;
using requests::kHighestNumber;
using requests::Kind;
using requests::kLowestNumber;
using requests::kTable;
using requests::Request;
using requests::words;

TEST(CommandWords, EveryCommandReadsBackAsTheSameRequest) {
    int commands = 0;
    for (const Entry& e : kTable) {
        for (int argument = kLowestNumber; argument <= (e.takesArgument ? kHighestNumber : 0);
             ++argument) {
            const Request request{e.kind, argument};
            const auto parsed = parseCommandWords(words(request).split(u' '));
            if (!e.operatorCommand) {
                EXPECT_TRUE(std::holds_alternative<QString>(parsed))
                    << words(request).toStdString();
                continue;
            }
            ++commands;
            ASSERT_TRUE(std::holds_alternative<Request>(parsed))
                << std::get<QString>(parsed).toStdString();
            EXPECT_EQ(std::get<Request>(parsed), request);
        }
    }
    EXPECT_EQ(commands, 12 + 3 * 8);
}

TEST(CommandWords, BadWordsGiveTheMessagesTheCliPrints) {
    const std::pair<QStringList, const char16_t*> cases[] = {
        {{}, u"send: не указана команда"},
        {{"load", "up"}, u"send: неизвестная команда \"load up\""},
        {{"load on"}, u"send: неизвестная команда \"load on\""},
        {{"start", "now"}, u"send: неизвестная команда \"start now\""},
        {{"read-status"}, u"send: неизвестная команда \"read-status\""},
        {{"priority"}, u"send priority: нужно одно число от 0 до 7"},
        {{"neighbour", "8"}, u"send neighbour: число \"8\" вне диапазона 0..7"},
        {{"section-number", "abc"}, u"send section-number: число \"abc\" вне диапазона 0..7"},
    };
    for (const auto& [words, message] : cases) {
        const auto parsed = parseCommandWords(words);
        ASSERT_TRUE(std::holds_alternative<QString>(parsed)) << words.join(u' ').toStdString();
        EXPECT_EQ(std::get<QString>(parsed), QString::fromUtf16(message));
    }
    EXPECT_EQ(std::get<Request>(parseCommandWords({"priority", " 2.5"})),
              (Request{Kind::Priority, 2}));
    // Rounded half to even, as the window rounds what the operator types.
    EXPECT_EQ(std::get<Request>(parseCommandWords({"section-number", "3.5"})),
              (Request{Kind::SectionNumber, 4}));
    EXPECT_EQ(std::get<Request>(parseCommandWords({"neighbour", "-0.4"})),
              (Request{Kind::NeighbourSection, 0}));
}

}  // namespace
}  // namespace torvix::cli
