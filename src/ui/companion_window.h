#pragma once
// "Torvix. Графики и запись": trends with the operator's commands marked, the recording and the
// traffic on the line, beside the main window and fed by the same ticks.

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "trends/channels.h"
#include "trends/companion_log.h"

class QComboBox;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QListView;
class QMouseEvent;
class QPushButton;
class QSortFilterProxyModel;
class QTabWidget;
class QUrl;

namespace torvix {

namespace trends {
class TrafficModel;
}
struct ReportRequest;
class RecordingView;
class TrendPlot;

class CompanionWindow : public QWidget {
    Q_OBJECT
public:
    static inline const QString kTitle = QStringLiteral("Torvix. Графики и запись");

    // The spans of the time axis; 0 is the whole run.
    static constexpr std::array<int, 4> kSpanSeconds = {60, 600, 3600, 0};

    // Recordings go into `recordingFolder`.
    CompanionWindow(trends::CompanionLog& log, QString recordingFolder, QWidget* parent = nullptr);
    ~CompanionWindow() override;

    // Draws what the log holds now; the window does it on its own timer while shown.
    void refresh();
    // Takes the new frames into the traffic tab, likewise.
    void refreshTraffic();
    // The trends as PNG, at the plot's size on screen.
    bool savePicture(const QString& path);

    void setSpan(int index);
    void setFollowing(bool following);
    bool isFollowing() const { return following_; }
    void setChannelShown(std::size_t channel, bool shown);
    // The time axis's range, seconds since the epoch.
    std::pair<double, double> timeRange() const;
    // What the cursor line shows at `time`; empty outside the data.
    QString cursorText(double time) const;
    QCustomPlot* plot() const { return plot_; }
    // What opens a written report; the desktop's browser unless replaced.
    void setReportOpener(std::function<void(const QUrl&)> opener);
    // What asks for the protocol's identification and format; ReportDialog unless replaced.
    void setReportAsker(std::function<std::optional<ReportRequest>()> asker);

    // A tab of its own for the recording at `path`, read on a worker thread; the tab of a file
    // already open is shown again.
    RecordingView* openRecording(const QString& path);
    QTabWidget* tabs() const { return tabs_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildTrendsTab();
    QWidget* buildTrafficTab();
    QWidget* buildRecordingRow();
    void toggleRecording();
    void addMark();
    void showRecording();
    void tell(const QString& message);
    void makeReport();
    void drawMarkers();
    void openAsked();
    void moveCursor(QMouseEvent* event);
    void copyTraffic();
    void saveAsked();
    void restartTimer();

    trends::CompanionLog& log_;
    QTabWidget* tabs_;
    TrendPlot* trends_ = nullptr;
    QCustomPlot* plot_ = nullptr;
    QComboBox* span_ = nullptr;
    QPushButton* follow_ = nullptr;
    bool following_ = true;
    double drawnUpTo_ = -1;  // the last sample the plot has drawn
    unsigned long long markersDrawn_ = ~0ull;
    std::pair<double, double> markersRange_{};

    trends::TrafficModel* traffic_ = nullptr;
    QSortFilterProxyModel* trafficFilter_ = nullptr;
    QListView* trafficView_ = nullptr;
    QLabel* trafficCount_ = nullptr;

    QString recordingFolder_;
    QPushButton* record_ = nullptr;
    QLabel* recordFile_ = nullptr;
    QLabel* recordCount_ = nullptr;
    QLabel* recordMessage_ = nullptr;
    QPushButton* report_ = nullptr;
    std::thread reportReader_;
    std::function<void(const QUrl&)> openReport_;
    std::function<std::optional<ReportRequest>()> askReport_;
    QLineEdit* markText_ = nullptr;

    QTimer plotTimer_;
    QTimer trafficTimer_;
};

}  // namespace torvix
