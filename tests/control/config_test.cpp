#include "control/config.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>

#include "support/fake_serial_port.h"
#include "support/files.h"
#include "support/recording_sink.h"
#include "support/scripted_prompt.h"

namespace torvix {
namespace {

using Answer = OperatorPrompt::Answer;
using testing::RecordingSink;
using testing::ScriptedPrompt;

const QString kReading = "Чтение конфигурации";
const QString kSaving = "Сохранение конфигурации";
const QString kReadPrompt = "Ошибка открытия файла тп.ini для чтения\r\n";
const QString kWritePrompt = "Ошибка открытия файла тп.ini для записи";
const QString kTitle = "Ошибка открытия файла ";

// A file saved after choosing port 3 with the default settings and slave address 7.
const QByteArray kExampleFile =
    "[PC config]\nCOM=3\nCOMSettings=115200,e,8,1\n[QDL config]\nMBSLAD=7\n";

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    static void put(const QString& file, const QByteArray& bytes) {
        testing::writeFile(file, bytes);
    }
    void put(const QByteArray& bytes) const { put(path, bytes); }
    QByteArray contents() const { return testing::readFile(path); }
    void expectAskedOnly(const QString& text, size_t times) const {
        ASSERT_EQ(prompt.asked.size(), times);
        for (const auto& question : prompt.asked) {
            EXPECT_TRUE(question.retryCancel);
            EXPECT_EQ(question.text, text);
            EXPECT_EQ(question.title, kTitle);
        }
    }
    // Loads a file whose "COM" holds `value`, with the operator cancelling at once.
    void loadWithCom(const QByteArray& value) {
        put("[PC config]\nCOM=" + value + "\nCOMSettings=9600,n,8,1\n");
        prompt.asked.clear();
        config.setSettings("before");
        config.load();
    }

