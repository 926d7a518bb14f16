#include "control/startup.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "support/fake_serial_port.h"
#include "support/recording_sink.h"

namespace torvix {
namespace {

using Log = std::vector<std::string>;
using Answer = OperatorPrompt::Answer;

// The fake port, noting each guarded step as it is tried.
class LoggingPort : public testing::FakeSerialPort {
public:
    explicit LoggingPort(Log& log) : log_(log) {}
    PortStatus setLineSettings(const LineSettings& wanted) override {
        log_.push_back("settings");
        return FakeSerialPort::setLineSettings(wanted);
    }
    PortStatus setPortNumber(int n) override {
        log_.push_back("number");
        return FakeSerialPort::setPortNumber(n);
    }
    PortStatus setPortOpen(bool wanted) override {
        log_.push_back(wanted ? "open" : "close");
        return FakeSerialPort::setPortOpen(wanted);
    }

private:
    Log& log_;
};

class ScriptedPrompt : public OperatorPrompt {
public:
    explicit ScriptedPrompt(Log& log) : log_(log) {}
    std::deque<Answer> answers;
    std::vector<QString> texts;
    std::vector<QString> titles;

    Answer askOkCancel(const QString& text, const QString& title) override {
        log_.push_back("prompt");
        texts.push_back(text);
        titles.push_back(title);
        if (answers.empty()) return Answer::Cancel;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    Answer askRetryCancel(const QString&, const QString&) override {
        log_.push_back("file prompt");
        return Answer::Cancel;
    }

private:
    Log& log_;
};

const QString kBusy = QStringLiteral("Порт COM3 занят другим приложением\r\nВыберите другой порт");
const QString kMissing = QStringLiteral("Порт COM3 не доступен\r\nВыберите другой порт");

class StartupTest : public ::testing::Test {
protected:
    StartupTest() {
        writeIni("[PC config]\r\nCOM=3\r\nCOMSettings=115200,e,8,1\r\n");
        port.openable = {1, 3};
    }

