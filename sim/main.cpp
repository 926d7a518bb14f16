// torvix-sim: a Torvix generator-set controller on a pseudo-terminal, a serial port or TCP.

#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "sim/command_line.h"
#include "sim/sim_host.h"

int main(int argc, char* argv[]) {
    // Blocked before any thread exists and taken from a signalfd in the event loop, so an
    // interrupted run still removes its link and closes its pseudo-terminal.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("torvix-sim"));

    const auto commandLine = torvix::sim::parseCommandLine(QCoreApplication::arguments());
    using Outcome = torvix::sim::CommandLine::Outcome;
    if (commandLine.outcome == Outcome::Help) {
        std::fputs(qPrintable(commandLine.message), stdout);
        return 0;
    }
    if (commandLine.outcome == Outcome::Error) {
        std::fprintf(stderr, "torvix-sim: %s (see --help)\n", qPrintable(commandLine.message));
        return 2;
    }

    const int signalFd = ::signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("torvix-sim: signalfd");
        return 1;
    }
    QSocketNotifier signalNotifier(signalFd, QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [signalFd] {
        signalfd_siginfo info{};
        while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        QCoreApplication::quit();
    });

    int exitCode = 1;
    {
        torvix::sim::SimHost host(commandLine.options);
        QString error;
        if (host.start(error))
            exitCode = QCoreApplication::exec();
        else
            std::fprintf(stderr, "torvix-sim: %s\n", qPrintable(error));
    }
    ::close(signalFd);
    return exitCode;
}
