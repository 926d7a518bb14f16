#pragma once
// The analysis as text: the JSON of `analyze --format json`, and the tables with Russian
// headings that the terminal and the HTML report both show.

#include <QString>
#include <QStringList>
#include <vector>

#include "analysis/transient_analysis.h"

namespace torvix::analysis {

struct TextTable {
    QStringList headings;
    std::vector<QStringList> rows;
};

// One row per step: the figures, "—" for one that cannot be computed, the class.
TextTable stepTable(const Analysis& analysis);
// One row per class: the limits used.
TextTable limitsTable();
// "Номинальные значения: 50 Гц, 230 В (фаза); шаги — по командам send load"
QString ratedLine(const Analysis& analysis);
// "Класс испытания по ISO 8528-5: G2"
QString overallLine(const Analysis& analysis);

// Columns padded to their widest cell.
QString alignedText(const TextTable& table);
// The step table, the class and the notes, as `analyze` prints them.
QString tableReport(const Analysis& analysis);
// {"rated": {...}, "steps": [...], "class": ...} on one line, keys in that order.
QByteArray jsonReport(const Analysis& analysis);

}  // namespace torvix::analysis
