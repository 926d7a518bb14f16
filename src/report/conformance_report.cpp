#include "report/conformance_report.h"

#include <qcustomplot.h>

#include <QJsonArray>
#include <algorithm>
#include <cmath>
#include <map>

#include "report/page_parts.h"

namespace torvix::report {
namespace {

const QSize kHistogramSize(900, 420);

const char* const kStyle = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; margin: 24px; color: #222; }
h1 { font-size: 22px; } h2 { font-size: 18px; margin-top: 28px; }
table { border-collapse: collapse; margin: 8px 0; }
th, td { border: 1px solid #aaa; padding: 3px 8px; text-align: left; vertical-align: top; }
th { background: #eee; }
td.pass { background: #d9f2d9; } td.fail { background: #f6d0d0; }
td.warn { background: #fbeec2; } td.skip { color: #777; }
td.hex { font-family: "DejaVu Sans Mono", monospace; }
img { display: block; max-width: 100%; border: 1px solid #ccc; margin: 8px 0; }
)";

QString number(const QJsonValue& value) {
    return value.isDouble() ? QString::number(value.toDouble(), 'f', 1) : QStringLiteral("—");
}

}  // namespace

QImage turnaroundHistogram(const std::vector<double>& turnaroundsMs) {
    QCustomPlot plot;
    plot.plotLayout()->insertRow(0);
    plot.plotLayout()->addElement(
        0, 0,
        new QCPTextElement(
            &plot,
            QStringLiteral("Время оборота контроллера (%1 ответов)").arg(turnaroundsMs.size())));
    const double top =
        turnaroundsMs.empty() ? 1 : *std::max_element(turnaroundsMs.begin(), turnaroundsMs.end());
    // About forty bins over the range, in steps a reader can count: 0.1, 0.2, 0.5, 1 ms ...
    constexpr double kSteps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 20, 50, 100};
    double width = kSteps[std::size(kSteps) - 1];
    for (double step : kSteps)
        if (top / step <= 40) {
            width = step;
            break;
        }
    std::map<long, int> bins;
    for (double ms : turnaroundsMs) ++bins[long(std::floor(ms / width))];
    QVector<double> keys, counts;
    int highest = 1;
    for (const auto& [bin, count] : bins) {
        keys << (double(bin) + 0.5) * width;
        counts << count;
        highest = std::max(highest, count);
    }
    auto* bars = new QCPBars(plot.xAxis, plot.yAxis);
    bars->setWidth(width * 0.9);
    bars->setData(keys, counts);
    bars->setPen(QPen(QColor(40, 90, 160)));
    bars->setBrush(QColor(90, 140, 210));
    plot.xAxis->setLabel(QStringLiteral("начало ответа − конец запроса, мс (время линии вычтено)"));
    plot.yAxis->setLabel(QStringLiteral("ответов"));
    plot.xAxis->setRange(0, std::max(width, (std::floor(top / width) + 1) * width));
    plot.yAxis->setRange(0, highest * 1.1);
    return plot.toPixmap(kHistogramSize.width(), kHistogramSize.height()).toImage();
}

QString writeConformanceReport(const QJsonObject& result, const QString& htmlPath) {
    const QJsonArray checks = result.value(QStringLiteral("checks")).toArray();
    const QJsonObject summary = result.value(QStringLiteral("summary")).toObject();
    const QJsonObject times = result.value(QStringLiteral("response_time_ms")).toObject();

    QString page = QStringLiteral(
                       "<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">\n"
                       "<title>Проверка протокола Modbus RTU</title>\n<style>%1</style></head>\n"
                       "<body>\n<h1>Проверка протокола Modbus RTU: адрес %2, %3</h1>\n")
                       .arg(QString::fromLatin1(kStyle))
                       .arg(result.value(QStringLiteral("address")).toInt())
                       .arg(html(result.value(QStringLiteral("settings")).toString()));
    page += QStringLiteral("<p id=\"summary\">pass %1, fail %2, warn %3, skip %4</p>\n")
                .arg(summary.value(QStringLiteral("pass")).toInt())
                .arg(summary.value(QStringLiteral("fail")).toInt())
                .arg(summary.value(QStringLiteral("warn")).toInt())
                .arg(summary.value(QStringLiteral("skip")).toInt());

    page += QStringLiteral(
        "<table id=\"checks\">\n<tr><th>id</th><th>result</th><th>expected</th>"
        "<th>observed</th></tr>\n");
    for (const QJsonValue& value : checks) {
        const QJsonObject c = value.toObject();
        const QString outcome = c.value(QStringLiteral("result")).toString();
        page += QStringLiteral(
                    "<tr><td><a href=\"#%1\">%1</a></td><td class=\"%2\">%2</td><td>%3</td>"
                    "<td>%4</td></tr>\n")
                    .arg(html(c.value(QStringLiteral("id")).toString()), html(outcome),
                         html(c.value(QStringLiteral("expected")).toString()),
                         html(c.value(QStringLiteral("observed")).toString()));
    }
    page += QStringLiteral("</table>\n");

    page += QStringLiteral(
                "<h2>Время ответа</h2>\n<p id=\"response-time\">Оборот (начало ответа минус "
                "конец запроса, время линии вычтено), мс: мин %1, медиана %2, p99 %3, макс "
                "%4</p>\n")
                .arg(number(times.value(QStringLiteral("min"))),
                     number(times.value(QStringLiteral("median"))),
                     number(times.value(QStringLiteral("p99"))),
                     number(times.value(QStringLiteral("max"))));
    std::vector<double> turnarounds;
    for (const QJsonValue& v : result.value(QStringLiteral("turnarounds_ms")).toArray())
        turnarounds.push_back(v.toDouble());
    if (!turnarounds.empty())
        page += imgTag(pngOf(turnaroundHistogram(turnarounds)), QStringLiteral("histogram"),
                       QStringLiteral("plot"), QStringLiteral("гистограмма времени оборота"));

    page += QStringLiteral("<h2>Кадры</h2>\n");
    for (const QJsonValue& value : checks) {
        const QJsonObject c = value.toObject();
        const QJsonArray frames = c.value(QStringLiteral("frames")).toArray();
        if (frames.isEmpty()) continue;
        const QString id = html(c.value(QStringLiteral("id")).toString());
        page += QStringLiteral(
                    "<h3 id=\"%1\">%1</h3>\n<table class=\"frames\">\n<tr><th>t, мс</th>"
                    "<th></th><th>байты</th></tr>\n")
                    .arg(id);
        for (const QJsonValue& f : frames) {
            const QJsonObject frame = f.toObject();
            page += QStringLiteral("<tr><td>%1</td><td>%2</td><td class=\"hex\">%3</td></tr>\n")
                        .arg(frame.value(QStringLiteral("t_ms")).toDouble(), 0, 'f', 3)
                        .arg(html(frame.value(QStringLiteral("dir")).toString()),
                             html(frame.value(QStringLiteral("hex")).toString()));
        }
        page += QStringLiteral("</table>\n");
    }
    page += QStringLiteral("</body></html>\n");
    return save(htmlPath, page.toUtf8());
}

}  // namespace torvix::report
