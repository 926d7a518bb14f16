#include "trends/traffic_model.h"

namespace torvix::trends {

TrafficModel::TrafficModel(const TrafficRing& ring, QObject* parent)
    : QAbstractListModel(parent), ring_(ring) {}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

std::optional<std::size_t> TrafficModel::ringIndex(int row) const {
    const unsigned long long oldestKept = ring_.added() - ring_.size();
    const unsigned long long frame = firstShown_ + static_cast<unsigned long long>(row);
    if (row < 0 || row >= rows_ || frame < oldestKept || frame >= ring_.added())
        return std::nullopt;
    return static_cast<std::size_t>(frame - oldestKept);
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    const auto at = ringIndex(index.row());
    if (!at) return {};
    switch (role) {
        case Qt::DisplayRole:
            return ring_.line(*at);
        case kErrorRole:
            return ring_.isError(*at);
        default:
            return {};
    }
}

void TrafficModel::refresh() {
    const unsigned long long oldestKept = ring_.added() - ring_.size();
    const unsigned long long shownEnd = firstShown_ + static_cast<unsigned long long>(rows_);
    if (shownEnd == ring_.added() && firstShown_ >= oldestKept) return;
    if (shownEnd <= oldestKept || rows_ == 0) {
        // Nothing shown is still kept: start over.
        beginResetModel();
        firstShown_ = oldestKept;
        rows_ = static_cast<int>(ring_.size());
        endResetModel();
        return;
    }
    if (firstShown_ < oldestKept) {
        const int gone = static_cast<int>(oldestKept - firstShown_);
        beginRemoveRows({}, 0, gone - 1);
        firstShown_ = oldestKept;
        rows_ -= gone;
        endRemoveRows();
    }
    const int fresh = static_cast<int>(ring_.added() - shownEnd);
    if (fresh > 0) {
        beginInsertRows({}, rows_, rows_ + fresh - 1);
        rows_ += fresh;
        endInsertRows();
    }
}

}  // namespace torvix::trends