    void writeIni(const QByteArray& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    bool run() {
        Startup startup(port, config, prompt,
                        {.configLoaded = [this] { log.push_back("configLoaded"); },
                         .fillSlaveList = [this] { log.push_back("fill"); },
                         .showPortDialogModal =
                             [this] {
                                 log.push_back("dialog");
                                 if (dialog) dialog();
                             },
                         .showWindow = [this] { log.push_back("show"); },
                         .startPolling = [this] { log.push_back("poll"); }});
        return startup.run();
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("тп.ini"));
    Log log;
    LoggingPort port{log};
    ScriptedPrompt prompt{log};
    testing::RecordingSink sink;
    Config config{path, sink, sink, prompt};
    std::function<void()> dialog;  // what the port dialog does while it is up
};

TEST_F(StartupTest, OpensTheConfiguredPortThenShowsTheWindowAndPolls) {
    ASSERT_TRUE(run());
    EXPECT_EQ(log, (Log{"configLoaded", "fill", "settings", "number", "open", "show", "poll"}));
    EXPECT_TRUE(port.open);
    EXPECT_EQ(port.number, 3);
    EXPECT_EQ(port.settings, QStringLiteral("115200,e,8,1"));
    EXPECT_TRUE(prompt.texts.empty());
}

TEST_F(StartupTest, FirstStartWithoutAFileNamesPort1) {
    QFile::remove(path);
    port.openable = {};
    prompt.answers = {Answer::Cancel};
    EXPECT_FALSE(run());
    ASSERT_EQ(prompt.texts.size(), 1u);
    EXPECT_EQ(prompt.texts[0], QStringLiteral("Порт COM1 не доступен\r\nВыберите другой порт"));
    EXPECT_TRUE(QFile::exists(path));
}

enum class Step { Settings, Number, Open };

struct FailureCase {
    const char* name;
    Step step;
    PortErrorCode code;
    QString prompt;
    Log untilPrompt;  // what ran before the box
    Log afterOk;      // what runs after OK: the dialog, then the step after the failed one
};

// Test names and failure messages show the case by its name.
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class GuardedStep : public StartupTest, public ::testing::WithParamInterface<FailureCase> {
protected:
    void failOnce() {
        const auto& c = GetParam();
        switch (c.step) {
            case Step::Settings:
                port.settingsErrors.push_back(c.code);
                break;
            case Step::Number:
                port.numberErrors.push_back(c.code);
                break;
            case Step::Open:
                port.openErrors.push_back(c.code);
                break;
        }
    }
};

TEST_P(GuardedStep, CancelEndsTheProgramWithoutShowingTheWindow) {
    failOnce();
    prompt.answers = {Answer::Cancel};
    EXPECT_FALSE(run());
    EXPECT_EQ(log, GetParam().untilPrompt);
    ASSERT_EQ(prompt.texts.size(), 1u);
    EXPECT_EQ(prompt.texts[0], GetParam().prompt);
    EXPECT_EQ(prompt.titles[0], QStringLiteral("Ошибка открытия порта"));
}

TEST_P(GuardedStep, OkShowsTheDialogAndGoesOnAfterTheFailedStep) {
    failOnce();
    prompt.answers = {Answer::Ok};
    EXPECT_TRUE(run());
    Log expected = GetParam().untilPrompt;
    expected.insert(expected.end(), GetParam().afterOk.begin(), GetParam().afterOk.end());
    EXPECT_EQ(log, expected);
    EXPECT_EQ(prompt.texts.size(), 1u);
}

const Log kBeforePort{"configLoaded", "fill"};

Log concat(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    EachStepAndError, GuardedStep,
    ::testing::Values(FailureCase{"SettingsInUse",
                                  Step::Settings,
                                  PortErrorCode::PortInUse,
                                  kBusy,
                                  concat(kBeforePort, {"settings", "prompt"}),
                                  {"dialog", "number", "open", "show", "poll"}},
                      FailureCase{"SettingsRefused",
                                  Step::Settings,
                                  PortErrorCode::InvalidSettings,
                                  kMissing,
                                  concat(kBeforePort, {"settings", "prompt"}),
                                  {"dialog", "number", "open", "show", "poll"}},
                      FailureCase{"NumberInUse",
                                  Step::Number,
                                  PortErrorCode::PortInUse,
                                  kBusy,
                                  concat(kBeforePort, {"settings", "number", "prompt"}),
                                  {"dialog", "open", "show", "poll"}},
                      FailureCase{"NumberMissing",
                                  Step::Number,
                                  PortErrorCode::NoSuchPort,
                                  kMissing,
                                  concat(kBeforePort, {"settings", "number", "prompt"}),
                                  {"dialog", "open", "show", "poll"}},
                      FailureCase{"OpenInUse",
                                  Step::Open,
                                  PortErrorCode::PortInUse,
                                  kBusy,
                                  concat(kBeforePort, {"settings", "number", "open", "prompt"}),
                                  {"dialog", "show", "poll"}},
                      FailureCase{"OpenDenied",
                                  Step::Open,
                                  PortErrorCode::PermissionDenied,
                                  kMissing,
                                  concat(kBeforePort, {"settings", "number", "open", "prompt"}),
                                  {"dialog", "show", "poll"}}),
    [](const ::testing::TestParamInfo<FailureCase>& param) {
        return std::string(param.param.name);
    });

TEST_F(StartupTest, AStepThatFailedIsNotTriedAgain) {
    port.numberErrors.push_back(PortErrorCode::NoSuchPort);
    prompt.answers = {Answer::Ok};
    ASSERT_TRUE(run());
    EXPECT_EQ(port.number, 1);  // the number was refused and not asked for again
    EXPECT_EQ(port.openedNumbers, (std::vector<int>{1}));
}

TEST_F(StartupTest, WindowAppearsAndPollingStartsEvenWithThePortStillClosed) {
    port.openErrorForPort[3] = PortErrorCode::PortInUse;
    prompt.answers = {Answer::Ok};
    ASSERT_TRUE(run());
    EXPECT_FALSE(port.open);
    EXPECT_EQ(log.back(), "poll");
}

TEST_F(StartupTest, APromptAfterTheDialogNamesThePortChosenThere) {
    port.settingsErrors.push_back(PortErrorCode::InvalidSettings);
    port.openErrorForPort[5] = PortErrorCode::PortInUse;
    dialog = [this] { config.setPort(5); };
    prompt.answers = {Answer::Ok, Answer::Cancel};

    EXPECT_FALSE(run());

    ASSERT_EQ(prompt.texts.size(), 2u);
    EXPECT_EQ(prompt.texts[0], kMissing);
    EXPECT_EQ(prompt.texts[1],
              QStringLiteral("Порт COM5 занят другим приложением\r\nВыберите другой порт"));
    EXPECT_EQ(port.number, 5);
    EXPECT_EQ(log,
              concat(kBeforePort, {"settings", "prompt", "dialog", "number", "open", "prompt"}));
}

TEST_F(StartupTest, StepsReachedAfterTheDialogStayGuarded) {
    port.numberErrors.push_back(PortErrorCode::NoSuchPort);
    port.openErrors.push_back(PortErrorCode::PortInUse);
    prompt.answers = {Answer::Ok, Answer::Ok};
    ASSERT_TRUE(run());
    EXPECT_EQ(log, concat(kBeforePort, {"settings", "number", "prompt", "dialog", "open", "prompt",
                                        "dialog", "show", "poll"}));
    EXPECT_EQ(prompt.texts[1], kBusy);
}

TEST_F(StartupTest, ConfigurationIsInForceBeforeThePortIsTouched) {
    writeIni("[PC config]\r\nCOM=12\r\nCOMSettings=9600,n,8,2\r\n");
    port.openable = {12};
    ASSERT_TRUE(run());
    EXPECT_EQ(port.number, 12);
    EXPECT_EQ(port.settings, QStringLiteral("9600,n,8,2"));
}

}  // namespace
}  // namespace torvix
