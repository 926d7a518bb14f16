#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "control/startup.h"
#include "control/tick_presenter.h"
#include "support/fake_serial_port.h"
#include "support/recording_sink.h"
#include "support/reference_frames.h"
#include "ui/widgets.h"

namespace torvix {
namespace {

namespace reference = testing::reference;

using testing::Frame;

QString accessibleText(QWidget* widget, QAccessible::Text which) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(which) : QString();
}

QColor lampColour(QWidget* widget) {
    return static_cast<Lamp*>(widget)->colour();
}

class Window : public ::testing::Test {
protected:
    QWidget* at(const char* name, int index = -1) {
        QWidget* widget = window.control({name, index});
        EXPECT_NE(widget, nullptr) << name << "(" << index << ")";
        return widget;
    }
    QString captionOf(QWidget* widget) {
        if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
        if (auto* box = qobject_cast<QLineEdit*>(widget)) return box->text();
        if (auto* frame = qobject_cast<QGroupBox*>(widget)) return frame->title();
        return {};
    }

    MainWindow window;
};

// Expected values straight from the window's drawing: twips divided by 15 at 96 dpi.
struct Placed {
    const char* name;
    int index;
    const char16_t* caption;
    const char* parent;  // objectName of the frame, or "client"
    QRect pixels;
    double points;  // 0: the window's own font
};

const Placed kPlaced[] = {
    {"Frame2", 0, u"ЭА", "client", {208, 8, 417, 161}, 13.5},
    {"Frame2", 2, u"Общие шины", "client", {632, 120, 201, 105}, 13.5},
    {"Frame4", -1, u"Аварии и неисправности", "client", {248, 176, 377, 161}, 9.75},
    {"lblc_PhB", 0, u"Фаза B", "Frame2", {160, 24, 65, 25}, 12},
    {"lbl_phAU", -1, u"-", "Frame2", {80, 56, 73, 25}, 12},
    {"lblc_U", 1, u"I, А", "Frame2", {40, 80, 57, 25}, 12},
    {"lblc_rp", -1, u"Pр, кВт", "Frame2", {208, 112, 97, 25}, 12},
    {"lbl_secfr", -1, u"-", "Frame2", {104, 56, 73, 25}, 12},
    {"Label3",
     -1,
     u"Авария     Неисправность    Внутр. неиспр.    Каскад",
     "Frame4",
     {48, 24, 297, 33},
     0},
    {"Label6", -1, u"Последняя", "Frame4", {8, 120, 57, 25}, 0},
    {"lbl_faults", 3, u"-", "Frame4", {152, 56, 41, 25}, 0},
    {"lbl_faults", 9, u"-", "Frame4", {288, 120, 57, 25}, 0},
    {"lbl_faults", 11, u"-", "Frame4", {288, 56, 57, 25}, 0},
    {"lbls_ind", -1, u"Индикаторы:", "client", {16, 8, 105, 17}, 9.75},
    {"lbl_led", 0, u"ДГУ", "client", {16, 24, 89, 25}, 12},
    {"lbl_led", 8, u"Авария", "client", {104, 96, 89, 25}, 12},
    {"lbl_relay", 2, u"Сирена", "client", {16, 232, 97, 25}, 12},
    {"lbl_adc_b_d", -1, u"adc_b_d", "client", {128, 224, 105, 17}, 0},
    {"lblc_acc", -1, u"Аккумулятор, В", "client", {16, 320, 137, 25}, 12},
    {"lbl_tr_id", -1, u"-", "client", {752, 288, 73, 17}, 9.75},
    {"lblc_service",
     -1,
     u"До сервисного обслуживания осталось:",
     "client",
     {8, 352, 281, 17},
     9.75},
    {"lbl_sys_mes", -1, u"", "client", {248, 384, 472, 21}, 0},
    {"cmb_slad", -1, u"", "client", {176, 384, 57, 21}, 0},
    {"cmd_mode", 0, u"СТАРТ", "client", {856, 8, 81, 33}, 12},
    {"cmd_mode", 10, u"0", "client", {840, 136, 25, 25}, 12},
    {"cmd_mode", 5, u"1/0", "client", {904, 136, 41, 25}, 12},
    {"lbl_btn", 1, u"Секция", "client", {864, 224, 81, 25}, 12},
    {"txt_prior_sec", -1, u"0", "client", {856, 296, 81, 25}, 12},
    {"cmd_mode_pr", 2, u"Соседняя Секция", "client", {840, 368, 105, 41}, 12},
};

TEST_F(Window, StandsAsDrawn) {
    ASSERT_EQ(window.logicalDpiY(), 96) << "the expected pixels are those of 96 dpi";
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Torvix. Тест протокола  Modbus. Версия 2.14"));
    EXPECT_EQ(window.centralWidget()->size(), QSize(954, 419));

    const double ownPoints = window.font().pointSizeF();
    for (const auto& p : kPlaced) {
        SCOPED_TRACE(std::string(p.name) + "(" + std::to_string(p.index) + ")");
        QWidget* widget = at(p.name, p.index);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), QLatin1String(p.name));
        EXPECT_EQ(widget->parentWidget()->objectName(), QLatin1String(p.parent));
        EXPECT_EQ(widget->geometry(), p.pixels);
        EXPECT_EQ(captionOf(widget), QString::fromUtf16(p.caption));
        EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), p.points > 0 ? p.points : ownPoints);
        if (p.index >= 0) {
            EXPECT_EQ(widget->property("index").toInt(), p.index);
        }
    }
}

