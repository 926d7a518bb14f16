#include "ui/message_box_prompt.h"

#include <QAbstractButton>
#include <QApplication>

namespace torvix {
namespace {

OperatorPrompt::Answer ask(const QString& text, const QString& title,
                           QMessageBox::StandardButton first) {
    auto box = MessageBoxPrompt::makeBox(text, title, first);
    return MessageBoxPrompt::answerOf(box->exec());
}

}  // namespace

std::unique_ptr<QMessageBox> MessageBoxPrompt::makeBox(const QString& text, const QString& title,
                                                       QMessageBox::StandardButton first) {
    auto box =
        std::make_unique<QMessageBox>(QMessageBox::Critical, title, text,
                                      first | QMessageBox::Cancel, QApplication::activeWindow());
    box->setDefaultButton(first);
    box->setEscapeButton(QMessageBox::Cancel);
    box->button(QMessageBox::Cancel)->setText(QStringLiteral("Отмена"));
    if (first == QMessageBox::Ok) box->button(first)->setText(QStringLiteral("ОК"));
    if (first == QMessageBox::Retry) box->button(first)->setText(QStringLiteral("Повторить"));
    return box;
}

OperatorPrompt::Answer MessageBoxPrompt::answerOf(int button) {
    switch (button) {
        case QMessageBox::Ok:
            return Answer::Ok;
        case QMessageBox::Retry:
            return Answer::Retry;
        default:
            return Answer::Cancel;
    }
}

OperatorPrompt::Answer MessageBoxPrompt::askOkCancel(const QString& text, const QString& title) {
    return ask(text, title, QMessageBox::Ok);
}

OperatorPrompt::Answer MessageBoxPrompt::askRetryCancel(const QString& text, const QString& title) {
    return ask(text, title, QMessageBox::Retry);
}

}  // namespace torvix
