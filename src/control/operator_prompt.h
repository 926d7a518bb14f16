#pragma once
// The modal questions the program puts to the operator (start-up, configuration file).

#include <QString>

namespace torvix {

class OperatorPrompt {
public:
    enum class Answer { Ok, Cancel, Retry };

    virtual ~OperatorPrompt() = default;
    // Stop icon, OK (default) and Cancel; closing the box counts as Cancel.
    virtual Answer askOkCancel(const QString& text, const QString& title) = 0;
    // Stop icon, Retry (default) and Cancel; closing the box counts as Cancel.
    virtual Answer askRetryCancel(const QString& text, const QString& title) = 0;
};

}  // namespace torvix