TEST_F(Window, LooksAsDrawn) {
    // Lamp colours; all lamps dark until the first status reply.
    EXPECT_EQ(lampColour(at("lbl_led", 0)), QColor(0, 255, 0));
    EXPECT_EQ(lampColour(at("lbl_led", 3)), QColor(255, 255, 0));
    EXPECT_EQ(lampColour(at("lbl_led", 8)), QColor(255, 0, 0));
    EXPECT_EQ(lampColour(at("lbl_led", 9)), QColor(255, 255, 0));
    EXPECT_EQ(lampColour(at("lbl_relay", 1)), QColor(0, 255, 0));
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(at("lbl_led", i)->autoFillBackground()) << i;
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(at("lbl_relay", i)->autoFillBackground()) << i;
    auto* lamp = qobject_cast<QLabel*>(at("lbl_led", 5));
    EXPECT_EQ(lamp->frameShape(), QFrame::Box);
    EXPECT_TRUE(lamp->alignment() & Qt::AlignHCenter);

    EXPECT_EQ(qobject_cast<QLabel*>(at("lbl_sys_mes"))->frameShape(), QFrame::Box);
    EXPECT_EQ(qobject_cast<QLabel*>(at("lblc_motomin"))->alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(qobject_cast<QLabel*>(at("lbl_motomin"))->alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignHCenter);
    EXPECT_EQ(qobject_cast<QLabel*>(at("lbl_sw_ver"))->alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignLeft);
    EXPECT_EQ(qobject_cast<QLabel*>(at("lbl_dbg"))->text(), QStringLiteral("Label1"));
    EXPECT_EQ(qobject_cast<QLabel*>(at("lbl_intf"))->text(), QStringLiteral("Label1"));

    auto* line = qobject_cast<QFrame*>(at("Line4"));
    EXPECT_EQ(line->frameShape(), QFrame::HLine);
    EXPECT_EQ(line->geometry().left(), 16);
    EXPECT_EQ(line->geometry().left() + line->geometry().width(), 800);
    EXPECT_LE(std::abs(line->geometry().center().y() - 376), 1);

    auto* list = qobject_cast<QComboBox*>(at("cmb_slad"));
    EXPECT_FALSE(list->isEditable());
    EXPECT_EQ(list->count(), 0);  // filled by the start-up
    EXPECT_EQ(qobject_cast<QLineEdit*>(at("txt_prior_sec"))->palette().color(QPalette::Base),
              QColor(255, 255, 255));

    // Every sized font is one with Cyrillic glyphs, at normal weight.
    const QString family = QFontInfo(at("cmd_mode", 0)->font()).family();
    EXPECT_TRUE(QFontDatabase::writingSystems(family).contains(QFontDatabase::Cyrillic))
        << family.toStdString();
    EXPECT_EQ(at("lblc_acc")->font().weight(), QFont::Normal);

    auto* menu = window.findChild<QAction*>(QStringLiteral("mnu_settings"));
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->text(), QStringLiteral("&Настройка порта"));
    EXPECT_EQ(menu->menu(), nullptr);
    EXPECT_EQ(window.menuBar()->actions().size(), 1);
}

