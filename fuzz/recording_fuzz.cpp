// The load-test reader on any file contents, then the analysis of whatever it read: a read
// either fails naming a line or gives rows in time order; the analysis's JSON always parses.

#include <QBuffer>
#include <QJsonDocument>

#include "analysis/analysis_text.h"
#include "analysis/transient_analysis.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvix::analysis;
    QBuffer buffer;
    buffer.setData(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    buffer.open(QIODevice::ReadOnly);
    const ReadResult result = readRecording(buffer);
    if (const auto* error = std::get_if<ReadError>(&result)) {
        FUZZ_CHECK(error->line >= 1);
        FUZZ_CHECK(!error->message.isEmpty());
        return 0;
    }
    const Recording& r = std::get<Recording>(result);
    FUZZ_CHECK(r.size() >= 1);
    FUZZ_CHECK(r.frequencyHz.size() == r.size() && r.voltageV.size() == r.size() &&
               r.powerKw.size() == r.size());
    FUZZ_CHECK(r.timeS.front() == 0);
    for (std::size_t i = 1; i < r.size(); ++i) FUZZ_CHECK(r.timeS[i] >= r.timeS[i - 1]);
    for (std::size_t i = 0; i < r.events.size(); ++i) {
        FUZZ_CHECK(r.events[i].row < r.size());
        FUZZ_CHECK(i == 0 || r.events[i].row >= r.events[i - 1].row);
    }

    for (const std::optional<double> rated : {std::optional<double>(), std::optional<double>(50)}) {
        const Analysis a = analyze(r, {.powerKw = rated});
        std::size_t previous = 0;
        for (const Step& s : a.steps) {
            FUZZ_CHECK(s.row < s.endRow && s.endRow <= r.size());
            FUZZ_CHECK(s.row >= previous);
            FUZZ_CHECK(s.frequency.extremeRow >= s.row && s.frequency.extremeRow < s.endRow);
            previous = s.row;
        }
        QJsonParseError error{};
        QJsonDocument::fromJson(jsonReport(a), &error);
        FUZZ_CHECK(error.error == QJsonParseError::NoError);
        FUZZ_CHECK(!tableReport(a).isEmpty());
    }
    return 0;
}
