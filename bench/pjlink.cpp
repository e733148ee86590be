// The window on a projector that speaks PJLink, played by the simulator on a loopback
// port: the time from Apply to the panel's first colour, the connections a poll costs
// against a projector that takes one request per connection, and the connections in a
// minute against one that keeps them open. Prints figures; judges nothing.

#include "benchwait.h"
#include "pjlinksimulator.h"
#include "ui/lumivox.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {
constexpr int kDefaultRuns = 20;
constexpr int kDefaultPolls = 30;
constexpr int kDefaultMinutes = 1;
constexpr int kPollMs = 3100;
constexpr int kColourWait = 5000; // ms an Apply may take to its first colour here
constexpr int kMillisPerMinute = 60000;
constexpr double kNanosPerMilli = 1e6;
constexpr int kTickMs = 100; // the window's tick

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const qsizetype middle = values.size() / 2;
    return values.size() % 2 ? values.at(middle) : (values.at(middle - 1) + values.at(middle)) / 2;
}

std::unique_ptr<PjlinkSimulator> startProjector(bool oneRequestPerConnection)
{
    PjlinkSimulator::Options options;
    options.port = 0;
    options.oneConnection = oneRequestPerConnection;
    auto projector = std::make_unique<PjlinkSimulator>(options);
    QString error;
    if (!projector->open(&error)) {
        std::fprintf(stderr, "no simulated projector: %s\n", qPrintable(error));
        return nullptr;
    }
    return projector;
}

// Apply to the first colour, and from the projector's answer (its reply to the power
// question leaving it) to that colour.
bool measureFirstColour(int runs)
{
    QList<double> toColour;
    QList<double> fromAnswer;
    for (int run = 0; run < runs; ++run) {
        const std::unique_ptr<PjlinkSimulator> projector = startProjector(false);
        if (!projector)
            return false;
        Lumivox window;
        window.show();
        QElapsedTimer clock;
        qint64 answered = -1;
        QObject::connect(projector.get(), &PjlinkSimulator::requestReceived, &window,
                         [&](const QByteArray &request) {
                             if (answered < 0 && request == "%1POWR ?")
                                 answered = clock.nsecsElapsed(); // answered at once
                         });
        qint64 shown = -1;
        QObject::connect(&window.session(), &ProjectorSession::lampReported, &window, [&] {
            if (shown < 0)
                shown = clock.nsecsElapsed();
        });
        clock.start();
        QString reason;
        window.session().openPort(projector->portName(), &reason);
        if (!bench::runUntil([&] { return shown >= 0; }, kColourWait)) {
            std::fprintf(stderr, "no colour within %d ms: %s\n", kColourWait, qPrintable(reason));
            return false;
        }
        toColour.append(double(shown) / kNanosPerMilli);
        fromAnswer.append(double(shown - answered) / kNanosPerMilli);
    }
    std::printf("%-52s %8.1f ms (median of %d)\n", "Apply to the first colour", median(toColour),
                runs);
    std::printf("%-52s %8.1f ms (target: a tick, %d ms, plus a round trip)\n",
                "the projector's answer to the first colour", median(fromAnswer), kTickMs);
    std::printf("%-52s %8.1f ms\n", "  worst of the runs",
                *std::max_element(fromAnswer.cbegin(), fromAnswer.cend()));
    return true;
}

// Connections while the window polls: `polls` periods, after the opening.
bool measureConnections(bool oneRequestPerConnection, int periods, const char *what)
{
    const std::unique_ptr<PjlinkSimulator> projector = startProjector(oneRequestPerConnection);
    if (!projector)
        return false;
    Lumivox window;
    window.show();
    bool coloured = false;
    QObject::connect(&window.session(), &ProjectorSession::lampReported, &window,
                     [&] { coloured = true; });
    QString reason;
    window.session().openPort(projector->portName(), &reason);
    if (!bench::runUntil([&] { return coloured; }, kColourWait))
        return false;
    // The opening's requests done, the polls alone.
    bench::runUntil([] { return false; }, kPollMs / 2);
    const qsizetype requestsBefore = projector->requests().size();
    const qsizetype before = projector->requests().count("%1POWR ?");
    const int connectionsBefore = projector->connectionsAccepted();
    QElapsedTimer clock;
    clock.start();
    bench::runUntil([] { return false; }, periods * kPollMs);
    const qsizetype polls = projector->requests().count("%1POWR ?") - before;
    const int connections = projector->connectionsAccepted() - connectionsBefore;
    std::printf("%-52s %8d new connections for %lld polls in %.0f s (%lld requests; %d "
                "connections since Apply)\n",
                what, connections, qlonglong(polls), clock.elapsed() / 1000.0,
                qlonglong(projector->requests().size() - requestsBefore),
                projector->connectionsAccepted());
    return true;
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lumivox on the simulated PJLink projector: Apply to the first colour, connections\n"
        "per poll, connections per minute. About 1 minute 40 s with the defaults."));
    parser.addHelpOption();
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Applies timed."),
                                  QStringLiteral("n"), QString::number(kDefaultRuns));
    const QCommandLineOption polls(QStringLiteral("polls"),
                                   QStringLiteral("Poll periods against a projector that "
                                                  "takes one request per connection."),
                                   QStringLiteral("n"), QString::number(kDefaultPolls));
    const QCommandLineOption minutes(QStringLiteral("minutes"),
                                     QStringLiteral("Minutes against a projector that keeps "
                                                    "connections open."),
                                     QStringLiteral("n"), QString::number(kDefaultMinutes));
    parser.addOptions({runs, polls, minutes});
    parser.process(application);
    // No window of the user's is reached: the local channel is not started here at all.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    const bool done = measureFirstColour(parser.value(runs).toInt())
        && measureConnections(true, parser.value(polls).toInt(),
                              "one request per connection, each poll")
        && measureConnections(false, parser.value(minutes).toInt() * kMillisPerMinute / kPollMs,
                              "connections kept open, a minute");
    return done ? 0 : 1;
}
