#pragma once
// "Torvix. Поиск контроллера": the bus scan's window, modeless beside the main window. The scan
// runs on timers of the GUI thread; nothing here waits for the line.

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "link/clock.h"
#include "link/line_port.h"
#include "scan/scanner.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace torvix {

// What the window needs of the program.
struct ScanWindowHost {
    // тп.ini's port and settings, tried first, and its section "Ports".
    std::function<int()> configuredPort;
    std::function<QString()> configuredSettings;
    std::function<std::map<int, QString>()> portOverrides;
    // Around the scan's use of a port: the main window lets go of its own and takes it back.
    std::function<void(const scan::ScanPort&)> portWanted;
    std::function<void(const scan::ScanPort&)> portReleased;
    // Применить: the main window polls the find from now on; otherwise why not.
    std::function<QString(const scan::Found&)> apply;
};

class ScanWindow : public QWidget {
    Q_OBJECT

public:
    static inline const QString kTitle = QStringLiteral("Torvix. Поиск контроллера");

    explicit ScanWindow(ScanWindowHost host, QWidget* parent = nullptr);
    ~ScanWindow() override;

    bool scanning() const { return scanner_ && scanner_->running(); }
    const std::vector<scan::Found>& found() const { return found_; }
    const scan::Scanner* scanner() const { return scanner_.get(); }

    void find();
    void stopScan();
    void applySelected();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void fillDefaults();
    void showProgress(const scan::Progress& progress);
    void addFound(const scan::Found& found);
    void note(const QString& text);
    void scanFinished();
    void updateButtons();

    ScanWindowHost host_;
    LinePort port_;
    QtClock clock_;
    std::unique_ptr<scan::Scanner> scanner_;
    std::vector<scan::Found> found_;

    QLineEdit* ports_ = nullptr;
    QListWidget* settings_ = nullptr;
    QSpinBox* firstAddress_ = nullptr;
    QSpinBox* lastAddress_ = nullptr;
    QCheckBox* all_ = nullptr;
    QPushButton* find_ = nullptr;
    QPushButton* stop_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* progressText_ = nullptr;
    QListWidget* foundList_ = nullptr;
    QPlainTextEdit* notes_ = nullptr;
    QPushButton* apply_ = nullptr;
};

}  // namespace torvix
