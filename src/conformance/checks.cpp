#include "conformance/checks.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

#include "conformance/fuzzer.h"
#include "decode/status_fields.h"
#include "decode/status_snapshot.h"
#include "link/frame_trace.h"
#include "protocol/defaults.h"
#include "protocol/protocol.h"
#include "protocol/request_table.h"

namespace torvix::conformance {
namespace {

using namespace protocol;

constexpr int kResponseReads = 200;
// The window's cadence: the reply must be whole before the next tick.
constexpr double kResponseLimitMs = defaults::kPollIntervalMs;
constexpr double kSplitExtraMs = 20;
constexpr int kFramesPerHealthCheck = 20;
// The values written to the counter: any will do, the window writes them all in turn.
constexpr int kCounterProbeValue = 1;
constexpr int kCounterMultipleProbeValue = 2;

Bytes frame(std::uint8_t address, std::initializer_list<int> pdu) {
    Bytes bytes{address};
    for (int b : pdu) bytes.push_back(static_cast<std::uint8_t>(b));
    appendCrc(bytes);
    return bytes;
}

Bytes read(std::uint8_t address, int function, int first, int count) {
    return frame(address, {function, byteOf(first, 1), byteOf(first, 0), byteOf(count, 1),
                           byteOf(count, 0)});
}

Probe probeOf(Bytes request, bool wholeWindow = false) {
    Probe probe;
    const int normal = normalReplyBytes(request).value_or(kExceptionReplyBytes);
    probe.parts.push_back(std::move(request));
    probe.replyBytes = std::max(normal, kExceptionReplyBytes);
    probe.wholeWindow = wholeWindow;
    return probe;
}

// A probe that must get no reply: the window is that of the status reply it would have had.
Probe silenceProbe(Bytes request) {
    Probe probe = probeOf(std::move(request), true);
    probe.replyBytes = kStatusReplyBytes;
    return probe;
}

bool crcRight(const Bytes& reply) {
    return hasValidCrc(reply);
}

std::optional<int> exceptionOf(const Exchange& exchange, std::uint8_t address, int function) {
    const Bytes& r = exchange.reply;
    if (r.size() != std::size_t(kExceptionReplyBytes) || !crcRight(r) || r[0] != address ||
        r[1] != (function | kExceptionFlag))
        return std::nullopt;
    return r[2];
}

// What came, in a few words: the observed column.
QString described(const Exchange& exchange) {
    if (exchange.refused) return QStringLiteral("не отправлено: %1").arg(*exchange.refused);
    const Bytes& r = exchange.reply;
    if (r.empty()) return QStringLiteral("нет ответа");
    QString text = QStringLiteral("%1 байт").arg(r.size());
    if (r.size() < 4 || !crcRight(r)) return text + QStringLiteral(", КС неверна");
    if (r[1] & kExceptionFlag)
        text += QStringLiteral(", исключение %1").arg(r.size() > 2 ? r[2] : 0);
    else
        text += QStringLiteral(", функция %1").arg(r[1]);
    text += QStringLiteral(", адрес %1").arg(r[0]);
    return text;
}

QString joined(const std::vector<Exchange>& done) {
    QStringList parts;
    for (const Exchange& e : done) parts << described(e);
    return parts.join(QStringLiteral("; "));
}

// A fixed list of probes and a judge over their exchanges.
class FixedScript : public Script {
public:
    using Judge = std::function<Verdict(const std::vector<Exchange>&)>;
    FixedScript(std::vector<Probe> probes, Judge judge)
        : probes_(std::move(probes)), judge_(std::move(judge)) {}
    std::optional<Probe> next(const std::vector<Exchange>& done) override {
        if (done.size() >= probes_.size()) return std::nullopt;
        // A frame the gate refused ends the check: it is a fault of ours, not the controller's.
        if (!done.empty() && done.back().refused) return std::nullopt;
        return probes_[done.size()];
    }
    Verdict judge(const std::vector<Exchange>& done) const override {
        for (const Exchange& e : done)
            if (e.refused) return {Result::Fail, described(e)};
        if (done.size() < probes_.size()) return {Result::Fail, QStringLiteral("не закончена")};
        return judge_(done);
    }

private:
    std::vector<Probe> probes_;
    Judge judge_;
};

Verdict passIf(bool ok, const QString& observed) {
    return {ok ? Result::Pass : Result::Fail, observed};
}

std::unique_ptr<Script> statusReadCheck(const Context& c) {
    const auto address = c.address;
    return std::make_unique<FixedScript>(
        std::vector{statusProbe(address)}, [address](const std::vector<Exchange>& done) {
            const Bytes& r = done[0].reply;
            const bool ok = statusAnswered(done[0], address);
            QString observed = described(done[0]);
            if (r.size() > 2 && crcRight(r) && !(r[1] & kExceptionFlag))
                observed += QStringLiteral(", счётчик байт %1").arg(r[2]);
            return passIf(ok, observed);
        });
}

std::unique_ptr<Script> partialReadsCheck(const Context& c) {
    const auto address = c.address;
    struct Part {
        int first;
        int count;
    };
    constexpr Part kParts[] = {{kStatusFirstRegister, 1},
                               {kStatusFirstRegister + kStatusRegisterCount - 1, 1},
                               {kStatusFirstRegister + 20, 10}};
    std::vector<Probe> probes;
    for (const Part& p : kParts)
        probes.push_back(probeOf(read(address, kReadInputRegisters, p.first, p.count)));
    const auto block = c.block;
    return std::make_unique<FixedScript>(
        probes, [address, block](const std::vector<Exchange>& done) {
            bool ok = true;
            for (std::size_t i = 0; i < done.size(); ++i) {
                const Bytes& r = done[i].reply;
                const int count = done[i].probe.parts[0][5];
                ok = ok && r.size() == std::size_t(5 + 2 * count) && crcRight(r) &&
                     r[0] == address && r[1] == kReadInputRegisters && r[2] == 2 * count;
            }
            QString observed = joined(done);
            const auto version = status_block::info(status_block::Field::ProtocolVersion).reg;
            if (ok && version == 0) {
                const int alone = done[0].reply[3] << 8 | done[0].reply[4];
                observed +=
                    QStringLiteral("; версия протокола %1, в блоке %2")
                        .arg(alone)
                        .arg(block ? QString::number(block->reg(version)) : QStringLiteral("?"));
                ok = block && block->reg(version) == alone;
            }
            return passIf(ok, observed);
        });
}

std::unique_ptr<Script> counterEchoCheck(const Context& c) {
    const Bytes request = frame(
        c.address, {kWriteSingleRegister, byteOf(kCounterRegister, 1), byteOf(kCounterRegister, 0),
                    byteOf(kCounterProbeValue, 1), byteOf(kCounterProbeValue, 0)});
    return std::make_unique<FixedScript>(
        std::vector{probeOf(request)}, [request](const std::vector<Exchange>& done) {
            const Bytes& r = done[0].reply;
            return passIf(r == request, r == request ? QStringLiteral("эхо: %1").arg(hexBytes(r))
                                                     : described(done[0]));
        });
}

std::unique_ptr<Script> writeMultipleCounterCheck(const Context& c) {
    const Bytes request =
        frame(c.address,
              {kWriteMultipleRegisters, byteOf(kCounterRegister, 1), byteOf(kCounterRegister, 0), 0,
               1, 2, byteOf(kCounterMultipleProbeValue, 1), byteOf(kCounterMultipleProbeValue, 0)});
    Bytes expected(request.begin(), request.begin() + 6);
    appendCrc(expected);
    return std::make_unique<FixedScript>(
        std::vector{probeOf(request)}, [expected](const std::vector<Exchange>& done) {
            const Bytes& r = done[0].reply;
            return passIf(r == expected,
                          r == expected ? QStringLiteral("адрес и количество: %1").arg(hexBytes(r))
                                        : described(done[0]));
        });
}

std::unique_ptr<Script> illegalFunctionCheck(const Context& c) {
    const auto address = c.address;
    // Reads of registers that exist where a slave serves them: coil and input 0, holding 400.
    const std::vector<Probe> probes{
        probeOf(read(address, kReadCoils, 0, 1)),
        probeOf(read(address, kReadDiscreteInputs, 0, 1)),
        probeOf(read(address, kReadHoldingRegisters, kCounterRegister, 1)),
        probeOf(frame(address, {kReservedFunction, 0, 0, 0, 1})),
    };
    return std::make_unique<FixedScript>(probes, [address](const std::vector<Exchange>& done) {
        Result result = Result::Pass;
        QStringList observed;
        const auto worst = [&result](Result r) {
            if (r == Result::Fail || (r == Result::Warn && result == Result::Pass)) result = r;
        };
        for (const Exchange& e : done) {
            const Bytes& request = e.probe.parts[0];
            const int function = request[1];
            const auto exception = exceptionOf(e, address, function);
            QString what = QStringLiteral("функция %1: ").arg(function);
            if (function == kReservedFunction) {
                worst(exception == exception_code::kIllegalFunction ? Result::Pass : Result::Fail);
                observed << what + described(e);
                continue;
            }
            const Bytes& r = e.reply;
            const auto normal = normalReplyBytes(request);
            if (exception == exception_code::kIllegalFunction) {
                observed << what + QStringLiteral("исключение 1 (не поддерживается)");
            } else if (normal && r.size() == std::size_t(*normal) && crcRight(r) &&
                       r[0] == address && r[1] == function && r[2] == *normal - 5) {
                observed << what + QStringLiteral("обычный ответ (поддерживается)");
            } else if (exception == exception_code::kIllegalDataAddress) {
                // Served, but not at that register: conformant, only not what we asked about.
                worst(Result::Warn);
                observed << what + QStringLiteral("исключение 2 (поддерживается, не этот адрес)");
            } else {
                worst(Result::Fail);
                observed << what + described(e);
            }
        }
        return Verdict{result, observed.join(QStringLiteral("; "))};
    });
}

std::unique_ptr<Script> exceptionCheck(const Context& c, std::vector<std::pair<int, int>> reads,
                                       int code) {
    const auto address = c.address;
    std::vector<Probe> probes;
    for (const auto& [first, count] : reads)
        probes.push_back(probeOf(read(address, kReadInputRegisters, first, count)));
    return std::make_unique<FixedScript>(
        probes, [address, code](const std::vector<Exchange>& done) {
            bool ok = true;
            for (const Exchange& e : done)
                ok = ok && exceptionOf(e, address, kReadInputRegisters) == code;
            return passIf(ok, joined(done));
        });
}

std::unique_ptr<Script> illegalAddressCheck(const Context& c) {
    return exceptionCheck(c,
                          {{kStatusFirstRegister + kStatusRegisterCount, 1},
                           {kStatusFirstRegister, kStatusRegisterCount + 1}},
                          exception_code::kIllegalDataAddress);
}

std::unique_ptr<Script> illegalQuantityCheck(const Context& c) {
    return exceptionCheck(
        c, {{kStatusFirstRegister, 0}, {kStatusFirstRegister, kMaxReadRegisters + 1}},
        exception_code::kIllegalDataValue);
}

// A frame that must get no reply, then the status read that must.
std::unique_ptr<Script> silenceThenStatus(const Context& c, Probe silent, bool mayWarn) {
    const auto address = c.address;
    return std::make_unique<FixedScript>(
        std::vector{std::move(silent), statusProbe(address)},
        [address, mayWarn](const std::vector<Exchange>& done) {
            const bool quiet = done[0].silent();
            const bool after = statusAnswered(done[1], address);
            const QString observed =
                QStringLiteral("%1; затем чтение состояния: %2")
                    .arg(quiet ? QStringLiteral("нет ответа") : described(done[0]),
                         after ? QStringLiteral("ответ") : described(done[1]));
            if (!after) return Verdict{Result::Fail, observed};
            if (!quiet) return Verdict{mayWarn ? Result::Warn : Result::Fail, observed};
            return Verdict{Result::Pass, observed};
        });
}

std::unique_ptr<Script> otherAddressCheck(const Context& c) {
    return silenceThenStatus(c, silenceProbe(statusRead(otherAddress(c.address))), false);
}

std::unique_ptr<Script> broadcastReadCheck(const Context&) {
    return std::make_unique<FixedScript>(std::vector{silenceProbe(statusRead(kBroadcastAddress))},
                                         [](const std::vector<Exchange>& done) {
                                             return passIf(done[0].silent(), described(done[0]));
                                         });
}

std::unique_ptr<Script> badCrcCheck(const Context& c) {
    Bytes request = statusRead(c.address);
    request.back() ^= 0x01;
    return silenceThenStatus(c, silenceProbe(request), false);
}

std::unique_ptr<Script> splitFrameCheck(const Context& c) {
    const Bytes request = statusRead(c.address);
    const auto half = std::ptrdiff_t(request.size() / 2);
    Probe probe = silenceProbe(request);
    probe.parts = {Bytes(request.begin(), request.begin() + half),
                   Bytes(request.begin() + half, request.end())};
    probe.partGapMs = c.settings.wireMicroseconds(1) * 3.5 / 1000 + kSplitExtraMs;
    return silenceThenStatus(c, probe, true);
}

class ResponseTimeScript : public Script {
public:
    explicit ResponseTimeScript(const Context& c) : address_(c.address), settings_(c.settings) {}
    std::optional<Probe> next(const std::vector<Exchange>& done) override {
        if (int(done.size()) >= kResponseReads) return std::nullopt;
        return statusProbe(address_);
    }
    Verdict judge(const std::vector<Exchange>& done) const override {
        Verdict verdict;
        int late = 0, unanswered = 0;
        for (const Exchange& e : done) {
            if (!statusAnswered(e, address_)) {
                ++unanswered;
                continue;
            }
            const double completeMs = *e.lastByteMs - e.requestEndMs;
            if (completeMs > kResponseLimitMs) ++late;
            // A pseudo-terminal hands the reply over faster than its line would carry it.
            const double replyWireMs = settings_.wireMicroseconds(e.reply.size()) / 1000;
            verdict.turnaroundsMs.push_back(std::max(0.0, completeMs - replyWireMs));
        }
        verdict.result = late == 0 && unanswered == 0 && int(done.size()) == kResponseReads
                             ? Result::Pass
                             : Result::Fail;
        verdict.observed = QStringLiteral("%1 чтений: %2 без ответа, %3 позже %4 мс")
                               .arg(done.size())
                               .arg(unanswered)
                               .arg(late)
                               .arg(kResponseLimitMs);
        return verdict;
    }

private:
    std::uint8_t address_;
    LineSettings settings_;
};

class RobustnessScript : public Script {
public:
    explicit RobustnessScript(const Context& c)
        : context_(c),
          fuzzer_(c.seed, c.address, c.fuzzPolicy),
          startMs_(c.nowMs ? c.nowMs() : 0) {}

