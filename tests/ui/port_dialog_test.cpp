#include "ui/port_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "support/configured_port.h"
#include "support/fake_serial_port.h"
#include "support/files.h"
#include "support/recording_sink.h"
#include "support/scripted_prompt.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace torvix {
namespace {

using testing::FakeSerialPort;
using testing::RecordingSink;
using testing::ScriptedPrompt;

using testing::kFile12;
const QString kNoPortChosen = "Выберите порт";

class PortDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        testing::openConfiguredPort12(port, config, sink);
        dialog = new PortDialog(port, config, sink);
    }
    void TearDown() override {
        delete dialog.data();
        flushDeletes();
    }

    static void flushDeletes() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QByteArray contents() const { return testing::readFile(path); }
    template <typename T>
    T* control(const char* name) const {
        T* widget = dialog->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QComboBox* portList() const { return control<QComboBox>("cmbCOMList"); }
    QLineEdit* settingsBox() const { return control<QLineEdit>("txt_settings"); }
    QPushButton* okButton() const { return control<QPushButton>("OK"); }
    QPushButton* cancelButton() const { return control<QPushButton>("Отмена"); }
    QStringList listed() const {
        QStringList items;
        for (int i = 0; i < portList()->count(); ++i) items << portList()->itemText(i);
        return items;
    }
    bool openOn(int number) const { return port.open && port.number == number; }
    // Runs `action` from the event loop once the dialog has been shown and has probed.
    void afterProbe(std::function<void()> action) {
        QTimer::singleShot(0, dialog, [this, action] {
            if (dialog->probing() || !dialog->isVisible())
                afterProbe(action);
            else
                action();
        });
    }
    // The dialog is gone once its deferred deletion has run.
    bool closedAndGone() {
        const bool hidden = !dialog || !dialog->isVisible();
        flushDeletes();
        return hidden && dialog.isNull();
    }

    QTemporaryDir dir;
    QString path = dir.filePath("тп.ini");
    RecordingSink sink;
    ScriptedPrompt prompt;
    Config config{path, sink, sink, prompt};
    FakeSerialPort port;
    QPointer<PortDialog> dialog;
};

struct ExpectedControl {
    const char* name;
    const char* className;
    QString caption;
    QRect pixels;  // twips / 15 at 96 dpi
};

TEST_F(PortDialogTest, ControlsStandWhereTheLayoutPutsThem) {
    EXPECT_EQ(dialog->objectName(), "wndSetCOM");
    EXPECT_EQ(dialog->windowTitle(), "Настройка порта");
    EXPECT_TRUE(dialog->testAttribute(Qt::WA_DeleteOnClose));
    if (dialog->logicalDpiX() != 96 || dialog->logicalDpiY() != 96)
        GTEST_SKIP() << "pixel positions below are for 96 dpi";
    EXPECT_EQ(dialog->size(), QSize(311, 235));

    const std::vector<ExpectedControl> expected{
        {"Label1", "QLabel", "Выберите порт:", {32, 40, 105, 17}},
        {"cmbCOMList", "QComboBox", "Выберите порт", {152, 40, 105, 21}},
        {"Label2", "QLabel", "Настройки режима:", {24, 64, 105, 17}},
        {"txt_settings", "QLineEdit", "115200,e,8,1", {152, 64, 105, 19}},
        {"Label3", "QLabel", "Формат ввода режима: Ск, Чт, Дн, Ст", {40, 96, 241, 17}},
        {"Label4", "QLabel", "Ск - скорость (например - 115200, 57600)", {32, 120, 249, 17}},
        {"Label5",
         "QLabel",
         "Чт - четность (n-нет, e - четный, o - не четный)",
         {32, 136, 249, 17}},
        {"Label6", "QLabel", "Дн - количество битов данных (стандартно - 8)", {32, 152, 249, 17}},
        {"Label7", "QLabel", "Ст - количество стоповых битов (1 или 2)", {32, 168, 249, 17}},
        {"Отмена", "QPushButton", "Отмена", {40, 200, 89, 25}},
        {"OK", "QPushButton", QString::fromUtf16(u"\u041E\u041A"), {176, 200, 89, 25}},
    };
    for (const ExpectedControl& want : expected) {
        QWidget* widget = control<QWidget>(want.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), want.className) << want.name;
        EXPECT_EQ(widget->geometry(), want.pixels) << want.name;
        QString caption;
        if (auto* label = qobject_cast<QLabel*>(widget)) caption = label->text();
        if (auto* button = qobject_cast<QPushButton*>(widget)) caption = button->text();
        if (auto* box = qobject_cast<QLineEdit*>(widget)) caption = box->text();
        if (auto* list = qobject_cast<QComboBox*>(widget)) caption = list->currentText();
        EXPECT_EQ(caption, want.caption) << want.name;
    }
}

TEST_F(PortDialogTest, FontHasCyrillicAndCaptionsFit) {
    const QFont font = dialog->font();
    EXPECT_TRUE(font.family() == "MS Sans Serif" ||
                QFontDatabase::writingSystems(font.family()).contains(QFontDatabase::Cyrillic))
        << font.family().toStdString();
    for (const QLabel* label : dialog->findChildren<QLabel*>()) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
            << label->objectName().toStdString();
    }
}

