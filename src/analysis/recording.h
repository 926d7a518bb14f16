#pragma once
// A load test's record as the analysis needs it: time, generator frequency, mean phase voltage,
// active power and the events, read from the CSV or JSON lines that torvix-cli writes.

#include <QDateTime>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <variant>
#include <vector>

namespace torvix::analysis {

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
ReadResult readRecording(QIODevice& input);
// line 0: the file cannot be opened.
ReadResult readRecordingFile(const QString& path);

// The column names the analysis reads.
namespace key {
inline constexpr char kTime[] = "time";
inline constexpr char kFrequency[] = "gen_f_hz";
inline constexpr char kPower[] = "active_power_kw";
inline constexpr char kEvents[] = "events";
inline constexpr const char* kPhaseVoltages[] = {"gen_u_a_v", "gen_u_b_v", "gen_u_c_v"};
}  // namespace key

}  // namespace torvix::analysis
