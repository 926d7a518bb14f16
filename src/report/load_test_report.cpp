#include "report/load_test_report.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>
#include <QSemaphore>
#include <QThreadPool>

#include "analysis/analysis_text.h"
#include "report/page_parts.h"
#include "report/report_content.h"
#include "report/transient_plot.h"

namespace torvix::report {
namespace {

using analysis::Analysis;
using analysis::Recording;

const QSize kWholeTestSize(1200, 820);
const QSize kStepSize(1000, 720);

const char* const kStyle = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; margin: 24px; color: #222; }
h1 { font-size: 22px; } h2 { font-size: 18px; margin-top: 28px; }
table { border-collapse: collapse; margin: 8px 0; }
th, td { border: 1px solid #aaa; padding: 4px 8px; text-align: right; }
th { background: #eee; } td:first-child, th:first-child { text-align: center; }
table.fields th, table.fields td { text-align: left; border: none; background: none; }
.class { font-size: 18px; font-weight: bold; }
img { display: block; max-width: 100%; border: 1px solid #ccc; margin: 8px 0; }
)";

QString tableHtml(const analysis::TextTable& t, const QString& id) {
    QString out = QStringLiteral("<table id=\"%1\">\n<tr>").arg(id);
    for (const QString& h : t.headings) out += QStringLiteral("<th>%1</th>").arg(html(h));
    out += QStringLiteral("</tr>\n");
    for (const QStringList& row : t.rows) {
        out += QStringLiteral("<tr>");
        for (const QString& cell : row) out += QStringLiteral("<td>%1</td>").arg(html(cell));
        out += QStringLiteral("</tr>\n");
    }
    return out + QStringLiteral("</table>\n");
}

}  // namespace

QImage wholeTestPlot(const Analysis& a, const Recording& r) {
    if (r.size() == 0) return {};
    return transientPlot(a, r, {r.timeS.front(), std::max(r.timeS.back(), r.timeS.front() + 1)},
                         wholeTitle(r), kWholeTestSize);
}

QImage stepPlot(const Analysis& a, const Recording& r, std::size_t index) {
    return transientPlot(a, r, stepSpan(a, r, index), stepTitle(a, index), kStepSize);
}

QString writePlot(const Analysis& a, const Recording& r, const QString& pngPath) {
    return save(pngPath, pngOf(wholeTestPlot(a, r)));
}

QString writeReport(const Analysis& a, const Recording& r,
                    const analysis::Identification& identification, const QString& htmlPath) {
    // Drawing needs the GUI thread, encoding does not: each plot is encoded on the pool while
    // the next is drawn, with few images held at a time.
    std::vector<QByteArray> pngs(a.steps.size() + 1);
    QThreadPool pool;
    QSemaphore room(pool.maxThreadCount() + 1);
    for (std::size_t i = 0; i < pngs.size(); ++i) {
        QImage image = i == 0 ? wholeTestPlot(a, r) : stepPlot(a, r, i - 1);
        room.acquire();
        pool.start([&pngs, &room, i, image = std::move(image)] {
            pngs[i] = pngOf(image);
            room.release();
        });
    }
    pool.waitForDone();

    const std::vector<Block> blocks = protocolBlocks(a, r, identification);
    QString page =
        QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<title>%1</title>\n<style>%2</style>\n</head>\n<body>\n")
            .arg(html(blocks.front().text +
                      (r.source.isEmpty() ? QString() : QStringLiteral(": ") + r.source)),
                 QString::fromUtf8(kStyle));
    const auto idAttribute = [](const Block& b) {
        return b.id.isEmpty() ? QString() : QStringLiteral(" id=\"%1\"").arg(b.id);
    };
    bool inNotes = false;
    for (const Block& b : blocks) {
        if (inNotes && b.kind != Block::Note) page += QStringLiteral("</ul>\n");
        inNotes = inNotes && b.kind == Block::Note;
        switch (b.kind) {
            case Block::Title:
                page += QStringLiteral("<h1>%1</h1>\n").arg(html(b.text));
                break;
            case Block::Fields:
                page += QStringLiteral("<table id=\"identification\" class=\"fields\">\n");
                for (const auto& [label, value] : b.fields)
                    page += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n")
                                .arg(html(label), html(value));
                page += QStringLiteral("</table>\n");
                break;
            case Block::Heading:
                page += QStringLiteral("<h2>%1</h2>\n").arg(html(b.text));
                break;
            case Block::Paragraph:
                page += QStringLiteral("<p%1>%2</p>\n")
                            .arg(idAttribute(b), b.rich ? b.text : html(b.text));
                break;
            case Block::Table:
                page += tableHtml(b.table, b.id);
                break;
            case Block::Emphasis:
                page += QStringLiteral("<p class=\"class\"%1>%2</p>\n")
                            .arg(idAttribute(b), html(b.text));
                break;
            case Block::Note:
                if (!inNotes) page += QStringLiteral("<ul id=\"notes\">\n");
                inNotes = true;
                page += QStringLiteral("<li>%1</li>\n").arg(html(b.text));
                break;
            case Block::Plot:
                page += imgTag(pngs[static_cast<std::size_t>(b.plot + 1)], b.id,
                               b.plot < 0 ? QStringLiteral("plot") : QStringLiteral("plot step"),
                               b.text);
                break;
        }
    }
    if (inNotes) page += QStringLiteral("</ul>\n");
    page += QStringLiteral("</body>\n</html>\n");
    return save(htmlPath, page.toUtf8());
}

}  // namespace torvix::report