// Where and how each control stands is checked against the drawing's own pixels above; the
// table's twips are not turned into pixels here a second time by the window's own formula.
TEST_F(Window, EveryControlOfTheTableIsBuilt) {
    for (const auto& entry : layout::kControls) {
        SCOPED_TRACE(std::string(entry.ref.name) + "(" + std::to_string(entry.ref.index) + ")");
        QWidget* widget = window.control(entry.ref);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(),
                  QLatin1String(entry.ref.name.data(), entry.ref.name.size()));
    }
    // The fifty labels that show controller data: values, lamps and fault words.
    int dataLabels = 0;
    for (QLabel* label : window.findChildren<QLabel*>()) {
        const QString name = label->objectName();
        if (name.startsWith(QLatin1String("lbl_")) && name != QLatin1String("lbl_sys_mes") &&
            name != QLatin1String("lbl_btn"))
            ++dataLabels;
    }
    EXPECT_EQ(dataLabels, 50);
    EXPECT_EQ(window.findChildren<Lamp*>().size(), 13);
    EXPECT_EQ(window.findChildren<QGroupBox*>().size(), 4);
}

TEST_F(Window, IsOfFixedSize) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(window.centralWidget()->size(), QSize(954, 419));
}

TEST_F(Window, TabGoesThroughTheControlsInTheDrawnOrderFromStart) {
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), at("cmd_mode", 0));

    const std::vector<std::pair<const char*, int>> order = {
        {"cmd_mode", 1},    {"cmd_mode", 2},       {"cmb_slad", -1},   {"cmd_mode", 3},
        {"cmd_mode", 4},    {"txt_prior_sec", -1}, {"cmd_mode_pr", 0}, {"cmd_mode_pr", 1},
        {"cmd_mode_pr", 2}, {"cmd_mode", 6},       {"cmd_mode", 7},    {"cmd_mode", 8},
        {"cmd_mode", 9},    {"cmd_mode", 10},      {"cmd_mode", 11},   {"cmd_mode", 5},
        {"cmd_mode", 0},
    };
    for (const auto& [name, index] : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), at(name, index)) << name << "(" << index << ")";
    }
}

TEST_F(Window, SlaveListHolds0To127With7Selected) {
    window.fillSlaveList();
    window.fillSlaveList();  // filling again starts afresh
    auto* list = qobject_cast<QComboBox*>(at("cmb_slad"));
    ASSERT_EQ(list->count(), 128);
    EXPECT_EQ(list->itemText(0), QStringLiteral("0"));
    EXPECT_EQ(list->itemText(45), QStringLiteral("45"));
    EXPECT_EQ(list->itemText(127), QStringLiteral("127"));
    EXPECT_EQ(list->currentText(), QStringLiteral("7"));
    EXPECT_EQ(window.slaveAddress(), 7);
    list->setCurrentIndex(12);
    EXPECT_EQ(window.slaveAddress(), 12);
}

TEST_F(Window, StatusLineIsTheBottomLabel) {
    window.setStatusText(QStringLiteral("Чтение конфигурации"));
    window.repaintNow();
    EXPECT_EQ(qobject_cast<QLabel*>(at("lbl_sys_mes"))->text(),
              QStringLiteral("Чтение конфигурации"));
    EXPECT_EQ(window.statusText(), QStringLiteral("Чтение конфигурации"));
}

