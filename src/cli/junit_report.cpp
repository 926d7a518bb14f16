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

bool writeJunit(QIODevice& out, const QString& scriptPath, const std::vector<Step>& steps,
                const std::vector<CheckResult>& checks) {
    const QString suite = QFileInfo(scriptPath).fileName();
    int tests = 0, failures = 0, skipped = 0;
    double total = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        if (!isCheck(steps[i])) continue;
        ++tests;
        failures += checks[i].state == CheckResult::Failed;
        skipped +=
            checks[i].state == CheckResult::NotRun || checks[i].state == CheckResult::Interrupted;
        total += checks[i].seconds;
    }
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    xml.writeStartElement(QStringLiteral("testsuite"));
    xml.writeAttribute(QStringLiteral("name"), suite);
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    xml.writeAttribute(QStringLiteral("time"), QString::number(total, 'f', 3));
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const CheckResult& check = checks[i];
        if (!isCheck(steps[i])) continue;
        xml.writeStartElement(QStringLiteral("testcase"));
        xml.writeAttribute(QStringLiteral("classname"), suite);
        xml.writeAttribute(QStringLiteral("name"),
                           QStringLiteral("%1: %2").arg(steps[i].line).arg(steps[i].text));
        xml.writeAttribute(QStringLiteral("time"), QString::number(check.seconds, 'f', 3));
        if (check.state == CheckResult::Failed) {
            xml.writeStartElement(QStringLiteral("failure"));
            xml.writeAttribute(QStringLiteral("message"), check.message);
            xml.writeEndElement();
        } else if (check.state != CheckResult::Passed) {
            xml.writeStartElement(QStringLiteral("skipped"));
            xml.writeAttribute(QStringLiteral("message"), check.state == CheckResult::Interrupted
                                                              ? check.message
                                                              : QStringLiteral("не выполнялось"));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
}

bool writeJunit(const QString& path, const QString& scriptPath, const std::vector<Step>& steps,
                const std::vector<CheckResult>& checks) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    return writeJunit(file, scriptPath, steps, checks) && file.commit();
}

}  // namespace torvix::cli