    std::optional<Probe> next(const std::vector<Exchange>& done) override {
        if (!context_.fuzzMs) return std::nullopt;
        if (!done.empty() && isHealth(done.size() - 1)) {
            if (!statusAnswered(done.back(), context_.address)) return std::nullopt;
            if (context_.nowMs() - startMs_ >= *context_.fuzzMs) return std::nullopt;
        }
        if (isHealth(done.size())) return statusProbe(context_.address);
        Probe probe = probeOf(fuzzer_.next());
        probe.replyBytes = kMaxFrameBytes;
        return probe;
    }

    Verdict judge(const std::vector<Exchange>& done) const override {
        if (!context_.fuzzMs) return {Result::Skip, QStringLiteral("только с --fuzz")};
        int checks = 0;
        std::size_t lastGood = 0;
        for (std::size_t i = 0; i < done.size(); ++i) {
            if (!isHealth(i)) continue;
            ++checks;
            if (statusAnswered(done[i], context_.address)) {
                lastGood = i + 1;
                continue;
            }
            Verdict verdict;
            verdict.result = Result::Fail;
            verdict.controllerLost = true;
            const Bytes& culprit = i > 0 ? done[i - 1].probe.parts[0] : done[i].probe.parts[0];
            QStringList since;
            for (std::size_t k = lastGood; k < i; ++k) since << hexBytes(done[k].probe.parts[0]);
            verdict.observed =
                QStringLiteral(
                    "контроллер не отвечает после кадра %1: проверьте его перед пуском агрегата "
                    "(--seed %2; кадры после последней удачной проверки: %3)")
                    .arg(hexBytes(culprit))
                    .arg(context_.seed)
                    .arg(since.join(QStringLiteral(" | ")));
            return verdict;
        }
        return {Result::Pass,
                QStringLiteral("%1 кадров, %2 проверок связи, все отвечены (--seed %3)")
                    .arg(done.size() - std::size_t(checks))
                    .arg(checks)
                    .arg(context_.seed)};
    }

private:
    // Every 21st exchange is the health check, after 20 frames of the fuzzer.
    static bool isHealth(std::size_t index) {
        return (index + 1) % (kFramesPerHealthCheck + 1) == 0;
    }

