#include "cli/junit_report.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QXmlStreamWriter>

namespace torvix::cli {

using namespace script;

bool isCheck(const Step& step) {
    return std::holds_alternative<Until>(step.action) ||
           std::holds_alternative<Expect>(step.action);
}

bool writeJunit(QIODevice& out, const QString& suite, const std::vector<JunitCase>& cases) {
    int failures = 0, skipped = 0;
    double total = 0;
    for (const JunitCase& c : cases) {
        failures += c.result.state == CheckResult::Failed;
        skipped +=
            c.result.state == CheckResult::NotRun || c.result.state == CheckResult::Interrupted;
        total += c.result.seconds;
    }
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), suite);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(cases.size()));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    xml.writeAttribute(QStringLiteral("time"), QString::number(total, 'f', 3));
    for (const JunitCase& c : cases) {
        const CheckResult& check = c.result;
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), suite);
        xml.writeAttribute(QStringLiteral("name"), c.name);
        xml.writeAttribute(QStringLiteral("time"), QString::number(check.seconds, 'f', 3));
        if (check.state == CheckResult::Failed) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), check.message);
            xml.writeEndElement();
        } else if (check.state != CheckResult::Passed) {
            xml.writeStartElement(QStringLiteral("skipped"));
            xml.writeAttribute(QStringLiteral("message"), check.message.isEmpty()
                                                              ? QStringLiteral("не выполнялось")
                                                              : check.message);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
}

bool writeJunit(const QString& path, const QString& suite, const std::vector<JunitCase>& cases) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    return writeJunit(file, suite, cases) && file.commit();
}

namespace {

std::vector<JunitCase> casesOf(const std::vector<Step>& steps,
                               const std::vector<CheckResult>& checks) {
    std::vector<JunitCase> cases;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (!isCheck(steps[i])) continue;
        CheckResult result = checks[i];
        // A step not reached has no message of its own; an interrupted one says why.
        if (result.state == CheckResult::NotRun) result.message.clear();
        cases.push_back({QStringLiteral("%1: %2").arg(steps[i].line).arg(steps[i].text), result});
    }
    return cases;
}

}  // namespace

bool writeJunit(QIODevice& out, const QString& scriptPath, const std::vector<Step>& steps,
                const std::vector<CheckResult>& checks) {
    return writeJunit(out, QFileInfo(scriptPath).fileName(), casesOf(steps, checks));
}

bool writeJunit(const QString& path, const QString& scriptPath, const std::vector<Step>& steps,
                const std::vector<CheckResult>& checks) {
    return writeJunit(path, QFileInfo(scriptPath).fileName(), casesOf(steps, checks));
}

}  // namespace torvix::cli
