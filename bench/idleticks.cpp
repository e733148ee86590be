// What a tick costs a gateway's sessions that have nothing to do: many PJLink projectors
// simulated in this process on loopback, a session each with its port open and every
// opening request answered, all ticked in turn as one 100 ms timer of a gateway ticks
// them. Prints the time the ticks take per session, without polling (idle) and with the
// usual poll (its requests and answers spread over the ticks). Judges nothing.
// Under callgrind, tickIdle() and tickPolling() are the functions to collect:
//   valgrind --tool=callgrind --toggle-collect='*tickIdle*' lumivox-bench-ticks --sessions 100

#include "benchwait.h"
#include "pjlinksimulator.h"
#include "session/projectorsession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
constexpr int kDefaultSessions = 1000;
constexpr int kDefaultSeconds = 10;
constexpr int kOpenWait = 120000; // ms for every port to open
constexpr int kSettle = 3000; // ms for the openings' requests to be answered
constexpr int kTickInterval = 100; // ms, as a gateway ticks
constexpr double kNanosPerMicro = 1000.0;

using Sessions = std::vector<std::unique_ptr<ProjectorSession>>;

qint64 tickAll(const Sessions &sessions)
{
    QElapsedTimer clock;
    clock.start();
    for (const auto &session : sessions)
        session->tick();
    return clock.nsecsElapsed();
}

// Each out of line, so that a profiler can collect it alone.
__attribute__((noinline)) qint64 tickIdle(const Sessions &sessions)
{
    return tickAll(sessions);
}

__attribute__((noinline)) qint64 tickPolling(const Sessions &sessions)
{
    return tickAll(sessions);
}

// Ticks every session at the gateway's pace for `seconds`; the nanoseconds the ticks took
// per session and tick.
double measure(const Sessions &sessions, int seconds, qint64 (*tickAll)(const Sessions &))
{
    qint64 spent = 0;
    qint64 rounds = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&] {
        spent += tickAll(sessions);
        ++rounds;
    });
    ticker.start(kTickInterval);
    bench::runUntil([] { return false; }, seconds * 1000);
    return rounds == 0 ? 0.0 : double(spent) / double(rounds) / double(sessions.size());
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The cost of a tick of many idle PJLink sessions in one process."));
    parser.addHelpOption();
    const QCommandLineOption sessionsOption(QStringLiteral("sessions"),
                                            QStringLiteral("Projectors and sessions (1000)."),
                                            QStringLiteral("n"), QString::number(kDefaultSessions));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Time measured, each way (10)."),
                                           QStringLiteral("s"), QString::number(kDefaultSeconds));
    parser.addOptions({sessionsOption, secondsOption});
    parser.process(application);
    const int count = parser.value(sessionsOption).toInt();
    const int seconds = parser.value(secondsOption).toInt();

    std::vector<std::unique_ptr<PjlinkSimulator>> projectors;
    Sessions sessions;
    for (int i = 0; i < count; ++i) {
        PjlinkSimulator::Options options;
        options.port = 0;
        projectors.push_back(std::make_unique<PjlinkSimulator>(options));
        QString error;
        if (!projectors.back()->open(&error)) {
            std::printf("projector %d: %s\n", i, qPrintable(error));
            return 1;
        }
        sessions.push_back(std::make_unique<ProjectorSession>());
        sessions.back()->setPolling(false);
        sessions.back()->openPort(projectors.back()->portName());
    }
    QTimer opening;
    QObject::connect(&opening, &QTimer::timeout, &opening, [&] { tickAll(sessions); });
    opening.start(kTickInterval);
    const bool open = bench::runUntil(
        [&] {
            return std::all_of(sessions.cbegin(), sessions.cend(),
                               [](const auto &session) { return session->port() != nullptr; });
        },
        kOpenWait);
    bench::runUntil([] { return false; }, kSettle);
    opening.stop();
    if (!open) {
        std::printf("not every port opened\n");
        return 1;
    }

    const double idle = measure(sessions, seconds, tickIdle);
    for (const auto &session : sessions)
        session->setPolling(true);
    const double polling = measure(sessions, seconds, tickPolling);
    std::printf("%d sessions, ports open: a tick costs %.2f us a session idle (%.1f us for all), "
                "%.2f us a session polling every 3.1 s (%.1f us for all)\n",
                count, idle / kNanosPerMicro, idle * count / kNanosPerMicro,
                polling / kNanosPerMicro, polling * count / kNanosPerMicro);
    return 0;
}
