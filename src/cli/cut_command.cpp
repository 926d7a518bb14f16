#include "cli/cut_command.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include "analysis/record_section.h"
#include "analysis/recording.h"
#include "cli/console.h"
#include "cli/exit_code.h"

namespace torvix::cli {
namespace {

const char* const kCutHelp =
    "Writes the records of RECORD (CSV, a spreadsheet's CSV with ';' and decimal commas, or\n"
    "JSON lines) from the one at --from, or the one carrying the mark --from-mark, up to and\n"
    "including the one at --to, or the one carrying the mark --to-mark, with their events.\n"
    "T is seconds from the first record (12.5) or an ISO 8601 time\n"
    "(2026-12-08T07:30:15.000+03:00): --from takes the first record at or after T, --to the\n"
    "last at or before it. A mark is matched by its whole text (as `mark \"text\"` of a script\n"
    "or the window's \"Добавить метку\" wrote it); the first such mark counts.\n"
    "The section is written in the recording's own format, header and bytes unchanged; with\n"
    "--excel as CSV with ';', a decimal comma and a UTF-8 BOM, which a Russian Excel opens as\n"
    "numbers. The output file appears whole or not at all.\n"
    "\n"
    "Exit codes:\n"
    "  0  written\n"
    "  2  usage error, a file that cannot be read or does not parse (with the line), a mark\n"
    "     that is not in the record, a section with no record, or an output that cannot be\n"
    "     written\n";

int fail(const QString& message) {
    tell(message);
    return static_cast<int>(ExitCode::Usage);
}

}  // namespace

int cutMain(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvix-cli"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The records of a recording between two times or marks."));
    const QCommandLineOption help(QStringList{"h", "help"}, "Show this help.");
    const QCommandLineOption from("from", "The section's first record: at or after T.", "T");
    const QCommandLineOption fromMark("from-mark", "The section begins at the record of this mark.",
                                      "text");
    const QCommandLineOption to("to", "The section's last record: at or before T.", "T");
    const QCommandLineOption toMark("to-mark", "The section ends at the record of this mark.",
                                    "text");
    const QCommandLineOption excel("excel", "CSV for a Russian Excel: ';', decimal comma, BOM.");
    const QCommandLineOption output("output", "Write the section to FILE.", "file");
    parser.addOptions({help, from, fromMark, to, toMark, excel, output});
    parser.addPositionalArgument("cut", "", "cut");
    parser.addPositionalArgument("RECORD", "A CSV or JSON lines recording.");
    if (!parser.parse(QCoreApplication::arguments())) return fail(parser.errorText());
    if (parser.isSet(help)) {
        put(stdout, parser.helpText() + u'\n' + QString::fromUtf8(kCutHelp));
        return static_cast<int>(ExitCode::Ok);
    }
    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() != 1)
        return fail(QStringLiteral("cut: нужен один файл записи (torvix-cli cut --help)"));
    if (parser.isSet(from) == parser.isSet(fromMark))
        return fail(QStringLiteral("cut: нужно одно из --from и --from-mark"));
    if (parser.isSet(to) == parser.isSet(toMark))
        return fail(QStringLiteral("cut: нужно одно из --to и --to-mark"));
    if (!parser.isSet(output) || parser.value(output).isEmpty())
        return fail(QStringLiteral("cut: нужен --output FILE"));

    // Both bounds, told apart before the file is read.
    analysis::SectionBound bounds[2];
    const std::pair<const QCommandLineOption*, const QCommandLineOption*> options[2] = {
        {&from, &fromMark}, {&to, &toMark}};
    for (int i = 0; i < 2; ++i) {
        const auto& [time, mark] = options[i];
        if (parser.isSet(*mark)) {
            bounds[i].kind = analysis::SectionBound::Kind::Mark;
            bounds[i].mark = parser.value(*mark);
            continue;
        }
        auto parsed = analysis::sectionTime(parser.value(*time));
        if (const auto* wrong = std::get_if<QString>(&parsed))
            return fail(QStringLiteral("--%1: %2").arg(time->names().constFirst(), *wrong));
        bounds[i] = std::get<analysis::SectionBound>(parsed);
    }

    const QString path = positional.front();
    const analysis::ReadResult read = analysis::readRecordingFile(path);
    if (const auto* bad = std::get_if<analysis::ReadError>(&read))
        return fail(
            bad->line > 0
                ? QStringLiteral("%1, строка %2: %3").arg(path).arg(bad->line).arg(bad->message)
                : bad->message);
    const auto& recording = std::get<analysis::Recording>(read);
    for (const QString& warning : recording.warnings) tell(path + QStringLiteral(": ") + warning);
    const auto section = analysis::findSection(recording, bounds[0], bounds[1]);
    if (const auto* failure = std::get_if<QString>(&section))
        return fail(QStringLiteral("%1: %2").arg(path, *failure));
    const auto rows = std::get<analysis::RowRange>(section);
    const QString failure = analysis::writeSection(
        recording, path, rows,
        parser.isSet(excel) ? analysis::SectionFormat::Excel : analysis::SectionFormat::AsRecorded,
        parser.value(output));
    if (!failure.isEmpty()) return fail(failure);
    tell(QStringLiteral("%1: записей %2 (с %3 по %4 с)")
             .arg(parser.value(output))
             .arg(rows.count())
             .arg(recording.timeS[rows.first], 0, 'f', 3)
             .arg(recording.timeS[rows.last], 0, 'f', 3));
    return static_cast<int>(ExitCode::Ok);
}

}  // namespace torvix::cli
