// Many projectors from one process: polls spread over the ticks by each session's phase,
// a bounded number of PJLink connections at once, projectors out of reach backed off, and
// notifications confirmed by a question over the projector's own link.

#include "fakeprojector.h"
#include "link/connectionbudget.h"
#include "pjlinksimulator.h"
#include "probe/portprobe.h"
#include "session/projectorsession.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

namespace {
constexpr int kTickMs = ProjectorSession::kTickInterval;
constexpr int kOpenWait = 5000; // ms for a projector on loopback to open
constexpr int kAnswerWait = 2000; // ms a user waits for an answer
constexpr int kFleetWait = 20000; // ms for a few projectors sharing a connection or two
constexpr int kLongPoll = 60000; // ms: no poll comes while a test looks
constexpr int kLateBy = 1000; // ms a try may come after its wait: a tick or two, a loaded machine

using Hint = ProjectorSession::Hint;

// A projector that greets and answers the power question (and no other), or, told to, hangs up on
// every connection at once: one out of reach whose tries the test can count.
class FlakyProjector : public QObject
{
public:
    FlakyProjector()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                tries.append(clock.elapsed());
                socket->setParent(this);
                if (!answering) {
                    socket->abort();
                    socket->deleteLater();
                    continue;
                }
                // The power is off; every other request is one it does not know.
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    QByteArray held = socket->property("held").toByteArray() + socket->readAll();
                    for (qsizetype end = held.indexOf('\r'); end >= 0; end = held.indexOf('\r')) {
                        const QByteArray request = held.left(end);
                        held.remove(0, end + 1);
                        socket->write(request == "%1POWR ?" ? "%1POWR=0\r"
                                                            : request.left(6) + "=ERR1\r");
                    }
                    socket->setProperty("held", held);
                });
                socket->write("PJLINK 0\r");
            }
        });
        clock.start();
    }
    bool listen() { return server.listen(QHostAddress::LocalHost); }
    QString portName() const
    {
        return QStringLiteral("pjlink://127.0.0.1:%1").arg(server.serverPort());
    }
    // Hangs up on those open now too.
    void setAnswering(bool on)
    {
        answering = on;
        if (!on)
            for (QTcpSocket *socket : findChildren<QTcpSocket *>())
                socket->abort();
    }
    // The ms between each try and the next, from the try `from` on.
    QList<qint64> gaps(qsizetype from) const
    {
        QList<qint64> between;
        for (qsizetype n = from + 1; n < tries.size(); ++n)
            between.append(tries.at(n) - tries.at(n - 1));
        return between;
    }

    QList<qint64> tries; // ms since the start of each connection taken
    bool answering = true;

private:
    QTcpServer server;
    QElapsedTimer clock;
};

// Opens a session on a projector on loopback, ticked at the window's pace by `ticker`.
bool openTicked(ProjectorSession &session, const QString &portName, QTimer &ticker)
{
    QObject::connect(&ticker, &QTimer::timeout, &session, &ProjectorSession::tick);
    ticker.start(kTickMs);
    QSignalSpy opened(&session, &ProjectorSession::openFinished);
    if (session.openPort(portName) == ProjectorSession::OpenResult::Pending)
        return opened.wait(kOpenWait) && session.port();
    return session.port() != nullptr;
}
} // namespace

class TestFleetPolling : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void pollPhases_data();
    void pollPhases();
    void connectionBudget_data();
    void connectionBudget();
    void backoff_data();
    void backoff();
    void hints_data();
    void hints();
};

void TestFleetPolling::cleanup()
{
    ConnectionBudget::process().setLimit(ConnectionBudget::kUnlimited);
}

void TestFleetPolling::pollPhases_data()
{
    // The poll interval, each session's phase (ms), and the ticks each polls at.
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<int>>("phases");
    QTest::addColumn<QList<QList<int>>>("pollTicks");
    QTest::newRow("the window's 3.1 s")
        << 3100 << QList<int> {0, 700, 3000} << QList<QList<int>> {{1, 32, 63}, {8, 39}, {31, 62}};
    QTest::newRow("a second") << 1000 << QList<int> {0, 250, 900}
                              << QList<QList<int>> {{1, 11, 21, 31, 41, 51, 61},
                                                    {3, 13, 23, 33, 43, 53, 63},
                                                    {10, 20, 30, 40, 50, 60}};
    QTest::newRow("a phase past the interval")
        << 1000 << QList<int> {1200, 200}
        << QList<QList<int>> {{3, 13, 23, 33, 43, 53, 63}, {3, 13, 23, 33, 43, 53, 63}};
    QTest::newRow("five seconds") << 5000 << QList<int> {0, 2500}
                                  << QList<QList<int>> {{1, 51}, {26}};
}

