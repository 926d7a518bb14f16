#pragma once
// A pseudo-terminal in raw mode; the master plays the controller's end of the line.

#include <QSocketNotifier>
#include <memory>

#include "sim/line.h"

namespace torvix::sim {

class PtyLine final : public Line {
    Q_OBJECT
public:
    using Line::Line;
    ~PtyLine() override;

    bool open(QString& error) override;
    void close() override;
    bool isOpen() const override { return master_ >= 0; }
    void write(const QByteArray& bytes) override;
    QString devicePath() const override { return slavePath_; }
    // The terminal's settings are shared by every opener: what the master set is read here.
    std::optional<qint32> masterBaudRate() const override;

private:
    void readAvailable();

    int master_ = -1;
    // Held open so the master never reads EIO while no program has the slave open, and so
    // the raw settings survive between the master's visits.
    int slave_ = -1;
    QString slavePath_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace torvix::sim
