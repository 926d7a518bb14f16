// The whole program, built for Windows and run in-process under Wine, against the Linux
// torvix-sim on a pseudo-terminal that Wine's registry maps as COM1 (tests/wine/run-tests.sh
// starts the simulator and names its state file in TORVIX_SIM_STATE).

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

#include "e2e/status_block_texts.h"
#include "support/qt_printers.h"
#include "support/window_controls.h"
#include "ui/program.h"

namespace torvix::e2e {
namespace {

const QString kLinkUp = QStringLiteral("Связь с контроллером Torvix установлена");
const QString kNoAnswer = QStringLiteral("Ошибка обмена: Нет ответа от контроллера Torvix");

// Generous: Wine on a loaded two-core machine.
constexpr int kLinkMs = 15000;
constexpr int kSettleMs = 8000;

QJsonObject simState() {
    QFile file(qEnvironmentVariable("TORVIX_SIM_STATE"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

std::optional<Registers> simRegisters() {
    const QJsonArray values = simState()["input_registers"].toArray();
    if (values.size() != 64) return std::nullopt;
    Registers registers{};
    for (int n = 0; n < 64; ++n) registers[n] = static_cast<std::uint16_t>(values[n].toInt());
    return registers;
}

class ProgramOnCom1 : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariable("TORVIX_SIM_STATE").isEmpty())
            << "run through tests/wine/run-tests.sh";
        ASSERT_EQ(QLocale::system().decimalPoint(), QStringLiteral(","))
            << "run with LC_ALL=ru_RU.UTF-8: Wine takes the Windows locale from it";
        ASSERT_TRUE(dir_.isValid());
        const QString ini = dir_.filePath(QStringLiteral("тп.ini"));
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        // No parity: Linux refuses it on a pseudo-terminal.
        file.write("[PC config]\r\nCOM=1\r\nCOMSettings=115200,n,8,1\r\n");
        file.close();
        program_.emplace(ini);
        ASSERT_TRUE(program_->start());
    }

    MainWindow& window() { return program_->window(); }
    Program& program() { return *program_; }

    QWidget* control(const QString& name, int index = -1) {
        return testing::findControl(window(), name, index);
    }
    QString caption(const QString& name, int index = -1) {
        return testing::labelText(window(), name, index);
    }
    QString status() { return testing::statusLineText(window()); }
    bool waitForStatus(const QString& text, int ms = kLinkMs) {
        return testing::waitForStatusLine(window(), text, ms);
    }

    // The simulator's registers move on between polls: both sides are read anew until they agree.
    void expectWindowShowsSim() {
        QStringList last{QStringLiteral("no state from the simulator")};
        const bool agreed = QTest::qWaitFor(
            [&] {
                const auto registers = simRegisters();
                if (!registers) return false;
                last.clear();
                for (const auto& expected : expectedCaptions(*registers)) {
                    const QString shown = caption(expected.name, expected.index);
                    if (shown != expected.text)
                        last << QStringLiteral("%1(%2): \"%3\" shown, \"%4\" expected")
                                    .arg(expected.name)
                                    .arg(expected.index)
                                    .arg(shown, expected.text);
                }
                return last.isEmpty();
            },
            kSettleMs);
        EXPECT_TRUE(agreed) << last.join(u'\n').toStdString();
    }

private:
    QTemporaryDir dir_;
    std::optional<Program> program_;
};

// The window was drawn for MS Sans Serif; whatever face Windows gives instead must not cut a
// caption nor let a value run into its neighbour.
void expectEveryCaptionFits(const QWidget& window) {
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text().isEmpty() || label->wordWrap()) continue;
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()),
                  label->contentsRect().width())
            << label->objectName().toStdString() << " \"" << label->text().toStdString() << "\" in "
            << label->font().family().toStdString();
    }
}

TEST_F(ProgramOnCom1, StatusBlockReachesTheCaptionsAndAClickedStartReachesTheController) {
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    expectWindowShowsSim();
    expectEveryCaptionFits(window());

    auto* start = qobject_cast<QAbstractButton*>(control(QStringLiteral("cmd_mode"), 0));
    ASSERT_NE(start, nullptr);
    ASSERT_EQ(start->text(), QStringLiteral("СТАРТ"));
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QJsonObject state = simState();
            return state["commands"].toArray().contains(0x1231) && state["running"].toBool();
        },
        kSettleMs));
    expectWindowShowsSim();
}

