#pragma once
// A load test's record as the analysis needs it: time, generator frequency, mean phase voltage,
// active power and the events, read from the CSV or JSON lines that torvix-cli writes.

#include <QDateTime>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

namespace torvix::analysis {

// How the file writes its records.
enum class Layout { Csv, SemicolonCsv, JsonLines };

struct ReadOptions {
    // Number columns to keep whole besides the analysis's own (the trends' channels), as
    // floats; a value that is not a number, or a key a line lacks, reads as NaN.
    std::vector<QByteArray> columns;
    // Called now and then, on the reading thread, with the share of the file read (0..1).
    std::function<void(double)> progress;
};

struct Recording {
    QString source;             // the file's name, when read from a file
    QDateTime start;            // the first record's time, with its offset
    std::vector<double> timeS;  // since the first record
    std::vector<double> frequencyHz;
    std::vector<double> voltageV;  // mean of the phase voltages
    std::vector<double> powerKw;
    struct Event {
        std::size_t row;
        QString text;
    };
    std::vector<Event> events;  // in row order
    QStringList warnings;       // what was read but is worth saying

    Layout layout = Layout::Csv;
    // ReadOptions::columns' values, in their order; empty for a column the file lacks.
    std::vector<std::vector<float>> columns;
    // Where each record begins in the file, and where the last one read ends: a section is
    // written back byte for byte.
    std::vector<qint64> rowOffsets;
    qint64 rowsEnd = 0;

    std::size_t size() const { return timeS.size(); }
};

// What stops the reading; line 1 is the first line of the file.
struct ReadError {
    qsizetype line;
    QString message;
};

using ReadResult = std::variant<Recording, ReadError>;

// CSV (comma and decimal point, or a spreadsheet's semicolon and decimal comma) or JSON lines,
// told apart by the first character. A last line cut short is left out with a warning.
ReadResult readRecording(QIODevice& input, const ReadOptions& options = {});
// line 0: the file cannot be opened.
ReadResult readRecordingFile(const QString& path, const ReadOptions& options = {});

// One CSV record's fields, RFC 4180 quotes taken off, split at `separator`; its text is
// unquoted in place and the fields point into it.
void splitCsvRecord(QByteArray& text, char separator, std::vector<std::string_view>& fields);
// A number as the record or a spreadsheet writes it: "230.5", or "230,5" with `decimalComma`.
std::optional<double> recordNumber(std::string_view text, bool decimalComma);

// The column names the analysis reads.
namespace key {
inline constexpr char kTime[] = "time";
inline constexpr char kFrequency[] = "gen_f_hz";
inline constexpr char kPower[] = "active_power_kw";
inline constexpr char kEvents[] = "events";
inline constexpr const char* kPhaseVoltages[] = {"gen_u_a_v", "gen_u_b_v", "gen_u_c_v"};
}  // namespace key

}  // namespace torvix::analysis
