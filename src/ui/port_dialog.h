#pragma once
// The port settings window "Настройка порта": the face of PortChooser.

#include <QDialog>

#include "control/config.h"
#include "control/port_chooser.h"
#include "control/window_sinks.h"
#include "link/serial_port.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace torvix {

// Deletes itself when closed. The probe runs when it is first shown, for exec() and show()
// alike; every way of closing puts the port back as the configuration then says.
class PortDialog : public QDialog {
    Q_OBJECT

public:
    PortDialog(SerialPort& port, Config& config, StatusLine& status, QWidget* parent = nullptr);

    // True while the probe runs; clicks that arrive meanwhile are ignored, a close waits.
    bool probing() const { return loading_; }

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void showPorts();
    void portChosen(int index);
    void okClicked();
    void cancelClicked();
    void finish();

    PortChooser chooser_;
    Config& config_;
    QComboBox* portList_ = nullptr;
    QLineEdit* settingsBox_ = nullptr;
    bool loaded_ = false;
    bool loading_ = false;
    bool closeWanted_ = false;  // a close asked for while the probe was running
    bool finished_ = false;
};

}  // namespace torvix
