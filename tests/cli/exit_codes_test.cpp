// The exit codes end to end through the library's entry points, as main calls them, for what
// fails before a controller is needed: usage (2) and a port that cannot be opened (1). Those
// that need a controller (0, 3, 4, 5, 130) are in script_run_test.cpp; through the real binary
// in cli_process_test.cpp.

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "captured_stderr.h"
#include "cli/command_line.h"
#include "cli/run_commands.h"

namespace torvix::cli {
namespace {

using testing::CapturedStderr;

class ExitCodes : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    QString file(const QString& name, const QByteArray& text) {
        const QString path = dir_.filePath(name);
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text);
        return path;
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

    // As main runs it, with тп.ini missing beside the program.
    int exitCode(QStringList arguments) {
        arguments.prepend(QStringLiteral("torvix-cli"));
        const Parsed parsed = parseCommandLine(arguments);
        if (!parsed.invocation) return parsed.exitCode;
        return runCommand(*parsed.invocation, path(QStringLiteral("тп.ini")));
    }
    // A line that does not exist, with settings that parse.
    QStringList nowhere(QStringList arguments) const {
        return arguments << QStringLiteral("--port") << path(QStringLiteral("no-tty"))
                         << QStringLiteral("--settings") << QStringLiteral("115200,e,8,1");
    }

    QTemporaryDir dir_;
};

TEST_F(ExitCodes, UsageErrorsExitTwo) {
    EXPECT_EQ(exitCode({}), 2);
    EXPECT_EQ(exitCode({"frobnicate"}), 2);
    EXPECT_EQ(exitCode(nowhere({"send", "priority", "8"})), 2);
    EXPECT_EQ(exitCode(nowhere({"read", "--address", "0"})), 2);
    EXPECT_EQ(exitCode(nowhere({"monitor", "--count", "0"})), 2);
    EXPECT_EQ(exitCode(nowhere({"read", "--trace"})), 2);
    EXPECT_EQ(exitCode({"--help"}), 0);
    EXPECT_EQ(exitCode({"run", "--version"}), 0);
}

TEST_F(ExitCodes, SettingsThatDoNotParseExitTwoBeforeAnyPortIsOpened) {
    for (const char* command : {"read", "monitor", "run"}) {
        QStringList arguments{command};
        if (arguments[0] == u"run") arguments << file("s.tvx", "mark m\n");
        arguments << QStringLiteral("--port") << path(QStringLiteral("no-tty"))
                  << QStringLiteral("--settings") << QStringLiteral("115200,x,8,1");
        EXPECT_EQ(exitCode(arguments), 2) << command;
    }
    EXPECT_EQ(exitCode({"send", "start", "--port", path("no-tty"), "--settings", "fast"}), 2);
}

TEST_F(ExitCodes, AMissingPortExitsOne) {
    EXPECT_EQ(exitCode(nowhere({"read"})), 1);
    EXPECT_EQ(exitCode(nowhere({"send", "stop"})), 1);
    EXPECT_EQ(exitCode(nowhere({"monitor", "--output", path("m.csv")})), 1);
    EXPECT_EQ(exitCode(nowhere({"run", file("s.tvx", "send start\n"), "--output", path("r.csv")})),
              1);
    EXPECT_EQ(exitCode({"read", "--port", "COM200", "--settings", "115200,e,8,1"}), 1);
}

TEST_F(ExitCodes, AScriptIsReadAndParsedWholeBeforeThePortIsTouched) {
    // Each of these would exit 1 at the missing port; they stop before it with 2.
    CapturedStderr missing(path("missing.err"));
    EXPECT_EQ(exitCode(nowhere({"run", path("missing.tvx")})), 2);
    // Then what the system says of the file, in its own words.
    EXPECT_TRUE(missing.text().startsWith(
        QStringLiteral("torvix-cli: %1: ").arg(path(QStringLiteral("missing.tvx")))));

    const QString bad =
        file("bad.tvx", "send start\nsend strat\n# fine\nwait 5\nexpect no_such_key > 1\n");
    CapturedStderr badErr(path("bad.err"));
    EXPECT_EQ(exitCode(nowhere({"run", bad})), 2);
    EXPECT_EQ(badErr.text(),
              QStringLiteral("torvix-cli: %1:2: send: неизвестная команда \"strat\"\n"
                             "torvix-cli: %1:4: wait: нужна длительность вида 500ms, 5s, 2min\n"
                             "torvix-cli: %1:5: \"no_such_key\" не числовой ключ записи "
                             "(gen_f_hz, gen_u_a_v ...)\n")
                  .arg(bad));

    const QString empty = file("empty.tvx", "# nothing\n\n");
    CapturedStderr emptyErr(path("empty.err"));
    EXPECT_EQ(exitCode(nowhere({"run", empty})), 2);
    EXPECT_EQ(emptyErr.text(), QStringLiteral("torvix-cli: %1: в сценарии нет шагов\n").arg(empty));

    EXPECT_FALSE(QFile::exists(path("p.csv")));
    EXPECT_EQ(exitCode(nowhere(
                  {"run", file("bad.tvx", "until x > 1 within 1s\n"), "--output", path("p.csv")})),
              2);
    EXPECT_FALSE(QFile::exists(path("p.csv"))) << "the records' file was made";
}

}  // namespace
}  // namespace torvix::cli
