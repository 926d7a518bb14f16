#pragma once
// A recording opened beside the live trends: its channels and markers on the same panels, zoom
// and pan, two cursors with Δt and the differences, and a section saved as recorded, for
// Excel, or as the load-test report.

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/record_section.h"
#include "analysis/recording.h"
#include "trends/markers.h"
#include "trends/recorded_series.h"

class QComboBox;
class QLabel;
class QMouseEvent;
class QProgressBar;
class QPushButton;
class QUrl;

namespace torvix {

class TrendPlot;
struct ReportRequest;

class RecordingView : public QWidget {
    Q_OBJECT
public:
    struct Loaded;  // the recording and its channels, once read

    // Begins reading `path` on a worker thread at once; loaded() or failed() follows.
    explicit RecordingView(QString path, QWidget* parent = nullptr);
    ~RecordingView() override;

    QString path() const { return path_; }
    bool isLoaded() const { return loaded_ != nullptr; }
    // What the view tells: the failure with its line, or what was read with a note.
    QString message() const;
    TrendPlot* trends() const { return trends_; }
    const trends::RecordedSeries* series() const;
    const analysis::Recording* recording() const;
    const trends::Markers& markers() const { return markers_; }

    // The whole recording on the time axis.
    void showWhole();
    // Cursor 0 (placed by a click) or 1 (Shift+click), seconds since the epoch; nothing
    // removes it. Each is put on the record nearest.
    void setCursor(int index, std::optional<double> time);
    std::optional<double> cursorTime(int index) const { return cursors_[index]; }

    // The section chosen: 0 between the two cursors, 1.. from a mark to the next.
    QStringList sectionChoices() const;
    void chooseSection(int index);
    std::optional<analysis::RowRange> selectedRows() const;
    // Empty when written, else what failed.
    QString saveSection(const QString& outputPath, analysis::SectionFormat format) const;

    // As the companion window's: what opens a written report, and what asks for its heading.
    void setReportOpener(std::function<void(const QUrl&)> opener);
    void setReportAsker(std::function<std::optional<ReportRequest>()> asker);
    // The load-test report of the section (of the whole recording without one) beside the
    // recording; empty when written and opened, else what failed.
    QString makeReport();

signals:
    void loaded();
    void failed(const QString& message);

private:
    void read();
    void take(std::shared_ptr<Loaded> result);
    void redraw();
    void showCursors();
    void mousePressed(QMouseEvent* event);
    void mouseReleased(QMouseEvent* event);
    void saveAsked(analysis::SectionFormat format);
    void tell(const QString& message);

    QString path_;
    std::thread reader_;
    std::shared_ptr<Loaded> loaded_;
    trends::Markers markers_;
    std::array<std::optional<double>, 2> cursors_;
    std::optional<double> hover_;
    QPoint pressedAt_;
    int section_ = 0;
    std::vector<std::pair<std::size_t, std::size_t>> markSections_;  // rows, both included

    TrendPlot* trends_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* message_ = nullptr;
    QComboBox* sections_ = nullptr;
    std::vector<QPushButton*> actions_;  // enabled once loaded
    std::function<void(const QUrl&)> openReport_;
    std::function<std::optional<ReportRequest>()> askReport_;
};

}  // namespace torvix
