// The scan window of the whole program, in-process, against three pseudo-terminals: the
// window's own port with nothing behind it, the simulator at 9600 baud and the simulator at
// address 23 and 19200 baud, both timed as a real line (--pace).

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

#include "support/peer_process.h"
#include "support/pty.h"
#include "support/window_controls.h"
#include "ui/program.h"

namespace torvix::e2e {
namespace {

constexpr int kPeerStartMs = 15000;
constexpr int kScanMs = 30000;
constexpr int kLinkMs = 8000;

const QString kLinkUp = QStringLiteral("Связь с контроллером Torvix установлена");
// The whole status block read at address 23, as the request log writes it.
const QString kStatusReadAt23 = QStringLiteral(" 17 04 01 2C 00 40 ");

using testing::Peer;

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class ScanWindowEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_TRUE(silent_.ok());
        ASSERT_NO_FATAL_FAILURE(startSim(other_, QStringLiteral("two"), "9600,e,8,1"));
        ASSERT_NO_FATAL_FAILURE(startSim(sought_, QStringLiteral("three"), "19200,e,8,1"));
        QFile ini(iniPath());
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[PC config]\r\nCOM=1\r\nCOMSettings=115200,e,8,1\r\n"
                                 "[Ports]\r\nCOM1=%1\r\nCOM2=%2\r\nCOM3=%3\r\n")
                      .arg(silent_.slavePath(), path(QStringLiteral("two")),
                           path(QStringLiteral("three")))
                      .toUtf8());
        ini.close();
        program_.emplace(iniPath());
        ASSERT_TRUE(program_->start());
    }
    void TearDown() override { program_.reset(); }

    QString path(const QString& name) const { return dir_.filePath(name); }
    QString iniPath() const { return path(QStringLiteral("тп.ini")); }
    QString requestLog() const { return path(QStringLiteral("three.requests")); }

    void startSim(std::optional<Peer>& peer, const QString& name, const char* settings) {
        peer.emplace(
            QStringLiteral(TORVIX_SIM_BINARY),
            QStringList{QStringLiteral("--quiet"), QStringLiteral("--pace"),
                        QStringLiteral("--settings"), QLatin1String(settings),
                        QStringLiteral("--address"), QStringLiteral("23"), QStringLiteral("--link"),
                        path(name), QStringLiteral("--log-requests"),
                        path(name + QStringLiteral(".requests"))});
        ASSERT_TRUE(peer->firstLine(kPeerStartMs).startsWith(QStringLiteral("/dev/")));
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(path(name)); }, kPeerStartMs));
    }

    // The window from the menu, after "&Графики", with the choices of the test.
    ScanWindow& openScan(const QString& ports, const QStringList& settings, int first, int last,
                         bool all) {
        const QList<QAction*> menu = program_->window().menuBar()->actions();
        EXPECT_EQ(menu.size(), 3);
        EXPECT_EQ(menu.value(1)->objectName(), QStringLiteral("mnu_graphs"));
        EXPECT_EQ(menu.value(2)->objectName(), QStringLiteral("mnu_scan"));
        EXPECT_EQ(menu.value(2)->text(), QStringLiteral("&Поиск контроллера"));
        menu.value(2)->trigger();
        ScanWindow* window = program_->scanWindow();
        EXPECT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Torvix. Поиск контроллера"));
        child<QLineEdit>("txt_ports")->setText(ports);
        auto* list = child<QListWidget>("lst_settings");
        EXPECT_EQ(list->count(), 20);
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setCheckState(settings.contains(list->item(i)->text()) ? Qt::Checked
                                                                                  : Qt::Unchecked);
        child<QSpinBox>("spn_first")->setValue(first);
        child<QSpinBox>("spn_last")->setValue(last);
        child<QCheckBox>("chk_all")->setChecked(all);
        return *window;
    }

    template <class Widget>
    Widget* child(const char* name) {
        auto* widget = program_->scanWindow()->findChild<Widget*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    QTemporaryDir dir_;
    testing::Pty silent_;
    std::optional<Peer> other_;
    std::optional<Peer> sought_;
    std::optional<Program> program_;
};

TEST_F(ScanWindowEndToEnd, FindsTheControllerAndApplyMovesPollingThere) {
    ScanWindow& scan =
        openScan(QStringLiteral("1-3"),
                 {QStringLiteral("115200,e,8,1"), QStringLiteral("19200,e,8,1")}, 20, 25, false);
    QTest::mouseClick(child<QPushButton>("cmd_find"), Qt::LeftButton);
    // The window's own port comes first: polling stops while the scan has it.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !program_->window().pollTimer().isActive(); }, kScanMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !scan.scanning(); }, kScanMs));
    EXPECT_TRUE(program_->window().pollTimer().isActive());

    ASSERT_EQ(scan.found().size(), 1u);
    EXPECT_EQ(scan.found()[0].port.name, QStringLiteral("COM3"));
    EXPECT_EQ(scan.found()[0].settings.toText(), QStringLiteral("19200,e,8,1"));
    EXPECT_EQ(scan.found()[0].address, 23);
    auto* found = child<QListWidget>("lst_found");
    ASSERT_EQ(found->count(), 1);
    EXPECT_EQ(found->currentRow(), 0);  // the first is selected
    EXPECT_TRUE(found->item(0)->text().contains(QStringLiteral("адрес 23")));

    const qsizetype readsBefore = readText(requestLog()).count(kStatusReadAt23);
    QTest::mouseClick(child<QPushButton>("cmd_apply"), Qt::LeftButton);
    ASSERT_TRUE(testing::waitForStatusLine(program_->window(), kLinkUp, kLinkMs))
        << testing::statusLineText(program_->window()).toStdString();
    // The simulator sees the window's status reads at address 23.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return readText(requestLog()).count(kStatusReadAt23) >= readsBefore + 5; }, kLinkMs));
    const QString ini = readText(iniPath());
    EXPECT_TRUE(ini.contains(QStringLiteral("COM=3"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("COMSettings=19200,e,8,1"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("MBSLAD=23"))) << ini.toStdString();
    EXPECT_TRUE(ini.contains(QStringLiteral("COM3=%1").arg(path(QStringLiteral("three")))));
}

TEST_F(ScanWindowEndToEnd, StopHalfwayKeepsTheWindowResponsiveAndWhatWasFound) {
    ScanWindow& scan =
        openScan(QStringLiteral("1,3"), {QStringLiteral("19200,e,8,1")}, 1, 40, true);
    QTest::mouseClick(child<QPushButton>("cmd_find"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return scan.found().size() == 1; }, 2 * kScanMs));
    ASSERT_TRUE(scan.scanning());  // "все": it goes on past the find

    // The event loop keeps running beside the scan: a queued call comes through at once.
    bool served = false;
    QTimer::singleShot(0, &scan, [&] { served = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return served; }, 2000));
    EXPECT_TRUE(child<QPushButton>("cmd_stop")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("cmd_find")->isEnabled());

    QTest::mouseClick(child<QPushButton>("cmd_stop"), Qt::LeftButton);
    EXPECT_FALSE(scan.scanning());
    EXPECT_TRUE(scan.scanner()->report().stopped);
    ASSERT_EQ(scan.found().size(), 1u);
    EXPECT_EQ(child<QListWidget>("lst_found")->count(), 1);
    EXPECT_TRUE(child<QPushButton>("cmd_find")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("cmd_apply")->isEnabled());
    EXPECT_TRUE(program_->window().pollTimer().isActive());
}

}  // namespace
}  // namespace torvix::e2e
