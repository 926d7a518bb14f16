// The JUnit writer on its own: the XML read back with QXmlStreamReader.

#include "cli/junit_report.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <map>

#include "support/qt_printers.h"

namespace torvix::cli {
namespace {

struct Element {
    QString name;
    std::map<QString, QString> attributes;
    std::vector<Element> children;
};

// The document as a tree of elements; empty on an XML error.
std::optional<Element> readXml(const QByteArray& bytes) {
    QXmlStreamReader xml(bytes);
    Element root;
    std::vector<Element*> open{&root};
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            Element element{xml.name().toString(), {}, {}};
            for (const auto& attribute : xml.attributes())
                element.attributes[attribute.name().toString()] = attribute.value().toString();
            open.back()->children.push_back(element);
            open.push_back(&open.back()->children.back());
        } else if (xml.isEndElement()) {
            open.pop_back();
        }
    }
    if (xml.hasError()) return std::nullopt;
    return root;
}

const script::Parsed kScript =
    script::parse(QStringLiteral("send start\n"
                                 "until gen_f_hz between 49 and 51 within 30s\n"
                                 "mark \"m\"\n"
                                 "expect gen_u_a_v > 100\n"
                                 "wait 1s\n"
                                 "expect lamp_alarm == 0\n"
                                 "until gen_f_hz < 1 within 5s\n"));

QByteArray written(const std::vector<CheckResult>& checks, const QString& script) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(writeJunit(buffer, script, kScript.steps, checks));
    return buffer.data();
}

TEST(JunitReport, OneCaseForEachUntilAndExpectWithItsOutcomeAndTime) {
    ASSERT_TRUE(kScript.errors.empty());
    ASSERT_EQ(kScript.steps.size(), 7u);
    std::vector<CheckResult> checks(7);
    checks[0] = {CheckResult::NotRun, {}, 0.2};  // a send: no test case whatever it holds
    checks[1] = {CheckResult::Passed, {}, 1.25};
    checks[3] = {CheckResult::Failed, QStringLiteral("не выполнено (gen_u_a_v = 0)"), 0.0004};
    checks[5] = {CheckResult::Interrupted, QStringLiteral("прервано (Ctrl+C)"), 2};
    // checks[6] did not run.
    const auto document = readXml(written(checks, QStringLiteral("/tmp/tests/seq.tvx")));
    ASSERT_TRUE(document);
    ASSERT_EQ(document->children.size(), 1u);
    const Element& suites = document->children[0];
    EXPECT_EQ(suites.name, QStringLiteral("testsuites"));
    ASSERT_EQ(suites.children.size(), 1u);
    const Element& suite = suites.children[0];
    EXPECT_EQ(suite.name, QStringLiteral("testsuite"));
    const std::map<QString, QString> suiteAttributes{{"name", "seq.tvx"}, {"tests", "4"},
                                                     {"failures", "1"},   {"errors", "0"},
                                                     {"skipped", "2"},    {"time", "3.250"}};
    EXPECT_EQ(suite.attributes, suiteAttributes);

    ASSERT_EQ(suite.children.size(), 4u);
    const char* names[] = {"2: until gen_f_hz between 49 and 51 within 30s",
                           "4: expect gen_u_a_v > 100", "6: expect lamp_alarm == 0",
                           "7: until gen_f_hz < 1 within 5s"};
    const char* times[] = {"1.250", "0.000", "2.000", "0.000"};
    for (std::size_t i = 0; i < 4; ++i) {
        const Element& testCase = suite.children[i];
        EXPECT_EQ(testCase.name, QStringLiteral("testcase"));
        EXPECT_EQ(testCase.attributes.at("classname"), QStringLiteral("seq.tvx"));
        EXPECT_EQ(testCase.attributes.at("name"), QString::fromUtf8(names[i]));
        EXPECT_EQ(testCase.attributes.at("time"), QLatin1String(times[i]));
    }
    EXPECT_TRUE(suite.children[0].children.empty());
    ASSERT_EQ(suite.children[1].children.size(), 1u);
    EXPECT_EQ(suite.children[1].children[0].name, QStringLiteral("failure"));
    EXPECT_EQ(suite.children[1].children[0].attributes.at("message"),
              QStringLiteral("не выполнено (gen_u_a_v = 0)"));
    ASSERT_EQ(suite.children[2].children.size(), 1u);
    EXPECT_EQ(suite.children[2].children[0].name, QStringLiteral("skipped"));
    EXPECT_EQ(suite.children[2].children[0].attributes.at("message"),
              QStringLiteral("прервано (Ctrl+C)"));
    ASSERT_EQ(suite.children[3].children.size(), 1u);
    EXPECT_EQ(suite.children[3].children[0].name, QStringLiteral("skipped"));
    EXPECT_EQ(suite.children[3].children[0].attributes.at("message"),
              QStringLiteral("не выполнялось"));
}

TEST(JunitReport, AScriptWithoutChecksIsAnEmptySuite) {
    const script::Parsed sends = script::parse(QStringLiteral("send start\nwait 1s\n"));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(
        writeJunit(buffer, QStringLiteral("a.tvx"), sends.steps, std::vector<CheckResult>(2)));
    const auto document = readXml(buffer.data());
    ASSERT_TRUE(document);
    const Element& suite = document->children.at(0).children.at(0);
    EXPECT_EQ(suite.attributes.at("tests"), QStringLiteral("0"));
    EXPECT_EQ(suite.attributes.at("time"), QStringLiteral("0.000"));
    EXPECT_TRUE(suite.children.empty());
}

TEST(JunitReport, TheFileIsReplacedWholeOrNotWritten) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("j.xml"));
    std::vector<CheckResult> checks(7);
    checks[1] = {CheckResult::Passed, {}, 1};
    ASSERT_TRUE(writeJunit(path, QStringLiteral("s.tvx"), kScript.steps, checks));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto document = readXml(file.readAll());
    ASSERT_TRUE(document);
    EXPECT_EQ(document->children.at(0).children.at(0).attributes.at("name"),
              QStringLiteral("s.tvx"));
    EXPECT_FALSE(writeJunit(dir.filePath(QStringLiteral("no/such/dir/j.xml")),
                            QStringLiteral("s.tvx"), kScript.steps, checks));
}

}  // namespace
}  // namespace torvix::cli
