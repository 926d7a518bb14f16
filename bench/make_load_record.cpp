// Writes a load test recorded from the simulator's set model: `hours` at `rate` records a
// second, the load switched on and off every minute, every column that torvix-cli records.

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

#include "analysis/model_record.h"
#include "record/status_record.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: make_load_record OUTPUT.csv HOURS RECORDS_PER_SECOND\n");
        return 2;
    }
    torvix::analysis::testing::ModelTest m;
    m.lengthS = args[2].toDouble() * 3600;
    m.spacingS = 1 / args[3].toDouble();
    m.loadOnAtS.clear();
    m.loadOffAtS.clear();
    for (double t = 30; t < m.lengthS; t += 120) {
        m.loadOnAtS.push_back(t);
        m.loadOffAtS.push_back(t + 60);
    }
    // Every other column of a real record, as wide as torvix-cli writes it.
    m.otherKeys.clear();
    const QStringList read = {"time",     "gen_u_a_v",       "gen_u_b_v", "gen_u_c_v",
                              "gen_f_hz", "active_power_kw", "events"};
    for (const QString& key : torvix::record::recordKeys())
        if (!read.contains(key)) m.otherKeys.push_back(key.toUtf8());
    QFile out(args[1]);
    if (!out.open(QIODevice::WriteOnly) || out.write(modelCsv(m)) < 0) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args[1]), qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