    QTemporaryDir dir;
    QString path = dir.filePath(Config::kFileName);
    RecordingSink sink;
    ScriptedPrompt prompt;
    Config config{path, sink, sink, prompt};
};

TEST_F(ConfigTest, FirstStartCreatesFileWithDefaults) {
    sink.address = -1;  // the main window fills its address list only later
    config.load();

    EXPECT_EQ(contents(),
              "[PC config]\nCOM=1\nCOMSettings=115200,e,8,1\n[QDL config]\nMBSLAD=-1\n");
    EXPECT_EQ(config.port(), 1);
    EXPECT_EQ(config.settings(), "115200,e,8,1");
    EXPECT_EQ(sink.statusHistory, (std::vector<QString>{kSaving, "", ""}));
    EXPECT_EQ(sink.repaints, 1);
    EXPECT_TRUE(prompt.asked.empty());
#ifdef Q_OS_WIN
    // Windows names files in UTF-16; a narrow path would be read in the ANSI code page.
    const auto file = std::filesystem::path(dir.path().toStdWString()) / L"\u0442\u043F.ini";
#else
    // The file name is UTF-8 on disk.
    const auto file = std::filesystem::path(dir.path().toStdString()) / "\xD1\x82\xD0\xBF.ini";
#endif
    EXPECT_TRUE(std::filesystem::is_regular_file(file));

    config.setPort(3);
    sink.address = 7;
    sink.statusHistory.clear();
    config.save();
    EXPECT_EQ(contents(), kExampleFile);
    EXPECT_EQ(sink.statusHistory, (std::vector<QString>{kSaving, ""}));
}

TEST_F(ConfigTest, LoadReadsPortAndSettings) {
    put("[PC config]\r\nCOM=12\r\nCOMSettings=9600,n,8,2\r\n[QDL config]\r\nMBSLAD=99\r\n");
    const QByteArray before = contents();
    config.load();
    EXPECT_EQ(config.port(), 12);
    EXPECT_EQ(config.settings(), "9600,n,8,2");
    EXPECT_EQ(sink.statusHistory, (std::vector<QString>{kReading, ""}));
    EXPECT_EQ(sink.repaints, 1);
    EXPECT_EQ(contents(), before);
    EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(ConfigTest, MissingKeysTakeDefaultsAndAddNothing) {
    const QByteArray noSection = "[QDL config]\nMBSLAD=3\n";
    put(noSection);
    config.setPort(9);
    config.load();
    EXPECT_EQ(config.port(), 1);
    EXPECT_EQ(config.settings(), "115200,e,8,1");
    EXPECT_EQ(contents(), noSection);

    put("[PC config]\nCOMSettings=19200,o,7,1\n");
    config.load();
    EXPECT_EQ(config.port(), 1);
    EXPECT_EQ(config.settings(), "19200,o,7,1");

    put("[PC config]\nCOM=4\n");
    config.load();
    EXPECT_EQ(config.port(), 4);
    EXPECT_EQ(config.settings(), "115200,e,8,1");

    put("");
    config.load();
    EXPECT_EQ(config.port(), 1);
    EXPECT_EQ(config.settings(), "115200,e,8,1");
    EXPECT_EQ(contents(), "");
    EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(ConfigTest, LetterCaseAndBlanksDoNotMatter) {
    put("[pc CONFIG]\ncom=  5 \ncomsettings =  57600,o,7,2  \n");
    config.load();
    EXPECT_EQ(config.port(), 5);
    EXPECT_EQ(config.settings(), "57600,o,7,2");
}

TEST_F(ConfigTest, AcceptedPortNumbers) {
    for (const auto& [text, expected] : std::vector<std::pair<QByteArray, int>>{
             {"0", 0}, {"255", 255}, {"007", 7}, {"\t16\t", 16}}) {
        loadWithCom(text);
        EXPECT_EQ(config.port(), expected) << text.constData();
        EXPECT_EQ(config.settings(), "9600,n,8,1") << text.constData();
        EXPECT_TRUE(prompt.asked.empty()) << text.constData();
    }
}

TEST_F(ConfigTest, BadPortNumberIsPutToTheOperatorAndCancelEndsTheLoad) {
    for (const QByteArray bad : {"", "abc", "256", "-1", "5.0", "5.5", "1e2", "0x10", "5 5",
                                 "99999999999999999999", "+5", "５"}) {
        loadWithCom(bad);
        expectAskedOnly(kReadPrompt, 1);
        EXPECT_EQ(config.port(), 1) << bad.constData();
        EXPECT_EQ(config.settings(), "before") << bad.constData();
        EXPECT_EQ(sink.statusText(), kReading) << bad.constData();
    }
}

TEST_F(ConfigTest, RetryReadsAgainAndGoesOn) {
    put("[PC config]\nCOM=x\nCOMSettings=9600,n,8,1\n");
    prompt.answers = {Answer::Retry, Answer::Retry, Answer::Cancel};
    config.setSettings("before");
    config.load();
    expectAskedOnly(kReadPrompt, 3);
    EXPECT_EQ(config.settings(), "before");

    // The operator mends the file while the box is up.
    prompt.asked.clear();
    prompt.answers = {Answer::Retry, Answer::Retry};
    int shown = 0;
    prompt.beforeAnswer = [&] {
        if (++shown == 2) put("[PC config]\nCOM=6\nCOMSettings=4800,e,8,1\n");
    };
    sink.statusHistory.clear();
    config.load();
    expectAskedOnly(kReadPrompt, 2);
    EXPECT_EQ(config.port(), 6);
    EXPECT_EQ(config.settings(), "4800,e,8,1");
    EXPECT_EQ(sink.statusHistory, (std::vector<QString>{kReading, ""}));
}

TEST_F(ConfigTest, LongSettingsAreCutAndLineBreaksBlanked) {
    const QByteArray longSettings = QByteArray(254, '9') + QByteArray(46, '#');
    put("[PC config]\nCOM=2\nCOMSettings=" + longSettings + "\n");
    config.load();
    EXPECT_EQ(config.settings(), QString(254, u'9'));

    config.setSettings("115200,\r\ne,8\n,1");
    config.save();
    EXPECT_TRUE(contents().contains("\nCOMSettings=115200,  e,8 ,1\n"));
    config.load();
    EXPECT_EQ(config.settings(), "115200,  e,8 ,1");
}

TEST_F(ConfigTest, SettingsAreReadOnceAndTheTextKeptAsWritten) {
    // Blanks and capitals are the file's; the port gets what they mean.
    put("[PC config]\nCOM=2\nCOMSettings=19200, E ,8,2\n");
    config.load();
    EXPECT_EQ(config.settings(), "19200, E ,8,2");
    ASSERT_TRUE(config.lineSettings());
    EXPECT_EQ(config.lineSettings()->baudRate, 19200);
    EXPECT_EQ(config.lineSettings()->parity, LineSettings::Parity::Even);
    EXPECT_EQ(config.lineSettings()->stopBits, LineSettings::StopBits::Two);
    testing::FakeSerialPort port;
    EXPECT_TRUE(config.applyLineSettings(port).ok());
    EXPECT_EQ(port.settings, "19200,e,8,2");

    // A text that is no line settings reaches the port as its refusal, naming the text.
    config.setSettings("fast,e,8,1");
    EXPECT_FALSE(config.lineSettings());
    port.settings.clear();
    const PortStatus refused = config.applyLineSettings(port);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, PortErrorCode::InvalidSettings);
    EXPECT_EQ(refused.error().detail, "fast,e,8,1");
    EXPECT_TRUE(port.settings.isEmpty());
}

TEST_F(ConfigTest, SaveKeepsUnknownLinesByteForByte) {
    const QByteArray before =
        "; written by hand\r\n"
        "[Ports]\r\n"
        "COM3=/dev/ttyUSB1\r\n"
        "\r\n"
        "[pc config]\r\n"
        "Com = 4\r\n"
        "Comment=keep me\r\n"
        "[QDL config]\r\n"
        "Other=1";
    put(before);
    config.setPort(3);
    config.setSettings("115200,e,8,1");
    config.save();
    EXPECT_EQ(contents(),
              "; written by hand\r\n"
              "[Ports]\r\n"
              "COM3=/dev/ttyUSB1\r\n"
              "\r\n"
              "[pc config]\r\n"
              "Com = 3\r\n"
              "Comment=keep me\r\n"
              "COMSettings=115200,e,8,1\r\n"
              "[QDL config]\r\n"
              "Other=1\r\n"
              "MBSLAD=7");
    EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(ConfigTest, RefusedWriteIsPutToTheOperator) {
    // A parent that is a regular file stops even root, unlike file modes.
    put(dir.filePath("folder"), "not a folder");
    const QString blocked = dir.filePath("folder/" + Config::kFileName);
    Config refused{blocked, sink, sink, prompt};

    prompt.answers = {Answer::Retry, Answer::Cancel};
    refused.load();  // no file: the load saves
    expectAskedOnly(kWritePrompt, 2);
    EXPECT_EQ(refused.port(), 1);
    EXPECT_EQ(refused.settings(), "115200,e,8,1");
    EXPECT_EQ(sink.statusHistory, (std::vector<QString>{kSaving, "", ""}));

    // Retry after the folder has been made writes the whole file.
    prompt.asked.clear();
    prompt.answers = {Answer::Retry};
    prompt.beforeAnswer = [&] {
        QFile::remove(dir.filePath("folder"));
        QDir(dir.path()).mkdir("folder");
    };
    refused.setPort(3);
    refused.save();
    expectAskedOnly(kWritePrompt, 1);
    QFile written(blocked);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), kExampleFile);
}

TEST_F(ConfigTest, ImmutableFolderKeepsTheOldFile) {
    const QString folder = dir.filePath("locked");
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    const QString file = folder + "/" + Config::kFileName;
    put(file, kExampleFile);
    if (QProcess::execute("chattr", {"+i", folder}) != 0)
        GTEST_SKIP() << "chattr +i is not available here";
    Config locked{file, sink, sink, prompt};
    locked.setPort(5);
    locked.setSettings("9600,n,8,1");
    locked.save();
    QProcess::execute("chattr", {"-i", folder});

    expectAskedOnly(kWritePrompt, 1);
    EXPECT_EQ(sink.statusText(), "");
    QFile kept(file);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), kExampleFile);
}

