#include "ui/message_box_prompt.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace torvix {
namespace {

using Answer = OperatorPrompt::Answer;

TEST(MessageBoxPrompt, OkCancelBoxHasTheStopIconAndOkAsDefault) {
    const auto box =
        MessageBoxPrompt::makeBox(QStringLiteral("Порт COM3 не доступен\r\nВыберите другой порт"),
                                  QStringLiteral("Ошибка открытия порта"), QMessageBox::Ok);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Ошибка открытия порта"));
    EXPECT_EQ(box->text(), QStringLiteral("Порт COM3 не доступен\r\nВыберите другой порт"));
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::Ok));
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::Cancel));
}

TEST(MessageBoxPrompt, RetryCancelBoxHasRetryAsDefault) {
    const auto box =
        MessageBoxPrompt::makeBox(QStringLiteral("Ошибка открытия файла тп.ini для записи"),
                                  QStringLiteral("Ошибка открытия файла "), QMessageBox::Retry);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Retry | QMessageBox::Cancel);
    EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::Retry));
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::Cancel));
}

// Answers the box that is about to come up with one key.
void pressWhenShown(Qt::Key key) {
    QTimer::singleShot(0, [key] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        QTest::keyClick(box, key);
    });
}

TEST(MessageBoxPrompt, EnterTakesTheDefaultAndEscapeCancels) {
    MessageBoxPrompt prompt;
    pressWhenShown(Qt::Key_Return);
    EXPECT_EQ(prompt.askOkCancel(QStringLiteral("?"), QStringLiteral("t")), Answer::Ok);
    pressWhenShown(Qt::Key_Escape);
    EXPECT_EQ(prompt.askOkCancel(QStringLiteral("?"), QStringLiteral("t")), Answer::Cancel);
    pressWhenShown(Qt::Key_Return);
    EXPECT_EQ(prompt.askRetryCancel(QStringLiteral("?"), QStringLiteral("t")), Answer::Retry);
    pressWhenShown(Qt::Key_Escape);
    EXPECT_EQ(prompt.askRetryCancel(QStringLiteral("?"), QStringLiteral("t")), Answer::Cancel);
}

}  // namespace
}  // namespace torvix
