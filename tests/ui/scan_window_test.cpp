// The scan window's choices before any line is touched: its defaults, and input it refuses.

#include "ui/scan_window.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

namespace torvix {
namespace {

class ScanWindowTest : public ::testing::Test {
protected:
    template <class Widget>
    Widget* child(const char* name) {
        auto* widget = window.findChild<Widget*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    int wanted = 0;
    ScanWindow window{{.configuredPort = [] { return 3; },
                       .configuredSettings = [] { return QStringLiteral("19200,o,8,1"); },
                       .portOverrides = [] { return std::map<int, QString>{}; },
                       .portWanted = [this](const scan::ScanPort&) { ++wanted; },
                       .portReleased = {},
                       .apply = {}}};
};

TEST_F(ScanWindowTest, DefaultsAreTheIssuesWithTheConfiguredSettingsFirst) {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Torvix. Поиск контроллера"));
    EXPECT_TRUE(child<QLineEdit>("txt_ports")->text().startsWith(QStringLiteral("1-16")));
    auto* settings = child<QListWidget>("lst_settings");
    ASSERT_EQ(settings->count(), 20);
    EXPECT_EQ(settings->item(0)->text(), QStringLiteral("19200,o,8,1"));
    EXPECT_EQ(settings->item(1)->text(), QStringLiteral("115200,e,8,1"));
    for (int i = 0; i < settings->count(); ++i)
        EXPECT_EQ(settings->item(i)->checkState(), Qt::Checked) << i;
    EXPECT_EQ(child<QSpinBox>("spn_first")->value(), 1);
    EXPECT_EQ(child<QSpinBox>("spn_last")->value(), 247);
    EXPECT_EQ(child<QSpinBox>("spn_first")->minimum(), 1);  // never the broadcast address 0
    EXPECT_TRUE(child<QPushButton>("cmd_find")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("cmd_stop")->isEnabled());
    EXPECT_FALSE(child<QPushButton>("cmd_apply")->isEnabled());
}

TEST_F(ScanWindowTest, RefusedChoicesSayWhyAndTouchNoPort) {
    child<QLineEdit>("txt_ports")->setText(QStringLiteral("COMX"));
    window.find();
    EXPECT_FALSE(window.scanning());
    EXPECT_TRUE(child<QPlainTextEdit>("txt_notes")->toPlainText().contains(QStringLiteral("COMX")));

    child<QLineEdit>("txt_ports")->setText(QStringLiteral("3"));
    auto* settings = child<QListWidget>("lst_settings");
    for (int i = 0; i < settings->count(); ++i) settings->item(i)->setCheckState(Qt::Unchecked);
    window.find();
    EXPECT_FALSE(window.scanning());
    EXPECT_TRUE(child<QPlainTextEdit>("txt_notes")
                    ->toPlainText()
                    .contains(QStringLiteral("не выбрано ни одной настройки линии")));
    EXPECT_EQ(wanted, 0);
}

}  // namespace
}  // namespace torvix
