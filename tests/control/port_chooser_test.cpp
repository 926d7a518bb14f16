#include "control/port_chooser.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "support/configured_port.h"
#include "support/fake_serial_port.h"
#include "support/files.h"
#include "support/recording_sink.h"
#include "support/scripted_prompt.h"

namespace torvix {
namespace {

using testing::FakeSerialPort;
using testing::RecordingSink;
using testing::ScriptedPrompt;

const QString kReopenFailed = "Порт не выбран или некорректные настройки";
const QString kReading = "Чтение конфигурации";
using testing::kFile12;

class PortChooserTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        testing::openConfiguredPort12(port, config, sink);
    }

    void put(const QByteArray& bytes) const { testing::writeFile(path, bytes); }
    QByteArray contents() const { return testing::readFile(path); }
    std::vector<QString> entries() const {
        std::vector<QString> texts;
        for (const int number : chooser.ports()) texts.push_back(PortChooser::entryText(number));
        return texts;
    }
    bool openOn(int number) const { return port.open && port.number == number; }

    QTemporaryDir dir;
    QString path = dir.filePath("тп.ini");
    RecordingSink sink;
    ScriptedPrompt prompt;
    Config config{path, sink, sink, prompt};
    FakeSerialPort port;
    int eventRounds = 0;
    int eventRoundsWithPortOpen = 0;
    PortChooser chooser{port, config, sink, [this] {
                            ++eventRounds;
                            if (port.isPortOpen()) ++eventRoundsWithPortOpen;
                        }};
};

TEST_F(PortChooserTest, ProbeListsOpenablePortsAndOpensTheConfiguredOne) {
    chooser.load();
    EXPECT_EQ(entries(), (std::vector<QString>{"COM1", "COM3", "COM12"}));
    EXPECT_EQ(chooser.selectedIndex(), 2);
    EXPECT_TRUE(openOn(12));
    // Probed in ascending order, then the selection opened 12 once more.
    EXPECT_EQ(port.openedNumbers, (std::vector<int>{1, 3, 12, 12}));
    EXPECT_EQ(chooser.savedPort(), 12);
    EXPECT_EQ(chooser.savedSettings(), "115200,e,8,1");
    EXPECT_TRUE(sink.statusHistory.empty());
}

TEST_F(PortChooserTest, WaitingEventsRunOnlyWhileNoProbedPortIsOpen) {
    port.openable = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    int sentWhileOpen = 0;
    PortChooser polling{port, config, sink, [&] {
                            // What a poll tick would do: send whenever the port is open.
                            ++eventRounds;
                            if (port.isPortOpen()) ++sentWhileOpen;
                        }};
    polling.load();
    EXPECT_EQ(eventRounds, 16);
    EXPECT_EQ(sentWhileOpen, 0);
    EXPECT_EQ(polling.ports().size(), 16u);
    EXPECT_TRUE(openOn(12));
}

TEST_F(PortChooserTest, ConfiguredPortHeldElsewhere) {
    port.openErrorForPort[12] = PortErrorCode::PortInUse;
    chooser.load();
    EXPECT_EQ(entries(), (std::vector<QString>{"COM1", "COM3"}));
    EXPECT_EQ(chooser.selectedIndex(), -1);
    EXPECT_FALSE(port.open);
    EXPECT_TRUE(sink.statusHistory.empty());
    EXPECT_TRUE(prompt.asked.empty());
    EXPECT_EQ(eventRoundsWithPortOpen, 0);
}

