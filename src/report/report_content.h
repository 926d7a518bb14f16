#pragma once
// What the acceptance protocol says, in order, as blocks that the HTML page and the PDF each
// lay out in their own way: one place for its words.

#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "analysis/acceptance.h"
#include "analysis/analysis_text.h"
#include "analysis/recording.h"
#include "analysis/transient_analysis.h"

namespace torvix::report {

struct Block {
    enum Kind {
        Title,      // text
        Fields,     // fields: label and value, the protocol's identification
        Heading,    // text
        Paragraph,  // text; `rich`: our own markup (<sub>), never a user's text
        Table,      // table, with `id` for the page's readers
        Emphasis,   // text: the test's class, the contract's result
        Note,       // text, one of the notes
        Plot,       // plot: -1 the whole test, else the step's index; text: its title
    } kind = Paragraph;
    QString text;
    bool rich = false;
    std::vector<std::pair<QString, QString>> fields;
    analysis::TextTable table;
    QString id;
    int plot = -1;
};

std::vector<Block> protocolBlocks(const analysis::Analysis& analysis,
                                  const analysis::Recording& recording,
                                  const analysis::Identification& identification);

// The title of step `index`'s plot, and of the whole test's.
QString stepTitle(const analysis::Analysis& analysis, std::size_t index);
QString wholeTitle(const analysis::Recording& recording);

// The line for signatures at the foot of every page of the PDF.
QString signaturesLine(const analysis::Identification& identification);

}  // namespace torvix::report