TEST_F(Window, ButtonsAndLabelsTellScreenReadersWhatTheyAre) {
    EXPECT_EQ(accessibleText(at("cmd_mode", 0), QAccessible::Name), QStringLiteral("СТАРТ"));
    EXPECT_EQ(accessibleText(at("cmd_mode_pr", 2), QAccessible::Name),
              QStringLiteral("Соседняя Секция"));
    EXPECT_EQ(accessibleText(at("cmd_mode", 9), QAccessible::Name), QStringLiteral("1"));
    EXPECT_EQ(accessibleText(at("cmd_mode", 9), QAccessible::Description),
              QStringLiteral("Секция"));
    EXPECT_EQ(accessibleText(at("lbl_acc"), QAccessible::Name), QStringLiteral("-"));
    EXPECT_EQ(accessibleText(at("lbl_acc"), QAccessible::Description),
              QStringLiteral("Аккумулятор, В"));
    EXPECT_EQ(accessibleText(at("lbl_led", 4), QAccessible::Name), QStringLiteral("Пост"));
    EXPECT_EQ(accessibleText(at("lbl_led", 4), QAccessible::Description),
              QStringLiteral("не горит"));
    EXPECT_EQ(accessibleText(at("cmb_slad"), QAccessible::Name),
              QStringLiteral("Адрес устройства"));
}

// A status block as the controller sends it, through the link into the window.
TEST_F(Window, ShowsADecodedStatusBlock) {
    testing::FakeSerialPort port;
    port.open = true;
    Modbus modbus(port, window);
    TickPresenter presenter(modbus, window, window, QLocale(QLocale::Russian));
    window.fillSlaveList();

    testing::StatusRegisters regs{};
    regs[0] = 0x0209;                      // protocol version 2.09
    regs[2] = 2305;                        // common bus 230.5 V
    regs[4] = 0x0906;                      // phase A 231 V
    regs[7] = 0x0005;                      // phase A 1 A
    regs[18] = 0x1388;                     // 50 Hz
    regs[39] = 0xFF38;                     // battery -20 V
    regs[41] = 0x1A2B;                     // INTF
    regs[43] = 0x1234;                     // saved alarm
    regs[51] = 0x8000, regs[52] = 0x0001;  // current cascade
    regs[56] = 0x0203;                     // section 2, priority 3
    regs[58] = 0x0100;                     // only "Авария"
    regs[60] = 0x0005;                     // "Старт" and "Сирена"
    regs[61] = 0xFFC4;                     // -60 minutes to service
    port.feed(testing::statusReply(regs));
    presenter.show(modbus.pollTick());

    auto text = [&](const char* name, int index = -1) {
        return qobject_cast<QLabel*>(at(name, index))->text();
    };
    EXPECT_EQ(window.statusText(), QStringLiteral("Связь с контроллером Torvix установлена"));
    EXPECT_EQ(text("lbl_pr_ver"), QStringLiteral("2 .09 "));
    EXPECT_EQ(text("lbl_netAU"), QStringLiteral("230,5 "));
    EXPECT_EQ(text("lbl_phAU"), QStringLiteral("231 "));
    EXPECT_EQ(text("lbl_phAI"), QStringLiteral("1 "));
    EXPECT_EQ(text("lbl_fr"), QStringLiteral("50 "));
    EXPECT_EQ(text("lbl_acc"), QStringLiteral("-20 "));
    EXPECT_EQ(text("lbl_intf"), QStringLiteral("INTF 1A2B"));
    EXPECT_EQ(text("lbl_faults", 1), QStringLiteral("1234"));
    EXPECT_EQ(text("lbl_faults", 11), QStringLiteral("80000001"));
    EXPECT_EQ(text("lbl_faults", 9), QStringLiteral("00000000"));
    EXPECT_EQ(text("lbl_section"), QStringLiteral("2 "));
    EXPECT_EQ(text("lbl_priority"), QStringLiteral("3 "));
    EXPECT_EQ(text("lbl_service"), QStringLiteral("-1 мч"));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(at("lbl_led", i)->autoFillBackground(), i == 8) << i;
    EXPECT_TRUE(at("lbl_relay", 0)->autoFillBackground());
    EXPECT_FALSE(at("lbl_relay", 1)->autoFillBackground());
    EXPECT_TRUE(at("lbl_relay", 2)->autoFillBackground());

    EXPECT_EQ(accessibleText(at("lbl_phAU"), QAccessible::Name), QStringLiteral("231 "));
    EXPECT_EQ(accessibleText(at("lbl_phAU"), QAccessible::Description),
              QStringLiteral("Фаза A, U, В"));
    EXPECT_EQ(accessibleText(at("lbl_faults", 11), QAccessible::Description),
              QStringLiteral("Каскад, Текущая"));
    EXPECT_EQ(accessibleText(at("lbl_led", 8), QAccessible::Description), QStringLiteral("горит"));
    EXPECT_EQ(accessibleText(at("lbl_led", 7), QAccessible::Description),
              QStringLiteral("не горит"));

    // The next block changes two values: those follow, the rest stays.
    regs[4] = 2306;
    regs[58] = 0x0001;
    port.feed(testing::statusReply(regs));
    presenter.show(modbus.pollTick());
    EXPECT_EQ(text("lbl_phAU"), QStringLiteral("230,6 "));
    EXPECT_EQ(text("lbl_netAU"), QStringLiteral("230,5 "));
    EXPECT_TRUE(at("lbl_led", 0)->autoFillBackground());
    EXPECT_FALSE(at("lbl_led", 8)->autoFillBackground());
}

