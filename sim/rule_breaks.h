#pragma once
// Switches that make the simulator break one rule of Modbus RTU each, so that the protocol
// test can be shown to catch exactly that fault and nothing else.

namespace torvix::sim {

struct RuleBreaks {
    bool answerBadCrc = false;        // a request with a wrong CRC is served as if it were right
    bool answerOtherAddress = false;  // a request for another slave is served, as that slave
    bool answerBroadcast = false;     // a broadcast read gets a reply
    bool silentExceptions = false;    // no reply where an exception is due
    int slowReplyEvery = 0;           // every nth reply goes out slowReplyMs late
    int slowReplyMs = 150;
    int hangAfterMalformed = 0;  // after the nth frame with a wrong CRC, no reply ever again

    bool any() const {
        return answerBadCrc || answerOtherAddress || answerBroadcast || silentExceptions ||
               slowReplyEvery > 0 || hangAfterMalformed > 0;
    }
};

}  // namespace torvix::sim