    Context context_;
    Fuzzer fuzzer_;
    double startMs_;
};

template <typename T>
std::unique_ptr<Script> make(const Context& c) {
    return std::make_unique<T>(c);
}

}  // namespace

QString resultName(Result result) {
    switch (result) {
        case Result::Pass:
            return QStringLiteral("pass");
        case Result::Fail:
            return QStringLiteral("fail");
        case Result::Warn:
            return QStringLiteral("warn");
        case Result::Skip:
            return QStringLiteral("skip");
    }
    return {};
}

Bytes statusRead(std::uint8_t address) {
    const auto pdu = requests::statusReadPdu();
    Bytes bytes;
    bytes.reserve(pdu.size() + 3);
    bytes.push_back(address);
    for (std::uint8_t b : pdu) bytes.push_back(b);
    appendCrc(bytes);
    return bytes;
}

std::uint8_t otherAddress(std::uint8_t address) {
    return static_cast<std::uint8_t>(
        address >= defaults::kHighestSlaveAddress ? defaults::kLowestSlaveAddress : address + 1);
}

Probe statusProbe(std::uint8_t address) {
    return probeOf(statusRead(address));
}

bool statusAnswered(const Exchange& exchange, std::uint8_t address) {
    const Bytes& r = exchange.reply;
    return r.size() == std::size_t(kStatusReplyBytes) && crcRight(r) && r[0] == address &&
           r[1] == kReadInputRegisters && r[2] == 2 * kStatusRegisterCount;
}

bool setRunning(const protocol::StatusRegisters& block) {
    const StatusSnapshot snapshot(block);
    const auto& indicators = status_block::kLampRows[0];
    static_assert(status_block::kLampRows[0].id == status_block::LampRowId::Indicators);
    constexpr int kGensetLamp = 0;  // "ДГУ", the first of the row
    return snapshot.raw(status_block::Field::GenF) > 0 || snapshot.lamp(indicators, kGensetLamp);
}

const std::array<CheckInfo, kCheckCount> kChecks{{
    {"status-read", "FC4, 300, 64", "ответ 133 байта, счётчик байт 128, КС верна", false,
     statusReadCheck},
    {"partial-reads", "FC4 of 300x1, 363x1, 320x10",
     "верные длины; версия протокола (300) равна блоку", false, partialReadsCheck},
    {"counter-echo", "FC6 to 400", "эхо запроса байт в байт", false, counterEchoCheck},
    {"write-multiple-counter", "FC16 to 400, one register", "эхо адреса и количества", false,
     writeMultipleCounterCheck},
    {"illegal-function", "FC1, FC2, FC3 reads and the reserved FC 0x21",
     "чтения: обычный ответ или исключение 1; функция 0x21: исключение 1", true,
     illegalFunctionCheck},
    {"illegal-address", "FC4 364x1 and 300x65", "исключение 2 на каждый", false,
     illegalAddressCheck},
    {"illegal-quantity", "FC4 300x0 and 300x126", "исключение 3 на каждый", false,
     illegalQuantityCheck},
    {"other-address", "the status read to address + 1", "нет ответа; следующее чтение отвечено",
     false, otherAddressCheck},
    {"broadcast-read", "the status read to address 0", "нет ответа", false, broadcastReadCheck},
    {"bad-crc", "the status read with its CRC's last bit flipped",
     "нет ответа; следующее чтение отвечено", false, badCrcCheck},
    {"split-frame", "the status read in two halves, 3.5 characters + 20 ms apart",
     "нет ответа ни на одну половину; следующее чтение отвечено", true, splitFrameCheck},
    {"response-time", "200 status reads", "каждый ответ целиком за 100 мс после запроса", false,
     make<ResponseTimeScript>},
    {"robustness", "with --fuzz: seeded random frames, a status read after every 20",
     "каждая проверка связи отвечена", false, make<RobustnessScript>},
}};

const CheckInfo* findCheck(const QString& id) {
    for (const CheckInfo& info : kChecks)
        if (id == QLatin1String(info.id)) return &info;
    return nullptr;
}

}  // namespace torvix::conformance