TEST_F(Window, ButtonsAndTheTextBoxDriveTheCommands) {
    testing::FakeSerialPort port;
    port.open = true;
    Modbus modbus(port, window);
    TickPresenter presenter(modbus, window, window);
    OperatorCommands commands(modbus, window, window, window);
    window.bind(commands);
    window.fillSlaveList();
    auto* box = qobject_cast<QLineEdit*>(at("txt_prior_sec"));
    auto base = [box] { return box->palette().color(QPalette::Base); };

    qobject_cast<QPushButton*>(at("cmd_mode", 4))->click();  // "1/0" of "Секция"
    presenter.show(modbus.pollTick());
    const Frame& sectionToggle = reference::kSectionToggle;
    EXPECT_EQ(port.written.back(), sectionToggle);
    port.feed(sectionToggle);

    box->setText(QStringLiteral("8"));
    qobject_cast<QPushButton*>(at("cmd_mode_pr", 0))->click();
    EXPECT_EQ(base(), QColor(255, 0, 0));
    EXPECT_EQ(modbus.queue().pendingCount(), 1);  // only the answered toggle, not yet taken out

    box->clear();
    QTest::keyClicks(box, QStringLiteral(" 5"));
    EXPECT_EQ(base(), QColor(255, 255, 255));
    qobject_cast<QPushButton*>(at("cmd_mode_pr", 1))->click();
    EXPECT_EQ(box->text(), QStringLiteral("5"));
    presenter.show(modbus.pollTick());
    EXPECT_EQ(port.written.back(), reference::kSectionNumber5);
    port.feed(reference::kNumberWriteReply);
    presenter.show(modbus.pollTick());
    EXPECT_EQ(base(), QColor(0, 255, 0));
}

TEST_F(Window, PollTimerTicksEvery100MsOnceStarted) {
    int ticks = 0;
    window.setPollTick([&ticks] { ++ticks; });
    QTimer& timer = window.pollTimer();
    EXPECT_EQ(timer.objectName(), QStringLiteral("Timer1"));
    EXPECT_FALSE(timer.isActive());
    EXPECT_EQ(timer.interval(), 100);
    EXPECT_EQ(timer.timerType(), Qt::PreciseTimer);

    window.startPolling();
    EXPECT_TRUE(timer.isActive());
    // The timer's own signal, sent now rather than waited for: what it is wired to is tested
    // here, Qt's timing is not.
    ASSERT_TRUE(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
    ASSERT_TRUE(QMetaObject::invokeMethod(&timer, "timeout", Qt::DirectConnection));
    EXPECT_EQ(ticks, 2);
}

// Stands in for the port settings dialog: counts how often it is made and by whom.
struct DialogMaker {
    int made = 0;
    std::vector<QWidget*> owners;
    bool closesWhenShown = false;

    QDialog* operator()(QWidget* owner) {
        ++made;
        owners.push_back(owner);
        auto* dialog = new QDialog(owner);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        if (closesWhenShown) QTimer::singleShot(0, dialog, &QDialog::accept);
        return dialog;
    }
};

TEST_F(Window, MenuCommandShowsOneModelessDialogWithoutOwner) {
    DialogMaker maker;
    window.setPortDialogFactory([&maker](QWidget* owner) { return maker(owner); });
    window.show();
    auto* menu = window.findChild<QAction*>(QStringLiteral("mnu_settings"));

    menu->trigger();
    QPointer<QDialog> first = window.portDialog();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isModal());
    EXPECT_EQ(first->parentWidget(), nullptr);

    menu->trigger();
    EXPECT_EQ(maker.made, 1);
    EXPECT_EQ(window.portDialog(), first.data());

    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    menu->trigger();
    EXPECT_EQ(maker.made, 2);
    window.discardPortDialog();
}

