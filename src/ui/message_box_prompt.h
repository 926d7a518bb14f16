#pragma once
// The operator's questions as modal message boxes with the stop icon.

#include <QMessageBox>
#include <memory>

#include "control/operator_prompt.h"

namespace torvix {

class MessageBoxPrompt : public OperatorPrompt {
public:
    Answer askOkCancel(const QString& text, const QString& title) override;
    Answer askRetryCancel(const QString& text, const QString& title) override;

    // The box as it is shown: stop icon, the first button the default, Cancel also taken by
    // Escape and by closing the box.
    static std::unique_ptr<QMessageBox> makeBox(const QString& text, const QString& title,
                                                QMessageBox::StandardButton first);
    static Answer answerOf(int button);
};

}  // namespace torvix