TEST_F(ConfigTest, SomethingElseAtThePathIsAnError) {
    ASSERT_TRUE(QDir(dir.path()).mkdir(Config::kFileName));
    config.load();  // not an ordinary file: treated as missing, and the save fails
    expectAskedOnly(kWritePrompt, 1);
    EXPECT_EQ(sink.statusText(), "");
    ASSERT_TRUE(QDir(dir.path()).rmdir(Config::kFileName));

    // Ten megabytes are no configuration: the read fails, and so does a write.
    const QByteArray big = "[PC config]\nCOM=2\n" + QByteArray(10 * 1024 * 1024, '\0');
    put(big);
    prompt.asked.clear();
    config.setSettings("before");
    config.load();
    expectAskedOnly(kReadPrompt, 1);
    EXPECT_EQ(config.port(), 1);
    EXPECT_EQ(config.settings(), "before");

    prompt.asked.clear();
    config.save();
    expectAskedOnly(kWritePrompt, 1);
    EXPECT_EQ(contents(), big);
}

TEST_F(ConfigTest, PortOverridesAreReadOnly) {
    const QByteArray file =
        "[PC config]\nCOM=3\n"
        "[ports]\n"
        "com3 = /dev/ttyUSB1 \n"
        "COM12=/dev/серийный\n"
        "COM5=\n"
        "COM17=/dev/ttyS17\n"
        "COM0=/dev/ttyS0\n";
    put(file);
    const std::map<int, QString> expected{{3, "/dev/ttyUSB1"}, {12, "/dev/серийный"}};
    EXPECT_EQ(config.portOverrides(), expected);
    EXPECT_EQ(contents(), file);

    config.save();
    EXPECT_TRUE(contents().contains("[ports]\ncom3 = /dev/ttyUSB1 \nCOM12=/dev/серийный\n"));
    EXPECT_EQ(config.portOverrides(), expected);

    Config none{dir.filePath("absent.ini"), sink, sink, prompt};
    EXPECT_TRUE(none.portOverrides().empty());
}

}  // namespace
}  // namespace torvix
