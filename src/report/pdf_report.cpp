#include "report/pdf_report.h"

#include <qcustomplot.h>

#include <QAbstractTextDocumentLayout>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <functional>
#include <memory>

#include "report/report_content.h"
#include "report/transient_plot.h"

namespace torvix::report {
namespace {

// One unit a point: the layout below reads in the units of a printed page.
constexpr int kPointsPerInch = 72;
constexpr double kFooterHeight = 34;
constexpr double kGap = 6;
constexpr double kHeadingRoom = 40;
constexpr double kPlotAspect = 0.68;  // height to width: two plots a page
const QString kFont = QStringLiteral("DejaVu Sans");

const char* const kStyle = R"(
h1 { font-size: 15pt; } h2 { font-size: 11pt; }
th { background-color: #eeeeee; font-weight: bold; }
.class { font-size: 11pt; font-weight: bold; }
)";

// Something to put on a page: its height, and how to draw it at the top left of `where`.
struct Item {
    double height;
    bool keepWithNext;  // a heading stays on the page of what it heads
    std::function<void(QCPPainter&, const QRectF& where)> draw;
};

QString escaped(const QString& text) {
    return text.toHtmlEscaped();
}

QString tableHtml(const analysis::TextTable& t, double pointSize) {
    QString out = QStringLiteral(
                      "<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\" "
                      "style=\"font-size: %1pt; border-color: #999999;\"><tr>")
                      .arg(pointSize);
    for (const QString& h : t.headings)
        out += QStringLiteral("<th align=\"center\">%1</th>").arg(escaped(h));
    out += QStringLiteral("</tr>");
    for (const QStringList& row : t.rows) {
        out += QStringLiteral("<tr>");
        for (const QString& cell : row)
            out += QStringLiteral("<td align=\"right\">%1</td>").arg(escaped(cell));
        out += QStringLiteral("</tr>");
    }
    return out + QStringLiteral("</table>");
}

QString fieldsHtml(const std::vector<std::pair<QString, QString>>& fields) {
    QString out = QStringLiteral("<table cellspacing=\"0\" cellpadding=\"2\">");
    for (const auto& [label, value] : fields)
        out += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>")
                   .arg(escaped(label), escaped(value).replace(u'\n', QStringLiteral("<br>")));
    return out + QStringLiteral("</table>");
}

class Layout {
public:
    Layout(QPdfWriter& writer, double width, double pageHeight)
        : writer_(writer), width_(width), pageHeight_(pageHeight) {}

    // Text laid out for the page's width; taller than a page, it is scaled down to one, so
    // that a table is never split.
    void text(const QString& html, bool keepWithNext = false) {
        auto document = std::make_shared<QTextDocument>();
        document->documentLayout()->setPaintDevice(&writer_);
        document->setDefaultFont(QFont(kFont, 9));
        document->setDefaultStyleSheet(QString::fromUtf8(kStyle));
        document->setDocumentMargin(0);
        document->setHtml(html);
        document->setTextWidth(width_);
        // Room is left for the heading above, which stays on the same page.
        const double room = pageHeight_ - kHeadingRoom;
        const double natural = document->size().height();
        const double scale = natural > room ? room / natural : 1.0;
        if (scale < 1) document->setTextWidth(width_ / scale);
        const double height = document->size().height() * scale;
        items_.push_back({height, keepWithNext, [document, scale](QCPPainter& p, const QRectF& at) {
                              p.save();
                              p.translate(at.topLeft());
                              p.scale(scale, scale);
                              document->drawContents(&p);
                              p.restore();
                          }});
    }

    void plot(std::function<void(QCPPainter&, const QRect&)> draw) {
        const double height = width_ * kPlotAspect;
        items_.push_back({height, false, [draw = std::move(draw)](QCPPainter& p, const QRectF& at) {
                              draw(p, at.toRect());
                          }});
    }

    const std::vector<Item>& items() const { return items_; }

private:
    QPdfWriter& writer_;
    double width_;
    double pageHeight_;
    std::vector<Item> items_;
};

}  // namespace

QString writePdf(const analysis::Analysis& a, const analysis::Recording& r,
                 const analysis::Identification& identification, const QString& pdfPath) {
    QSaveFile file(pdfPath);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: %2").arg(pdfPath, file.errorString());
    const std::vector<Block> blocks = protocolBlocks(a, r, identification);
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(20, 12, 12, 10), QPageLayout::Millimeter);
        writer.setResolution(kPointsPerInch);
        writer.setTitle(blocks.front().text);
        writer.setCreator(QStringLiteral("torvix-report"));
        const QRectF page(0, 0, writer.width(), writer.height());
        const double bodyHeight = page.height() - kFooterHeight;