// The dialog opens each of COM1..COM16 through Win32; only COM1 exists in the test's prefix.
TEST_F(ProgramOnCom1, PortDialogListsTheOnePortThereIsAndPollingGoesOnAfterIt) {
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    auto* menu = window().findChild<QAction*>(QStringLiteral("mnu_settings"));
    ASSERT_NE(menu, nullptr);
    menu->trigger();
    QDialog* dialog = window().portDialog();
    ASSERT_NE(dialog, nullptr);
    auto* list = dialog->findChild<QComboBox*>(QStringLiteral("cmbCOMList"));
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() > 0; }, kSettleMs));
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) entries << list->itemText(i);
    EXPECT_EQ(entries, QStringList{QStringLiteral("COM1")});

    dialog->close();
    const int requests = simState()["requests"].toInt();
    EXPECT_TRUE(QTest::qWaitFor([&] { return simState()["requests"].toInt() >= requests + 10; },
                                kSettleMs));
    expectWindowShowsSim();
}

// The companion window with its plot under Windows: opened from the menu, it records a
// clicked СТАРТ into записи beside тп.ini.
TEST_F(ProgramOnCom1, TheCompanionOpensAndRecordsAClickedStart) {
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    auto* menu = window().findChild<QAction*>(QStringLiteral("mnu_graphs"));
    ASSERT_NE(menu, nullptr);
    menu->trigger();
    CompanionWindow* companion = program().companion();
    ASSERT_NE(companion, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(companion, kSettleMs));
    EXPECT_EQ(companion->windowTitle(), QStringLiteral("Torvix. Графики и запись"));

    auto* record = companion->findChild<QPushButton*>(QStringLiteral("cmd_record"));
    ASSERT_NE(record, nullptr);
    QTest::mouseClick(record, Qt::LeftButton);
    const auto& recording = program().companionLog().recording();
    ASSERT_TRUE(recording.isActive());
    QTest::mouseClick(qobject_cast<QAbstractButton*>(control(QStringLiteral("cmd_mode"), 0)),
                      Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return simState()["running"].toBool(); }, kSettleMs));
    const long long rows = recording.records();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recording.records() >= rows + 3; }, kSettleMs));
    QTest::mouseClick(record, Qt::LeftButton);

    QFile file(recording.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << recording.path().toStdString();
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.startsWith(QStringLiteral("time,gen_u_a_v,")));
    EXPECT_TRUE(text.contains(QStringLiteral("] send start: выполнено"))) << text.toStdString();
    EXPECT_GT(program().companionLog().series().lastTime(), 0);
}

// The scan window from the menu under Windows: it finds the simulator on the window's own COM1,
// which polling lends it and takes back.
TEST_F(ProgramOnCom1, TheScanWindowOpensFromTheMenuAndFindsTheController) {
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    auto* menu = window().findChild<QAction*>(QStringLiteral("mnu_scan"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->text(), QStringLiteral("&Поиск контроллера"));
    menu->trigger();
    ScanWindow* scan = program().scanWindow();
    ASSERT_NE(scan, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(scan, kSettleMs));
    EXPECT_EQ(scan->windowTitle(), QStringLiteral("Torvix. Поиск контроллера"));

    scan->findChild<QLineEdit*>(QStringLiteral("txt_ports"))->setText(QStringLiteral("1"));
    auto* settings = scan->findChild<QListWidget*>(QStringLiteral("lst_settings"));
    ASSERT_NE(settings, nullptr);
    // Parity stays off: Linux refuses it on the pseudo-terminal behind COM1.
    for (int i = 0; i < settings->count(); ++i)
        settings->item(i)->setCheckState(
            settings->item(i)->text() == u"115200,n,8,1" ? Qt::Checked : Qt::Unchecked);
    scan->findChild<QSpinBox*>(QStringLiteral("spn_first"))->setValue(5);
    scan->findChild<QSpinBox*>(QStringLiteral("spn_last"))->setValue(9);
    QTest::mouseClick(scan->findChild<QPushButton*>(QStringLiteral("cmd_find")), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scan->scanning(); }, 2 * kLinkMs));
    ASSERT_EQ(scan->found().size(), 1u);
    EXPECT_EQ(scan->found()[0].port.name, QStringLiteral("COM1"));
    EXPECT_EQ(scan->found()[0].address, 7);
    EXPECT_TRUE(window().pollTimer().isActive());
    EXPECT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
}

// Run against a simulator that hangs its line up (tests/wine/run-tests.sh starts that one).
TEST_F(ProgramOnCom1, PollingResumesByItselfWhenTheLineComesBack) {
    ASSERT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    EXPECT_TRUE(waitForStatus(kNoAnswer)) << status().toStdString();
    const int hangups = simState()["faults"].toObject()["hangups"].toInt();
    EXPECT_GE(hangups, 1);
    EXPECT_TRUE(waitForStatus(kLinkUp)) << status().toStdString();
    expectWindowShowsSim();
}

}  // namespace
}  // namespace torvix::e2e
