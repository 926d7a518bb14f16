#pragma once
// The JUnit report of `run`: one test case per `until` and `expect` of the script.

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
