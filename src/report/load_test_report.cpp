#include "report/load_test_report.h"

#include <QBuffer>
#include <QFile>
#include <QSaveFile>
#include <QSemaphore>
#include <QThreadPool>

#include "analysis/analysis_text.h"
#include "report/transient_plot.h"

namespace torvix::report {
namespace {

using analysis::Analysis;
using analysis::Recording;

const QSize kWholeTestSize(1200, 820);
const QSize kStepSize(1000, 720);
constexpr int kPngQuality = 80;

const char* const kStyle = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; margin: 24px; color: #222; }
h1 { font-size: 22px; } h2 { font-size: 18px; margin-top: 28px; }
table { border-collapse: collapse; margin: 8px 0; }
th, td { border: 1px solid #aaa; padding: 4px 8px; text-align: right; }
th { background: #eee; } td:first-child, th:first-child { text-align: center; }
.class { font-size: 18px; font-weight: bold; }
img { display: block; max-width: 100%; border: 1px solid #ccc; margin: 8px 0; }
)";

QString html(const QString& text) {
    return text.toHtmlEscaped();
}

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

QString stepTitle(const Analysis& a, std::size_t i) {
    const analysis::Step& s = a.steps[i];
    return QStringLiteral("Шаг %1: %2 %3 → %4 кВт, t0 = %5 с, класс %6")
        .arg(i + 1)
        .arg(s.increase ? QStringLiteral("наброс") : QStringLiteral("сброс"))
        .arg(s.powerBeforeKw, 0, 'f', 1)
        .arg(s.powerAfterKw, 0, 'f', 1)
        .arg(s.timeS, 0, 'f', 2)
        .arg(QString::fromLatin1(analysis::className(s.performanceClass)));
}

QString wholeTitle(const Recording& r) {
    return QStringLiteral("Всё испытание%1")
        .arg(r.source.isEmpty() ? QString() : QStringLiteral(": ") + r.source);
}

QByteArray pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // A plot has far fewer than 256 colours: as a palette image it costs libpng a quarter of
    // the bytes, and a fast zlib level packs its flat colours well. An hour-long test has
    // dozens of plots.
    image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither)
        .save(&buffer, "PNG", kPngQuality);
    return bytes;
}

QString imgTag(const QByteArray& png, const QString& id, const QString& cls, const QString& alt) {
    return QStringLiteral(
               "<img id=\"%1\" class=\"%2\" alt=\"%3\" src=\"data:image/png;base64,%4\">\n")
        .arg(id, cls, html(alt), QString::fromLatin1(png.toBase64()));
}

QString save(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
    return {};
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

QString writeReport(const Analysis& a, const Recording& r, const QString& htmlPath) {
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

    QString page =
        QStringLiteral(
            "<!DOCTYPE html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<title>Нагрузочное испытание: %1</title>\n<style>%2</style>\n</head>\n<body>\n")
            .arg(html(r.source), QString::fromUtf8(kStyle));
    page += QStringLiteral("<h1>Нагрузочное испытание по ISO 8528-5</h1>\n");
    page += QStringLiteral("<p>Запись: %1; начало %2; длительность %3 с; записей %4.</p>\n")
                .arg(html(r.source.isEmpty() ? QStringLiteral("—") : r.source),
                     html(r.start.toString(Qt::ISODateWithMs)))
                .arg(r.size() ? r.timeS.back() : 0.0, 0, 'f', 1)
                .arg(r.size());
    page += QStringLiteral("<p id=\"rated\">%1</p>\n").arg(html(analysis::ratedLine(a)));
    page += QStringLiteral("<h2>Шаги нагрузки</h2>\n") +
            tableHtml(analysis::stepTable(a), QStringLiteral("steps"));
    page += QStringLiteral("<p class=\"class\" id=\"overall\">%1</p>\n")
                .arg(html(analysis::overallLine(a)));
    if (!a.notes.isEmpty()) {
        page += QStringLiteral("<h2>Примечания</h2>\n<ul id=\"notes\">\n");
        for (const QString& note : a.notes) page += QStringLiteral("<li>%1</li>\n").arg(html(note));
        page += QStringLiteral("</ul>\n");
    }
    page += QStringLiteral(
        "<h2>Пределы классов (ISO 8528-5:2013, таблица 4)</h2>\n"
        "<p>Восстановление частоты — до полосы f<sub>ss</sub> ± α<sub>f</sub>/2, напряжения — до "
        "U<sub>ss</sub> ± ΔU<sub>st</sub>, где f<sub>ss</sub> и U<sub>ss</sub> — средние за "
        "последние "
        "2 с до следующего шага; для класса шага полоса его класса (G1, если ни один не выполнен). "
        "β<sub>f</sub> и ΔU<sub>st</sub> до шага — за 10 с перед t0.</p>\n");
    page += tableHtml(analysis::limitsTable(), QStringLiteral("limits"));
    page += QStringLiteral("<h2>Всё испытание</h2>\n") +
            imgTag(pngs[0], QStringLiteral("plot-whole"), QStringLiteral("plot"), wholeTitle(r));
    for (std::size_t i = 0; i < a.steps.size(); ++i) {
        const QString title = stepTitle(a, i);
        page += QStringLiteral("<h2>%1</h2>\n").arg(html(title)) +
                imgTag(pngs[i + 1], QStringLiteral("plot-step-%1").arg(i + 1),
                       QStringLiteral("plot step"), title);
    }
    page += QStringLiteral(
        "<p>Штриховые вертикали — t0 шагов, пунктирные — конец восстановления; штриховые "
        "горизонтали — полоса восстановления; точки — экстремумы с отклонением от номинала.</p>\n"
        "</body>\n</html>\n");
    return save(htmlPath, page.toUtf8());
}

}  // namespace torvix::report
