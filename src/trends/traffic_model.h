#pragma once
// The traffic ring as a list for a view: one trace line a row, taken in on refresh() only,
// so a view redraws a few times a second rather than at every frame.

#include <QAbstractListModel>
#include <optional>

#include "trends/traffic_ring.h"

namespace torvix::trends {

class TrafficModel : public QAbstractListModel {
    Q_OBJECT
public:
    // Qt::UserRole: true for a reply that was not an answer.
    static constexpr int kErrorRole = Qt::UserRole;

    explicit TrafficModel(const TrafficRing& ring, QObject* parent = nullptr);

    // Brings the rows up to the ring: drops the rows it overwrote, appends the new frames.
    void refresh();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    // Where row `row` is in the ring now; the ring moves on between refreshes.
    std::optional<std::size_t> ringIndex(int row) const;

    const TrafficRing& ring_;
    unsigned long long firstShown_ = 0;  // the frame number of row 0
    int rows_ = 0;
};

}  // namespace torvix::trends
