#pragma once
// Counts of what the poll ticks found, and reply times, for the summary at the end.

#include <QString>
#include <optional>
#include <vector>

#include "link/modbus.h"

namespace torvix::cli {

class LinkStatistics {
public:
    // One judged request (a tick that had sent something before).
    void count(Verdict verdict);
    // The time from the end of a request on the line to the last byte of its valid reply.
    void addReplyTime(double milliseconds) { replyTimes_.push_back(milliseconds); }

    long long requests() const { return requests_; }
    long long validReplies() const { return valid_; }
    long long crcMismatches() const { return crc_; }
    long long noAnswers() const { return noAnswer_; }
    long long exceptions() const { return exceptions_; }
    long long errors() const { return crc_ + noAnswer_ + exceptions_; }

    struct Spread {
        double min, median, max;
    };
    std::optional<Spread> replyTimes() const;

    // Two lines in Russian, numbers with a decimal point.
    QString summary() const;

private:
    long long requests_ = 0, valid_ = 0, crc_ = 0, noAnswer_ = 0, exceptions_ = 0;
    std::vector<double> replyTimes_;
};

}  // namespace torvix::cli