void TestFleetPolling::pollPhases()
{
    QFETCH(int, interval);
    QFETCH(QList<int>, phases);
    QFETCH(QList<QList<int>>, pollTicks);
    constexpr int kTicks = 64;
    std::vector<std::unique_ptr<FakeProjector>> projectors;
    std::vector<std::unique_ptr<ProjectorSession>> sessions;
    QList<QList<int>> polled(phases.size());
    int ticks = 0;
    for (qsizetype i = 0; i < phases.size(); ++i) {
        projectors.push_back(std::make_unique<FakeProjector>());
        QVERIFY2(projectors.back()->isValid(), qPrintable(projectors.back()->errorString()));
        sessions.push_back(std::make_unique<ProjectorSession>());
        ProjectorSession &session = *sessions.back();
        QCOMPARE(session.openPort(projectors.back()->slavePath()),
                 ProjectorSession::OpenResult::Open);
        session.setPollInterval(interval);
        session.setPollPhase(phases.at(i));
        QCOMPARE(session.pollInterval(), interval);
        connect(&session, &ProjectorSession::frameWritten, this,
                [&polled, &ticks, i] { polled[i].append(ticks); });
    }
    // Every session ticked in turn, as by one timer.
    for (ticks = 1; ticks <= kTicks; ++ticks)
        for (const auto &session : sessions)
            session->tick();
    QCOMPARE(polled, pollTicks);
}

void TestFleetPolling::connectionBudget_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("projectors");
    QTest::newRow("two for five") << 2 << 5;
    QTest::newRow("one for three") << 1 << 3;
    QTest::newRow("unlimited") << int(ConnectionBudget::kUnlimited) << 4;
}

void TestFleetPolling::connectionBudget()
{
    QFETCH(int, limit);
    QFETCH(int, projectors);
    ConnectionBudget::process().setLimit(limit);
    std::vector<std::unique_ptr<PjlinkSimulator>> simulators;
    std::vector<std::unique_ptr<ProjectorSession>> sessions;
    std::vector<std::unique_ptr<QSignalSpy>> powers;
    int mostOpen = 0;
    const auto countOpen = [&sessions, &mostOpen] {
        int open = 0;
        for (const auto &session : sessions)
            open += session->port() && testsupport::portHandle(session->port()) >= 0;
        mostOpen = std::max(mostOpen, open);
    };
    for (int i = 0; i < projectors; ++i) {
        PjlinkSimulator::Options options;
        options.port = 0;
        simulators.push_back(std::make_unique<PjlinkSimulator>(options));
        QString error;
        QVERIFY2(simulators.back()->open(&error), qPrintable(error));
        // Looked at whenever a projector is asked something, and after every tick.
        connect(simulators.back().get(), &PjlinkSimulator::requestReceived, this, countOpen);
        sessions.push_back(std::make_unique<ProjectorSession>());
        sessions.back()->setPollPhase(i * kTickMs);
        powers.push_back(
            std::make_unique<QSignalSpy>(sessions.back().get(), &ProjectorSession::powerReported));
        sessions.back()->openPort(simulators.back()->portName());
    }
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        for (const auto &session : sessions)
            session->tick();
        countOpen();
    });
    ticker.start(kTickMs);
    // Every projector answers its opening's power question and at least one poll.
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(powers.cbegin(), powers.cend(),
                                         [](const auto &spy) { return spy->size() >= 2; }),
                             kFleetWait);
    QVERIFY2(mostOpen <= (limit == ConnectionBudget::kUnlimited ? projectors : limit),
             qPrintable(QString::number(mostOpen)));
    QVERIFY(mostOpen >= 1);
    // Every slot given back with its port.
    sessions.clear();
    QCOMPARE(ConnectionBudget::process().held(), 0);
    QCOMPARE(ConnectionBudget::process().waiting(), 0);
}

void TestFleetPolling::backoff_data()
{
    // Whether the session backs off, its poll interval, and the waits between its tries
    // while the projector hangs up on each.
    QTest::addColumn<bool>("backoff");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<int>>("waits");
    QTest::newRow("doubling from the poll interval") << true << 300 << QList<int> {300, 600, 1200};
    QTest::newRow("flat without it (the window)") << false << 300 << QList<int> {3100, 3100};
}

