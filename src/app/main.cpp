// torvix-tp: watches and commands one Torvix controller over a serial line.

#include <QApplication>
#include <cstdio>

#include "control/config.h"
#include "ui/program.h"

int main(int argc, char* argv[]) {
    using namespace torvix;

    QApplication app(argc, argv);  // takes Qt's own options, such as -platform
    if (QCoreApplication::arguments().size() > 1) {
        std::fputs("torvix-tp: аргументы командной строки не принимаются\n", stderr);
        return 2;
    }

    Program program(Config::defaultPath());
    if (!program.start()) return 0;
    return QApplication::exec();
}
