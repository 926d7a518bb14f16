#pragma once
// The command buttons and the priority text box: each accepted click queues one write request.

#include <QString>

#include "control/operator_requests.h"
#include "control/tick_presenter.h"
#include "control/window_sinks.h"
#include "link/modbus.h"

namespace torvix {

// txt_prior_sec as the commands read and rewrite it. Rewriting fires the box's change rule.
class PriorityTextBox {
public:
    virtual ~PriorityTextBox() = default;
    virtual QString priorityText() const = 0;
    virtual void setPriorityText(const QString& text) = 0;
};

class OperatorCommands {
public:
    static constexpr ControlRef kTextBox{"txt_prior_sec"};

    OperatorCommands(Modbus& modbus, DisplaySink& display, StatusLine& status, PriorityTextBox& box)
        : modbus_(modbus), display_(display), status_(status), box_(box) {}

    // cmd_mode(index) clicked.
    void modeClicked(int index);
    // cmd_mode_pr(index) clicked: sends the typed number, or turns the box red.
    void numberClicked(int index);
    // The text of txt_prior_sec changed, by typing or by a click that normalised it.
    void textChanged();

private:
    void refuse(bool colourBox);

    Modbus& modbus_;
    DisplaySink& display_;
    StatusLine& status_;
    PriorityTextBox& box_;
};

}  // namespace torvix