TEST_F(PortChooserTest, NoPortOpensThenOkStoresPortZero) {
    port.openable.clear();
    chooser.load();
    EXPECT_TRUE(chooser.ports().empty());
    EXPECT_FALSE(port.open);

    EXPECT_EQ(chooser.ok("115200,e,8,1"), PortChooser::OkResult::Close);
    EXPECT_TRUE(config.settingsConfirmed);
    EXPECT_EQ(contents(), "[PC config]\nCOM=0\nCOMSettings=115200,e,8,1\n[QDL config]\nMBSLAD=7\n");

    sink.statusHistory.clear();
    chooser.close();
    EXPECT_FALSE(port.open);
    EXPECT_EQ(sink.statusText(), kReopenFailed);
    EXPECT_EQ(sink.statusHistory.front(), kReading);  // the file was read again
    EXPECT_EQ(config.port(), 0);
    EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(PortChooserTest, UnknownPortNumberOpensNothing) {
    // Port 0 is no port: neither the load nor the reopening may open another number instead.
    put("[PC config]\nCOM=0\nCOMSettings=115200,e,8,1\n");
    config.load();
    port.openable = {1, 3, 16};
    chooser.load();
    EXPECT_EQ(chooser.ports().size(), 3u);
    EXPECT_EQ(chooser.selectedIndex(), -1);
    EXPECT_FALSE(port.open);

    sink.statusHistory.clear();
    chooser.close();
    EXPECT_FALSE(port.open);
    EXPECT_EQ(sink.statusText(), kReopenFailed);
}

TEST_F(PortChooserTest, ChoosingSwitchesAtOnceAndCancelPutsTheOldPortBack) {
    chooser.load();
    port.settings = "9600,n,8,1";  // the text the port accepted last
    chooser.select(1);
    EXPECT_TRUE(openOn(3));
    EXPECT_EQ(port.settings, "9600,n,8,1");
    EXPECT_EQ(chooser.selectedIndex(), 1);

    chooser.cancel();
    EXPECT_FALSE(config.settingsConfirmed);
    chooser.close();
    EXPECT_TRUE(openOn(12));
    EXPECT_EQ(port.settings, "115200,e,8,1");
    EXPECT_EQ(config.port(), 12);
    EXPECT_EQ(contents(), kFile12);
    EXPECT_TRUE(sink.statusHistory.empty());
}

TEST_F(PortChooserTest, ChoiceThatDoesNotOpenLeavesThePortClosed) {
    chooser.load();
    port.openErrorForPort[3] = PortErrorCode::PortInUse;
    chooser.select(1);
    EXPECT_FALSE(port.open);
    EXPECT_TRUE(sink.statusHistory.empty());
    chooser.select(0);
    EXPECT_TRUE(openOn(1));
}

TEST_F(PortChooserTest, RefusedSettingsThenCancelRestoresEverything) {
    chooser.load();
    chooser.select(1);
    EXPECT_EQ(chooser.ok("115200,e,8"), PortChooser::OkResult::SettingsRefused);
    EXPECT_TRUE(config.settingsConfirmed);
    EXPECT_EQ(config.port(), 3);
    EXPECT_EQ(config.settings(), "115200,e,8");
    EXPECT_TRUE(openOn(3));  // the dialog stays open, nothing else happens

    chooser.cancel();
    chooser.close();
    EXPECT_EQ(config.port(), 12);
    EXPECT_EQ(config.settings(), "115200,e,8,1");
    EXPECT_TRUE(openOn(12));
    EXPECT_EQ(port.settings, "115200,e,8,1");
    EXPECT_EQ(contents(), kFile12);
    EXPECT_TRUE(sink.statusHistory.empty());
}

TEST_F(PortChooserTest, RefusedSettingsThenCloseBoxReadsTheFileAgain) {
    put("[PC config]\nCOM=1\nCOMSettings=19200,n,8,1\n");  // changed by hand meanwhile
    chooser.load();
    chooser.select(1);
    EXPECT_EQ(chooser.ok("fast"), PortChooser::OkResult::SettingsRefused);

    chooser.close();
    EXPECT_EQ(sink.statusHistory, (std::vector<QString>{kReading, "", kReopenFailed}));
    EXPECT_EQ(config.port(), 1);
    EXPECT_EQ(config.settings(), "19200,n,8,1");
    // The number comes from the file; the refused text is not tried again.
    EXPECT_TRUE(openOn(1));
    EXPECT_EQ(port.settings, "115200,e,8,1");
}

TEST_F(PortChooserTest, OkWithUnchangedValuesRewritesAndReopens) {
    chooser.load();
    port.openedNumbers.clear();
    EXPECT_EQ(chooser.ok("115200,e,8,1"), PortChooser::OkResult::Close);
    chooser.close();
    EXPECT_EQ(contents(), kFile12);
    EXPECT_EQ(port.openedNumbers, (std::vector<int>{12}));
    EXPECT_TRUE(openOn(12));
    EXPECT_EQ(sink.statusHistory, (std::vector<QString>{"Сохранение конфигурации", ""}));

    // Closing runs once.
    chooser.close();
    EXPECT_EQ(port.openedNumbers, (std::vector<int>{12}));
}

// The scan's Применить: the port switches at once and the file holds what OK writes.
TEST_F(PortChooserTest, AdoptSwitchesThePortAndSavesAsOkDoes) {
    sink.address = 23;
    port.openedNumbers.clear();
    EXPECT_EQ(chooser.adopt(3, "19200,e,8,1"), PortChooser::OkResult::Close);
    EXPECT_TRUE(openOn(3));
    EXPECT_EQ(port.settings, "19200,e,8,1");
    EXPECT_EQ(contents(), "[PC config]\nCOM=3\nCOMSettings=19200,e,8,1\n[QDL config]\nMBSLAD=23\n");
    EXPECT_EQ(config.port(), 3);
    EXPECT_TRUE(config.settingsConfirmed);
}

TEST_F(PortChooserTest, ConfirmationOutlivesTheShowing) {
    chooser.load();
    chooser.select(1);
    EXPECT_EQ(chooser.ok("57600,e,8,1"), PortChooser::OkResult::Close);
    chooser.close();
    EXPECT_TRUE(openOn(3));
    EXPECT_EQ(port.settings, "57600,e,8,1");

    // The next showing, closed with the close box: nothing is restored, nothing changes.
    PortChooser again{port, config, sink, {}};
    again.load();
    EXPECT_EQ(again.selectedIndex(), 1);
    again.select(2);
    EXPECT_TRUE(openOn(12));
    again.close();
    EXPECT_TRUE(config.settingsConfirmed);
    EXPECT_EQ(config.port(), 3);
    EXPECT_TRUE(openOn(3));
    EXPECT_EQ(port.settings, "57600,e,8,1");
}

// A device server opens at once and tells only later whether it takes us: the probe waits for
// that, and lists only the servers that accept.
class ConnectingPort : public FakeSerialPort {
public:
    std::map<int, PortErrorCode> refusedLater;  // port number -> what the connection ends in
    PortStatus finishOpening() override {
        const auto it = refusedLater.find(number);
        if (!open || it == refusedLater.end()) return {};
        open = false;
        return PortError{it->second, {}};
    }
};

TEST(PortChooserProbe, LeavesOutDeviceServersThatRefuseOrTurnUsAway) {
    QTemporaryDir dir;
    RecordingSink sink;
    ScriptedPrompt prompt;
    Config config{dir.filePath("тп.ini"), sink, sink, prompt};
    ConnectingPort port;
    port.openable = {1, 2, 3};
    port.refusedLater = {{2, PortErrorCode::OpenFailed}, {3, PortErrorCode::PortInUse}};
    PortChooser chooser{port, config, sink, {}};
    chooser.load();
    EXPECT_EQ(chooser.ports(), std::vector<int>{1});
}

}  // namespace
}  // namespace torvix
