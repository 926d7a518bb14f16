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

// One row per step: the figures, "—" for one that cannot be computed, "н/о" for a limit left
// unjudged, the class, and with --limits whether the step meets the contract.
TextTable stepTable(const Analysis& analysis);
// One row per class: the limits used.
TextTable limitsTable();
// "Номинальные значения: 50 Гц, 230 В (фаза); шаги — по командам send load"
QString ratedLine(const Analysis& analysis);
// "Класс испытания по ISO 8528-5: G2"
QString overallLine(const Analysis& analysis);
// What "н/о" in the step table means; empty when every limit was judged.
QString notJudgedLine(const Analysis& analysis);
// With --limits: "Пределы договора «Договор 17/2026»: выполнен", and the limits, a row a kind.
QString contractLine(const Analysis& analysis);
TextTable contractTable(const ContractLimits& limits);

// Columns padded to their widest cell.
QString alignedText(const TextTable& table);
// The step table, the class and the notes, as `analyze` prints them.
QString tableReport(const Analysis& analysis);
// {"rated": {...}, "steps": [...], "class": ..., "contract": ...} on one line, keys in that
// order; "contract" only with --limits.
QByteArray jsonReport(const Analysis& analysis);

}  // namespace torvix::analysis