TEST_F(PortDialogTest, TabOrderAndNoDefaultButton) {
    const std::vector<QWidget*> stops{okButton(), cancelButton(), portList(), settingsBox()};
    auto isStop = [&](QWidget* widget) {
        return std::find(stops.begin(), stops.end(), widget) != stops.end();
    };
    QWidget* at = okButton();
    for (size_t i = 1; i <= stops.size(); ++i) {
        do at = at->nextInFocusChain();
        while (!isStop(at));
        EXPECT_EQ(at, stops[i % stops.size()]) << i;
    }
    for (const QPushButton* button : {okButton(), cancelButton()}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
}

TEST_F(PortDialogTest, ShowingProbesAndSelectsTheConfiguredPort) {
    dialog->show();
    EXPECT_EQ(listed(), (QStringList{"COM1", "COM3", "COM12"}));
    EXPECT_EQ(portList()->currentIndex(), 2);
    EXPECT_EQ(portList()->currentText(), "COM12");
    EXPECT_EQ(settingsBox()->text(), "115200,e,8,1");
    EXPECT_TRUE(openOn(12));
    EXPECT_EQ(dialog->focusWidget(), okButton());

    // Enter and Escape mean nothing to the window.
    QTest::keyClick(dialog, Qt::Key_Escape);
    QTest::keyClick(dialog, Qt::Key_Return);
    flushDeletes();
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(contents(), kFile12);

    okButton()->click();
    EXPECT_TRUE(closedAndGone());
    EXPECT_EQ(contents(), kFile12);
    EXPECT_TRUE(openOn(12));
    EXPECT_EQ(port.openedNumbers, (std::vector<int>{1, 3, 12, 12, 12}));
}

TEST_F(PortDialogTest, HeldPortLeavesNothingSelected) {
    port.openErrorForPort[12] = PortErrorCode::PortInUse;
    dialog->show();
    EXPECT_EQ(listed(), (QStringList{"COM1", "COM3"}));
    EXPECT_EQ(portList()->currentIndex(), -1);
    EXPECT_EQ(portList()->currentText(), kNoPortChosen);
    EXPECT_FALSE(port.open);
    EXPECT_TRUE(sink.statusHistory.empty());

    // Typed text is no choice.
    QTest::keyClicks(portList()->lineEdit(), "COM3");
    EXPECT_FALSE(port.open);
    EXPECT_EQ(portList()->currentIndex(), -1);
}

TEST_F(PortDialogTest, ChoosingThenCancelPutsTheOldPortBack) {
    dialog->show();
    QTest::keyClick(portList(), Qt::Key_Up);  // COM12 -> COM3
    EXPECT_EQ(portList()->currentText(), "COM3");
    EXPECT_TRUE(openOn(3));

    cancelButton()->click();
    EXPECT_TRUE(closedAndGone());
    EXPECT_FALSE(config.settingsConfirmed);
    EXPECT_EQ(config.port(), 12);
    EXPECT_TRUE(openOn(12));
    EXPECT_EQ(contents(), kFile12);
}

TEST_F(PortDialogTest, RefusedSettingsTurnRedThenCloseBoxReopensFromTheFile) {
    dialog->show();
    settingsBox()->setText("115200,e,8");
    okButton()->click();
    flushDeletes();
    ASSERT_FALSE(dialog.isNull());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(settingsBox()->palette().color(QPalette::Base), QColor(255, 0, 0));
    EXPECT_EQ(contents(), kFile12);

    port.openedNumbers.clear();
    dialog->close();
    EXPECT_TRUE(closedAndGone());
    EXPECT_EQ(sink.statusText(), "Порт не выбран или некорректные настройки");
    EXPECT_EQ(port.openedNumbers, (std::vector<int>{12}));  // closing ran once
    EXPECT_EQ(port.settings, "115200,e,8,1");
}

TEST_F(PortDialogTest, ModalShowingEndsWithEitherButton) {
    QWidget owner;
    delete dialog.data();
    dialog = new PortDialog(port, config, sink, &owner);
    afterProbe([this] { cancelButton()->click(); });
    EXPECT_EQ(dialog->exec(), QDialog::Rejected);
    EXPECT_TRUE(closedAndGone());
    EXPECT_TRUE(openOn(12));

    dialog = new PortDialog(port, config, sink, &owner);
    afterProbe([this] { okButton()->click(); });
    EXPECT_EQ(dialog->exec(), QDialog::Accepted);
    EXPECT_TRUE(closedAndGone());
    EXPECT_TRUE(config.settingsConfirmed);
}

TEST_F(PortDialogTest, EventsDuringTheProbeSeeNoOpenPortAndCloseWaitsForIt) {
    std::vector<bool> portOpenSeen;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (dialog && dialog->probing()) portOpenSeen.push_back(port.isPortOpen());
    });
    tick.start(0);
    // A close asked for during the probe is carried out after it, even under exec().
    QTimer::singleShot(0, dialog, [this] { dialog->close(); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    bool stuck = false;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        stuck = true;
        if (dialog) dialog->QDialog::done(QDialog::Rejected);
    });
    watchdog.start(5000);

    dialog->exec();
    tick.stop();
    EXPECT_FALSE(stuck);
    ASSERT_FALSE(portOpenSeen.empty());
    EXPECT_EQ(std::count(portOpenSeen.begin(), portOpenSeen.end(), true), 0)
        << "a tick ran while a probed port was open";
    EXPECT_TRUE(closedAndGone());
    EXPECT_TRUE(openOn(12));
}

// The folder of the running executable as the operating system tells it, not as Qt does.
QString executableFolder() {
#ifdef Q_OS_WIN
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return QFileInfo(QString::fromWCharArray(path)).canonicalPath();
#else
    return QFileInfo("/proc/self/exe").canonicalPath();
#endif
}

TEST(ConfigDefaultPath, IsBesideTheProgram) {
    EXPECT_EQ(Config::defaultPath(), executableFolder() + "/" + QString::fromUtf8("тп.ini"));
}

}  // namespace
}  // namespace torvix
