#pragma once
// The one door every frame of the protocol test, its fuzzer and `raw` goes through before it
// reaches the line: the controller sits on a running generator, and nothing we send by
// ourselves may command the set or write anything but the transaction counter.

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

namespace torvix::conformance {

// Public, not assigned to any function, not among the codes the standard keeps for legacy
// devices, not user-defined: a conformant slave refuses it with exception 1 and nothing acts
// on it. 9, 10, 13 and 14 were Modicon programming codes and 125 replaces firmware, so those
// are never sent, nor the user-defined 65..72 and 100..110, which a vendor may use for anything.
inline constexpr std::uint8_t kReservedFunction = 0x21;

enum class Policy {
    // The checks and the fuzzer: with a right CRC only reads (functions 1..4), function 8
    // sub-function 0, the counter 400 written alone (function 6, or 16 with one register),
    // and kReservedFunction; to the broadcast address only the status read.
    Probe,
    // The fuzzer's --all-functions: besides, every public function that reads or is not
    // assigned; still never a write of anything but 400, another function 8 sub-function,
    // a legacy or user-defined code, or a broadcast other than the status read.
    AllFunctions,
    // `raw`: the user's own frame; only writes of the commands' registers 401 and 402 refused.
    Raw,
    // `raw --allow-commands`: everything the user typed.
    RawWithCommands,
};

// Empty when the frame may go out; otherwise why not, in Russian. Every stretch of the frame
// that ends in the right CRC of the bytes before it is judged as a frame of its own, since a
// slave that cuts frames by their length takes such a stretch as a request.
std::optional<QString> refusal(std::span<const std::uint8_t> frame, Policy policy);

}  // namespace torvix::conformance
