// Writes a load test recorded from the simulator's set model: `hours` at `rate` records a
// second, the load switched on and off every minute, every column that torvix-cli records.

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

#include "analysis/model_record.h"

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
    // The columns of a real record besides those the analysis reads.
    m.otherKeys = {"gen_i_a_a", "gen_i_b_a", "gen_i_c_a", "section_u_v", "section_f_hz",
                   "bus_u_v", "bus_f_hz", "full_power_kw", "reactive_power_kw", "battery_v",
                   "service_in_h", "running_h", "protocol_version", "software_version",
                   "section", "priority"};
    for (int i = 0; i < 13; ++i) m.otherKeys.push_back("lamp_" + QByteArray::number(i));
    for (int i = 0; i < 3; ++i) m.otherKeys.push_back("relay_" + QByteArray::number(i));
    for (int i = 0; i < 16; ++i) m.otherKeys.push_back("fault_word_" + QByteArray::number(i));
    QFile out(args[1]);
    if (!out.open(QIODevice::WriteOnly) || out.write(modelCsv(m)) < 0) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args[1]), qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
