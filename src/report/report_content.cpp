#include "report/report_content.h"

#include <QDate>
#include <QLocale>
#include <cstdlib>

namespace torvix::report {

using analysis::Analysis;
using analysis::Recording;

namespace {

// "UTC+03:00": the record keeps the offset its clock had.
QString utcOffset(const QDateTime& time) {
    const int minutes = time.offsetFromUtc() / 60;
    return QStringLiteral("UTC%1%2:%3")
        .arg(minutes < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        .arg(std::abs(minutes) / 60, 2, 10, QLatin1Char('0'))
        .arg(std::abs(minutes) % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

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

QString signaturesLine(const analysis::Identification& id) {
    const auto who = [](const QString& name) {
        return name.isEmpty() ? QStringLiteral("________________") : name;
    };
    return QStringLiteral(
               "Испытание провёл: %1  ____________     Представитель заказчика: "
               "________________  ____________")
        .arg(who(id.engineer));
}

std::vector<Block> protocolBlocks(const Analysis& a, const Recording& r,
                                  const analysis::Identification& id) {
    std::vector<Block> blocks;
    const auto add = [&blocks](Block::Kind kind, const QString& text) -> Block& {
        Block& block = blocks.emplace_back();
        block.kind = kind;
        block.text = text;
        return block;
    };
    add(Block::Title, id.title.isEmpty()
                          ? QStringLiteral("Протокол нагрузочного испытания по ISO 8528-5")
                          : id.title);

    const QLocale russian(QLocale::Russian, QLocale::Russia);
    const QString none = QStringLiteral("—");
    const auto given = [&none](const QString& text) { return text.isEmpty() ? none : text; };
    const QDateTime end = r.start.addMSecs(qRound64((r.size() ? r.timeS.back() : 0.0) * 1000));
    Block& fields = add(Block::Fields, {});
    fields.fields = {
        {QStringLiteral("Агрегат"), given(id.set)},
        {QStringLiteral("Заказчик"), given(id.customer)},
        {QStringLiteral("Объект"), given(id.site)},
        {QStringLiteral("Испытатель"), given(id.engineer)},
        {QStringLiteral("Дата протокола"),
         russian.toString(QDate::currentDate(), QStringLiteral("d MMMM yyyy"))},
        {QStringLiteral("Запись"), given(r.source)},
        {QStringLiteral("Время записи"),
         r.start.isValid() ? QStringLiteral("%1 — %2 (%3)")
                                 .arg(r.start.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                                      end.toString(QStringLiteral("HH:mm:ss")), utcOffset(r.start))
                           : none},
        {QStringLiteral("Длительность"), QStringLiteral("%1 с, записей %2")
                                             .arg(r.size() ? r.timeS.back() : 0.0, 0, 'f', 1)
                                             .arg(r.size())},
    };
    if (!id.note.isEmpty()) fields.fields.push_back({QStringLiteral("Примечание"), id.note});

    add(Block::Paragraph, analysis::ratedLine(a)).id = QStringLiteral("rated");
    add(Block::Heading, QStringLiteral("Шаги нагрузки"));
    Block& steps = add(Block::Table, {});
    steps.table = analysis::stepTable(a);
    steps.id = QStringLiteral("steps");
    add(Block::Emphasis, analysis::overallLine(a)).id = QStringLiteral("overall");
    if (a.contract) add(Block::Emphasis, analysis::contractLine(a)).id = QStringLiteral("contract");
    if (const QString line = analysis::notJudgedLine(a); !line.isEmpty())
        add(Block::Paragraph, line);

    if (!a.notes.isEmpty()) {
        add(Block::Heading, QStringLiteral("Примечания"));
        for (const QString& note : a.notes) add(Block::Note, note);
    }
    if (a.contract) {
        add(Block::Heading, QStringLiteral("Пределы договора «%1»").arg(a.contract->name));
        add(Block::Paragraph,
            QStringLiteral("Отклонения — по модулю; t_f и t_U — те же, что в таблице шагов; "
                           "«—» — договор предела не ставит."));
        Block& limits = add(Block::Table, {});
        limits.table = analysis::contractTable(*a.contract);
        limits.id = QStringLiteral("contract-limits");
    }
    add(Block::Heading, QStringLiteral("Пределы классов (ISO 8528-5:2013, таблица 4)"));
    add(Block::Paragraph,
        QStringLiteral(
            "Восстановление частоты — до полосы f<sub>ss</sub> ± α<sub>f</sub>/2, напряжения — "
            "до U<sub>ss</sub> ± ΔU<sub>st</sub>, где f<sub>ss</sub> и U<sub>ss</sub> — средние "
            "за последние 2 с окна шага; окно кончается на следующем шаге, на останове агрегата "
            "или в конце записи. Для класса шага — полоса его класса (G1, если ни один не "
            "выполнен). β<sub>f</sub> и ΔU<sub>st</sub> до шага — за 10 с перед t0, но не "
            "раньше восстановления предыдущего шага и без записей остановленного агрегата."))
        .rich = true;
    Block& limits = add(Block::Table, {});
    limits.table = analysis::limitsTable();
    limits.id = QStringLiteral("limits");

    add(Block::Heading, QStringLiteral("Всё испытание"));
    add(Block::Plot, wholeTitle(r)).id = QStringLiteral("plot-whole");
    for (std::size_t i = 0; i < a.steps.size(); ++i) {
        add(Block::Heading, stepTitle(a, i));
        Block& plot = add(Block::Plot, stepTitle(a, i));
        plot.plot = static_cast<int>(i);
        plot.id = QStringLiteral("plot-step-%1").arg(i + 1);
    }
    add(Block::Paragraph,
        QStringLiteral("Штриховые вертикали — t0 шагов, пунктирные — конец восстановления; "
                       "штриховые горизонтали — полоса восстановления; точки — экстремумы с "
                       "отклонением от номинала."));
    return blocks;
}

}  // namespace torvix::report
