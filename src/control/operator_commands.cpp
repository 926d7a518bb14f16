#include "control/operator_commands.h"

namespace torvix {

void OperatorCommands::modeClicked(int index) {
    const auto request = commands::modeRequest(index);
    if (request && !modbus_.enqueue(*request)) refuse(false);
}

void OperatorCommands::numberClicked(int index) {
    if (index < 0 || index >= commands::kNumberButtons) return;
    const QString text = box_.priorityText();
    const auto number = commands::readTypedNumber(text);
    const auto request = number ? commands::numberRequest(index, *number) : std::nullopt;
    if (!request) {
        display_.setBackground(kTextBox, kRed);
        return;
    }
    if (!modbus_.enqueue(*request)) {
        refuse(true);
        return;
    }
    // The operator sees the number that went out: " 5" becomes "5", "2.5" becomes "2".
    const QString sent = QString::number(*number);
    if (sent != text) box_.setPriorityText(sent);
}

void OperatorCommands::textChanged() {
    display_.setBackground(kTextBox, kWhite);
}

void OperatorCommands::refuse(bool colourBox) {
    // Only a controller that has stopped answering lets 511 requests pile up; the command must
    // not look as if it had been sent.
    if (colourBox) display_.setBackground(kTextBox, kRed);
    status_.setStatusText(status_text::kQueueFull);
}

}  // namespace torvix