void TestFleetPolling::backoff()
{
    QFETCH(bool, backoff);
    QFETCH(int, interval);
    QFETCH(QList<int>, waits);
    FlakyProjector projector;
    QVERIFY(projector.listen());
    ProjectorSession session;
    session.setPollInterval(interval);
    session.setBackoff(backoff);
    QSignalSpy powers(&session, &ProjectorSession::powerReported);
    QTimer ticker;
    QVERIFY(openTicked(session, projector.portName(), ticker));
    QVERIFY(powers.wait(kAnswerWait));

    // Out of reach: each try is hung up on, and the next waits longer.
    const auto checkGaps = [&projector](qsizetype from, const QList<int> &expected) {
        const QList<qint64> gaps = projector.gaps(from);
        for (qsizetype n = 0; n < expected.size(); ++n)
            if (gaps.at(n) < expected.at(n) || gaps.at(n) > expected.at(n) + kLateBy)
                return false;
        return true;
    };
    projector.setAnswering(false);
    const qsizetype from = projector.tries.size();
    const int total = std::accumulate(waits.cbegin(), waits.cend(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(projector.tries.size() > from + waits.size(),
                             total + kLateBy * int(waits.size()) + kAnswerWait);
    QVERIFY2(checkGaps(from, waits), qPrintable(QString::number(projector.gaps(from).size())));
    for (qint64 gap : projector.gaps(from))
        qInfo("%lld ms", gap);

    // Once it answers, the first wait is the first again.
    projector.setAnswering(true);
    const qsizetype answered = powers.size();
    QTRY_VERIFY_WITH_TIMEOUT(powers.size() > answered, 2 * waits.constLast() + kAnswerWait);
    projector.setAnswering(false);
    const qsizetype after = projector.tries.size();
    QTRY_VERIFY_WITH_TIMEOUT(projector.tries.size() > after + 1,
                             interval + waits.constFirst() + kAnswerWait);
    QVERIFY(checkGaps(after, {waits.constFirst()}));
}

void TestFleetPolling::hints_data()
{
    // The hints given at once, the question that confirms them, and how often the
    // projector is asked it.
    QTest::addColumn<Hint>("hint");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("question");
    QTest::addColumn<int>("asked");
    QTest::newRow("power") << Hint::Power << 1 << QByteArray("%1POWR ?") << 1;
    QTest::newRow("power, a flood") << Hint::Power << 100 << QByteArray("%1POWR ?") << 2;
    QTest::newRow("error status, a flood") << Hint::Error << 100 << QByteArray("%1ERST ?") << 2;
    QTest::newRow("input") << Hint::Input << 1 << QByteArray("%1INPT ?") << 1;
    // A poll, no sooner than kHintPollSpacing after the last.
    QTest::newRow("link up, a flood") << Hint::LinkUp << 100 << QByteArray("%1POWR ?") << 1;
}

void TestFleetPolling::hints()
{
    QFETCH(Hint, hint);
    QFETCH(int, count);
    QFETCH(QByteArray, question);
    QFETCH(int, asked);
    PjlinkSimulator::Options options;
    options.port = 0;
    PjlinkSimulator projector(options);
    QString error;
    QVERIFY2(projector.open(&error), qPrintable(error));
    ProjectorSession session;
    session.setPollInterval(kLongPoll);
    QTimer ticker;
    QVERIFY(openTicked(session, projector.portName(), ticker));
    // The opening's questions answered (the inputs, and the input shown, are asked once the
    // class is known).
    QTRY_VERIFY_WITH_TIMEOUT(projector.requests().contains("%1INST ?")
                                 && projector.requests().contains("%1INPT ?"),
                             kAnswerWait);
    QSignalSpy powers(&session, &ProjectorSession::powerReported);
    const qsizetype before = projector.requests().count(question);

    for (int n = 0; n < count; ++n)
        session.hint(hint);
    QTRY_COMPARE_WITH_TIMEOUT(projector.requests().count(question), before + asked, kAnswerWait);
    if (question == "%1POWR ?")
        QTRY_COMPARE_WITH_TIMEOUT(powers.size(), asked, kAnswerWait);
    // Whatever the flood asks more goes before a request sent after its answers.
    QVERIFY(session.sendFrame("%1NAME ?"));
    QTRY_VERIFY_WITH_TIMEOUT(projector.requests().contains("%1NAME ?"), kAnswerWait);
    QCOMPARE(projector.requests().count(question), before + asked);
    for (const QList<QVariant> &reported : std::as_const(powers))
        QCOMPARE(reported.at(0).value<ProjectorSession::Power>(), ProjectorSession::Power::Off);
}

QTEST_GUILESS_MAIN(TestFleetPolling)
#include "tst_fleetpolling.moc"
