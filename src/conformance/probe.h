#pragma once
// One exchange of the protocol test: what goes on the line, and what came back when.

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace torvix::conformance {

using Bytes = std::vector<std::uint8_t>;

// Frames as they crossed the line, for the report: milliseconds since the test began.
struct FrameRecord {
    double tMs = 0;
    bool tx = false;
    Bytes bytes;
};

struct Probe {
    // Written in turn, `partGapMs` apart (a frame split in two); usually one frame.
    std::vector<Bytes> parts;
    double partGapMs = 0;
    // The longest reply that may come, address to CRC: with the wire times it sets the window.
    int replyBytes = 0;
    // Listen to the end of the window even after a whole reply (to catch a second one), or stop
    // at the first whole reply.
    bool wholeWindow = false;
};

struct Exchange {
    Probe probe;
    double requestEndMs = 0;  // the last part's end on the line
    Bytes reply;              // every byte that came in the window
    std::optional<double> firstByteMs;
    std::optional<double> lastByteMs;
    std::optional<QString> refused;  // the safety gate kept the frame off the line

    bool silent() const { return reply.empty(); }
};

}  // namespace torvix::conformance
