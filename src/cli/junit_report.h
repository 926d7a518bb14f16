#pragma once
// The JUnit reports: of `run`, one test case per `until` and `expect` of the script; of
// `conformance`, one per check.

#include <QIODevice>
#include <QString>
#include <vector>

#include "cli/script.h"

namespace torvix::cli {

// One `until` or `expect` as the JUnit report gives it.
struct CheckResult {
    enum State { NotRun, Passed, Failed, Interrupted } state = NotRun;
    QString message;
    double seconds = 0;
};

// One test case: its name and outcome.
struct JunitCase {
    QString name;
    CheckResult result;
};

// The cases as one suite. False when the XML could not be written.
bool writeJunit(QIODevice& out, const QString& suite, const std::vector<JunitCase>& cases);
// The same into the file `path`, replaced whole or left as it was.
bool writeJunit(const QString& path, const QString& suite, const std::vector<JunitCase>& cases);

// The steps the JUnit report has a test case for.
bool isCheck(const script::Step& step);

// `checks` has one entry per step; the suite is named after the script file. False when the
// XML could not be written.
bool writeJunit(QIODevice& out, const QString& scriptPath, const std::vector<script::Step>& steps,
                const std::vector<CheckResult>& checks);
// The same into the file `path`, replaced whole or left as it was.
bool writeJunit(const QString& path, const QString& scriptPath,
                const std::vector<script::Step>& steps, const std::vector<CheckResult>& checks);

}  // namespace torvix::cli