TEST_F(Window, ClosingTheWindowEndsTheProgramEvenWithTheDialogOpen) {
    DialogMaker maker;
    window.setPortDialogFactory([&maker](QWidget* owner) { return maker(owner); });
    window.show();
    window.openPortDialog();
    QPointer<QDialog> dialog = window.portDialog();
    ASSERT_TRUE(dialog && dialog->isVisible());

    QSignalSpy closed(&window, &MainWindow::closed);
    window.close();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_TRUE(dialog.isNull());
}

TEST_F(Window, StartupDialogIsModalAndOwnedByTheWindow) {
    DialogMaker maker;
    maker.closesWhenShown = true;
    window.setPortDialogFactory([&maker](QWidget* owner) { return maker(owner); });

    window.showPortDialogModal();

    EXPECT_EQ(maker.made, 1);
    EXPECT_EQ(maker.owners.at(0), &window);
    EXPECT_EQ(window.portDialog(), nullptr);  // closed and gone again
    EXPECT_FALSE(window.isVisible());
}

TEST_F(Window, WithoutADialogTheMenuAndTheFailurePathGoOn) {
    window.openPortDialog();
    window.showPortDialogModal();
    EXPECT_EQ(window.portDialog(), nullptr);
}

// The start-up wired to the window as the program wires it.
class WindowStartup : public Window {
protected:
    struct AnswerOnce : OperatorPrompt {
        Answer answer = Answer::Cancel;
        int asked = 0;
        Answer askOkCancel(const QString&, const QString&) override {
            ++asked;
            return answer;
        }
        Answer askRetryCancel(const QString&, const QString&) override { return Answer::Cancel; }
    };

    WindowStartup() { maker.closesWhenShown = true; }

    bool run() {
        window.setPortDialogFactory([this](QWidget* owner) { return maker(owner); });
        Startup startup(port, config, prompt,
                        {.configLoaded = {},
                         .fillSlaveList = [this] { window.fillSlaveList(); },
                         .showPortDialogModal = [this] { window.showPortDialogModal(); },
                         .showWindow = [this] { window.show(); },
                         .startPolling = [this] { window.startPolling(); }});
        return startup.run();
    }

    QTemporaryDir dir;
    testing::FakeSerialPort port;
    AnswerOnce prompt;
    Config config{dir.filePath(QStringLiteral("тп.ini")), window, window, prompt};
    DialogMaker maker;
};

TEST_F(WindowStartup, CancelLeavesTheWindowUnshown) {
    port.openable = {};
    prompt.answer = OperatorPrompt::Answer::Cancel;
    EXPECT_FALSE(run());
    EXPECT_EQ(prompt.asked, 1);
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.pollTimer().isActive());
    EXPECT_EQ(maker.made, 0);
}

TEST_F(WindowStartup, OkGoesThroughTheModalDialogToTheRunningWindow) {
    port.openable = {};
    prompt.answer = OperatorPrompt::Answer::Ok;
    EXPECT_TRUE(run());
    EXPECT_EQ(maker.made, 1);
    EXPECT_EQ(maker.owners.at(0), &window);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.pollTimer().isActive());
    EXPECT_EQ(window.slaveAddress(), 7);
    EXPECT_FALSE(port.open);
}

}  // namespace
}  // namespace torvix
