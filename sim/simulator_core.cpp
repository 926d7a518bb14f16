#include "sim/simulator_core.h"

#include <QJsonArray>

#include "protocol/defaults.h"

namespace torvix::sim {
namespace {

bool falls(std::uint64_t requestNumber, int every) {
    return every > 0 && requestNumber % static_cast<std::uint64_t>(every) == 0;
}

// Another slave's address, never ours and never the broadcast.
std::uint8_t otherAddress(std::uint8_t ours) {
    return static_cast<std::uint8_t>(
        ours >= defaults::kHighestSlaveAddress ? defaults::kLowestSlaveAddress : ours + 1);
}

}  // namespace

Fault faultFor(std::uint64_t requestNumber, const FaultOptions& options) {
    if (falls(requestNumber, options.dropEvery)) return Fault::Drop;
    if (falls(requestNumber, options.exceptionEvery)) return Fault::Exception;
    if (falls(requestNumber, options.garbageEvery)) return Fault::Garbage;
    if (falls(requestNumber, options.badCrcEvery)) return Fault::BadCrc;
    if (falls(requestNumber, options.wrongAddressEvery)) return Fault::WrongAddress;
    return Fault::None;
}

SimulatorCore::SimulatorCore(const GensetConfig& genset, std::uint8_t address,
                             const FaultOptions& faults)
    : model_(genset),
      slave_(model_, address),
      faults_(faults),
      garbageRng_(genset.seed ^ 0x9E3779B9u) {}

std::vector<std::uint8_t> SimulatorCore::garbageBytes() {
    std::vector<std::uint8_t> bytes(1 + garbageRng_() % 40);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(garbageRng_() & 0xFFu);
    return bytes;
}

bool SimulatorCore::slowReplyDue() const {
    return falls(counters_.requests, breaks_.slowReplyEvery);
}

std::vector<std::uint8_t> SimulatorCore::ruleBroken(FrameVerdict verdict,
                                                    std::span<const std::uint8_t> frame) {
    constexpr std::size_t kServable = 4;  // address, function and two more bytes
    switch (verdict) {
        case FrameVerdict::TooShort:
        case FrameVerdict::BadCrc:
            if (breaks_.hangAfterMalformed > 0 &&
                ++malformed_ >= std::uint64_t(breaks_.hangAfterMalformed))
                hung_ = true;
            if (!breaks_.answerBadCrc || frame.size() < kServable || frame[0] != address())
                return {};
            break;
        case FrameVerdict::OtherAddress:
            if (!breaks_.answerOtherAddress) return {};
            break;
        case FrameVerdict::Broadcast:
            if (!breaks_.answerBroadcast || frame[1] != protocol::kReadInputRegisters) return {};
            break;
        case FrameVerdict::ForUs:
            return {};
    }
    auto reply = slave_.execute(frame);
    // As the slave it was asked for: the reply names the address of the request.
    if (verdict == FrameVerdict::OtherAddress) {
        reply.resize(reply.size() - 2);
        reply[0] = frame[0];
        protocol::appendCrc(reply);
    }
    ++counters_.replies;
    return reply;
}

std::vector<std::uint8_t> SimulatorCore::onFrame(std::span<const std::uint8_t> frame) {
    ++counters_.frames;
    if (hung_) return {};
    const FrameVerdict verdict = slave_.judge(frame);
    if (breaks_.any() && verdict != FrameVerdict::ForUs) {
        // The counts stay those of a conformant slave's view of the frame.
        if (auto reply = ruleBroken(verdict, frame); !reply.empty()) {
            if (verdict == FrameVerdict::OtherAddress) ++counters_.otherAddress;
            if (verdict == FrameVerdict::Broadcast) ++counters_.broadcasts;
            if (verdict == FrameVerdict::BadCrc || verdict == FrameVerdict::TooShort)
                ++counters_.badCrc;
            return reply;
        }
        if (hung_) {
            ++counters_.badCrc;
            return {};
        }
    }
    switch (verdict) {
        case FrameVerdict::TooShort:
        case FrameVerdict::BadCrc:
            ++counters_.badCrc;
            return {};
        case FrameVerdict::OtherAddress:
            ++counters_.otherAddress;
            return {};
        case FrameVerdict::Broadcast:
            ++counters_.broadcasts;
            slave_.execute(frame);
            return {};
        case FrameVerdict::ForUs:
            break;
    }

    ++counters_.requests;
    // Drop, exception and garbage stand for a request that never got through: nothing acts.
    switch (faultFor(counters_.requests, faults_)) {
        case Fault::Drop:
            ++counters_.dropped;
            return {};
        case Fault::Exception:
            ++counters_.injectedExceptions;
            ++counters_.replies;
            return slave_.exceptionReply(frame[1], faults_.exceptionCode);
        case Fault::Garbage:
            ++counters_.garbage;
            ++counters_.replies;
            return garbageBytes();
        case Fault::BadCrc: {
            ++counters_.corruptedCrc;
            ++counters_.replies;
            auto reply = slave_.execute(frame);
            reply[reply.size() - 2] ^= 0xFFu;
            return reply;
        }
        case Fault::WrongAddress: {
            ++counters_.wrongAddress;
            ++counters_.replies;
            auto reply = slave_.execute(frame);
            reply.resize(reply.size() - 2);
            reply[0] = otherAddress(slave_.address());
            protocol::appendCrc(reply);
            return reply;
        }
        case Fault::None:
            break;
    }

    auto reply = slave_.execute(frame);
    if (reply[1] & protocol::kExceptionFlag) {
        ++counters_.exceptions;
        if (breaks_.silentExceptions) return {};
    }
    ++counters_.replies;
    return reply;
}

QJsonObject SimulatorCore::state() const {
    const auto n = [](std::uint64_t v) { return static_cast<qint64>(v); };
    QJsonArray input;
    for (std::uint16_t v : model_.statusBlock()) input.append(v);
    QJsonObject holding;
    for (int a = protocol::kFirstHoldingRegister;
         a < protocol::kFirstHoldingRegister + protocol::kHoldingRegisterCount; ++a)
        holding.insert(QString::number(a), model_.holdingRegister(a));
    QJsonArray commands;
    for (std::uint16_t code : model_.recentCommands()) commands.append(code);

    const SimCounters& c = counters_;
    return QJsonObject{
        {"address", slave_.address()},
        {"input_registers", input},
        {"holding_registers", holding},
        {"counter", model_.holdingRegister(protocol::kCounterRegister)},
        {"commands", commands},
        {"command_count", n(model_.commandCount())},
        {"running", model_.running()},
        {"load", model_.loadOn()},
        {"section", model_.sectionOn()},
        {"autostart", model_.autostartOn()},
        {"section_number", model_.sectionNumber()},
        {"priority", model_.priority()},
        {"neighbour_section", model_.neighbourSection()},
        {"frames", n(c.frames)},
        {"requests", n(c.requests)},
        {"broadcasts", n(c.broadcasts)},
        {"bad_crc", n(c.badCrc)},
        {"other_address", n(c.otherAddress)},
        {"replies", n(c.replies)},
        {"exceptions", n(c.exceptions)},
        {"faults", QJsonObject{{"dropped", n(c.dropped)},
                               {"exception", n(c.injectedExceptions)},
                               {"garbage", n(c.garbage)},
                               {"bad_crc", n(c.corruptedCrc)},
                               {"wrong_address", n(c.wrongAddress)},
                               {"hangups", n(c.hangups)}}},
    };
}

QString SimulatorCore::summaryLine() const {
    const SimCounters& c = counters_;
    return QStringLiteral(
               "requests=%1 replies=%2 bad_crc_in=%3 other_address=%4 faults=%5 "
               "(drop=%6 exc=%7 garbage=%8 crc=%9 addr=%10 hangup=%11) counter=%12 commands=%13 "
               "%14")
        .arg(c.requests)
        .arg(c.replies)
        .arg(c.badCrc)
        .arg(c.otherAddress)
        .arg(c.faultsInjected())
        .arg(c.dropped)
        .arg(c.injectedExceptions)
        .arg(c.garbage)
        .arg(c.corruptedCrc)
        .arg(c.wrongAddress)
        .arg(c.hangups)
        .arg(model_.holdingRegister(protocol::kCounterRegister))
        .arg(model_.commandCount())
        .arg(model_.running() ? QStringLiteral("running") : QStringLiteral("stopped"));
}

}  // namespace torvix::sim
