#pragma once
// frm_main: the controls of the layout table, the poll timer and the settings menu command.

#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <functional>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "control/layout_table.h"
#include "control/operator_commands.h"
#include "control/window_sinks.h"
#include "decode/status_fields.h"

namespace torvix {

class Lamp;

class MainWindow : public QMainWindow,
                   public DisplaySink,
                   public StatusLine,
                   public SlaveAddressSource,
                   public PriorityTextBox {
    Q_OBJECT
public:
    // Makes the port settings dialog; `owner` is the window for the modal showing, null otherwise.
    using DialogFactory = std::function<QDialog*(QWidget* owner)>;

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void setPortDialogFactory(DialogFactory factory) { dialogFactory_ = std::move(factory); }
    void setPollTick(std::function<void()> tick) { pollTick_ = std::move(tick); }
    // Clicks and text changes go to `commands` from now on.
    void bind(OperatorCommands& commands);

    // Parts of the start-up.
    void fillSlaveList();
    void showPortDialogModal();
    void startPolling();

    // mnu_graphs, after mnu_settings: runs `open`.
    void addGraphsCommand(std::function<void()> open);
    // mnu_scan, after mnu_graphs: runs `open`.
    void addScanCommand(std::function<void()> open);
    // Selects `address` in cmb_slad; false when the list has no such entry.
    bool selectSlaveAddress(int address);

    // mnu_settings: the one dialog, modeless and without owner.
    void openPortDialog();
    QDialog* portDialog() const { return dialog_; }
    void discardPortDialog();

    QWidget* control(ControlRef ref) const;
    template <class Widget>
    Widget* control(ControlRef ref) const {
        return qobject_cast<Widget*>(control(ref));
    }
    QTimer& pollTimer() { return *timer1_; }

    void setCaption(ControlRef control, const QString& text) override;
    void setLamp(ControlRef lamp, bool lit) override;
    void setBackground(ControlRef control, Rgb colour) override;
    void showStatus(const StatusTexts& texts) override;

    void setStatusText(const QString& text) override;
    QString statusText() const override;
    void repaintNow() override;

    int slaveAddress() const override;

    QString priorityText() const override;
    void setPriorityText(const QString& text) override;

signals:
    // The window was closed: the program ends, even with the modeless dialog still open.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* createControl(const layout::ControlEntry& entry, QWidget* parent);
    QRect toPixels(const layout::Twips& rect) const;
    int toPixels(int twips) const;

    void findStatusControls();
    void addMenuCommand(std::string_view name, std::u16string_view caption,
                        std::function<void()> open);

    // The controls of the status block in the order of the field table, found once.
    struct StatusControls {
        std::array<QLabel*, status_block::kFieldCount> fields{};
        std::array<std::vector<Lamp*>, status_block::kLampRowCount> lamps;
    };

    int dpi_;
    StatusControls status_;
    QLabel* statusLabel_ = nullptr;  // written every tick
    QFont windowFont_;
    std::map<std::pair<std::string_view, int>, QWidget*> controls_;
    QTimer* timer1_;
    std::function<void()> pollTick_;
    DialogFactory dialogFactory_;
    QPointer<QDialog> dialog_;
};

}  // namespace torvix