        Layout layout(writer, page.width(), bodyHeight);
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            const Block& b = blocks[i];
            // A plot carries its title: a heading above it would only repeat it on paper.
            if (b.kind == Block::Heading && i + 1 < blocks.size() &&
                blocks[i + 1].kind == Block::Plot)
                continue;
            switch (b.kind) {
                case Block::Title:
                    layout.text(QStringLiteral("<h1>%1</h1>").arg(escaped(b.text)));
                    break;
                case Block::Fields:
                    layout.text(fieldsHtml(b.fields));
                    break;
                case Block::Heading:
                    layout.text(QStringLiteral("<h2>%1</h2>").arg(escaped(b.text)), true);
                    break;
                case Block::Paragraph:
                    layout.text(QStringLiteral("<p>%1</p>").arg(b.rich ? b.text : escaped(b.text)));
                    break;
                case Block::Table:
                    layout.text(tableHtml(b.table, b.table.headings.size() > 8 ? 7 : 8));
                    break;
                case Block::Emphasis:
                    layout.text(QStringLiteral("<p class=\"class\">%1</p>").arg(escaped(b.text)));
                    break;
                case Block::Note:
                    layout.text(QStringLiteral("<p>• %1</p>").arg(escaped(b.text)));
                    break;
                case Block::Plot: {
                    if (r.size() == 0) break;
                    const int index = b.plot;
                    const QString title = b.text;
                    layout.plot([&a, &r, index, title](QCPPainter& p, const QRect& where) {
                        const PlotSpan span =
                            index < 0 ? PlotSpan{r.timeS.front(),
                                                 std::max(r.timeS.back(), r.timeS.front() + 1)}
                                      : stepSpan(a, r, static_cast<std::size_t>(index));
                        paintTransientPlot(p, where, a, r, span, title);
                    });
                    break;
                }
            }
        }

        // Pages first, so that every footer can say how many there are.
        const std::vector<Item>& items = layout.items();
        std::vector<std::pair<int, double>> placed(items.size());
        int pageNumber = 0;
        double y = 0;
        for (std::size_t i = 0; i < items.size(); ++i) {
            double needed = items[i].height;
            if (items[i].keepWithNext && i + 1 < items.size()) needed += kGap + items[i + 1].height;
            if (y > 0 && y + needed > bodyHeight) {
                ++pageNumber;
                y = 0;
            }
            placed[i] = {pageNumber, y};
            y += items[i].height + kGap;
        }
        const int pages = pageNumber + 1;

        QCPPainter painter(&writer);
        const QString signatures = signaturesLine(identification);
        const QString foot = blocks.front().text +
                             (r.source.isEmpty() ? QString() : QStringLiteral(" — ") + r.source);
        const auto footer = [&](int number) {
            painter.save();
            painter.setFont(QFont(kFont, 7));
            painter.setPen(QPen(QColor(0x55, 0x55, 0x55), 0.5));
            const double top = page.height() - kFooterHeight + 8;
            painter.drawLine(QPointF(0, top), QPointF(page.width(), top));
            const QRectF line1(0, top + 3, page.width(), 11);
            const QRectF line2(0, top + 14, page.width(), 11);
            painter.drawText(line1, Qt::AlignLeft | Qt::AlignVCenter, signatures);
            painter.drawText(line2, Qt::AlignLeft | Qt::AlignVCenter,
                             painter.fontMetrics().elidedText(
                                 foot, Qt::ElideMiddle, static_cast<int>(page.width() * 0.7)));
            painter.drawText(line2, Qt::AlignRight | Qt::AlignVCenter,
                             QStringLiteral("Страница %1 из %2").arg(number + 1).arg(pages));
            painter.restore();
        };
        int current = 0;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (placed[i].first != current) {
                footer(current);
                writer.newPage();
                current = placed[i].first;
            }
            items[i].draw(painter, QRectF(0, placed[i].second, page.width(), items[i].height));
        }
        footer(current);
        painter.end();
    }
    if (!file.commit()) return QStringLiteral("%1: %2").arg(pdfPath, file.errorString());
    return {};
}

}  // namespace torvix::report
