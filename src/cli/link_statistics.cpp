#include "cli/link_statistics.h"

#include <algorithm>

namespace torvix::cli {

void LinkStatistics::count(Verdict verdict) {
    ++requests_;
    switch (verdict) {
        case Verdict::Answered:
            ++valid_;
            break;
        case Verdict::Exception:
            ++exceptions_;
            break;
        case Verdict::CrcMismatch:
            ++crc_;
            break;
        case Verdict::NoAnswer:
            ++noAnswer_;
            break;
    }
}

std::optional<LinkStatistics::Spread> LinkStatistics::replyTimes() const {
    if (replyTimes_.empty()) return std::nullopt;
    std::vector<double> sorted = replyTimes_;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    return Spread{sorted.front(), median, sorted.back()};
}

QString LinkStatistics::summary() const {
    QString text = QStringLiteral(
                       "Запросов: %1, верных ответов: %2, несовпадений КС: %3, без ответа: %4, "
                       "исключений: %5\n")
                       .arg(requests_)
                       .arg(valid_)
                       .arg(crc_)
                       .arg(noAnswer_)
                       .arg(exceptions_);
    if (const auto spread = replyTimes())
        text += QStringLiteral("Время ответа, мс: мин %1, медиана %2, макс %3 (%4 ответов)\n")
                    .arg(spread->min, 0, 'f', 2)
                    .arg(spread->median, 0, 'f', 2)
                    .arg(spread->max, 0, 'f', 2)
                    .arg(replyTimes_.size());
    else
        text += QStringLiteral("Время ответа: не измерено\n");
    return text;
}

}  // namespace torvix::cli
