// PJLink class 2 on UDP: the datagrams' grammar, `lumivox --search` against simulated
// projectors on their own loopback addresses, and their notifications reaching the
// controller's one socket. Run in a private network namespace (privatenetwork.sh), where
// port 4352 and the loopback network are the test's alone.

#include "commandlinerun.h"

#include "link/pjlinkclass2.h"
#include "link/pjlinkdatagrams.h"
#include "ui/settings.h"

#include <QAbstractItemModel>
#include <QCompleter>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

namespace {
constexpr int kWaitMs = 10000; // a simulator's start, a search with its questions
const QByteArray kLong(pjlinkclass2::kMaxDatagram, 'A');

// A notice as one word and its value, for comparing.
QString describe(const pjlinkclass2::Notice &notice)
{
    using Kind = pjlinkclass2::Notice::Kind;
    switch (notice.kind) {
    case Kind::LinkUp:
        return QStringLiteral("linkup ") + notice.mac;
    case Kind::Power:
        return QStringLiteral("power %1").arg(int(notice.power));
    case Kind::Error:
        return QStringLiteral("error ") + QString::fromLatin1(notice.errorStatus);
    case Kind::Input:
        return QStringLiteral("input ") + QString::fromLatin1(notice.input);
    }
    return {};
}

bool inPrivateNetwork()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    return std::all_of(interfaces.cbegin(), interfaces.cend(), [](const QNetworkInterface &each) {
        return each.type() == QNetworkInterface::Loopback;
    });
}
} // namespace

class TestPjlinkSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void readsDatagrams_data();
    void readsDatagrams();
    void searchListsTheProjectors_data();
    void searchListsTheProjectors();
    void notificationsReachTheController_data();
    void notificationsReachTheController();
    void portDialogOffersTheProjectorsFound_data();
    void portDialogOffersTheProjectorsFound();

private:
    // Starts a simulator with these arguments and waits for it to tell its port.
    bool startSimulator(const QStringList &arguments);

    bool isolated = false;
    QTemporaryDir runtime;
    std::vector<std::unique_ptr<QProcess>> simulators;
};

void TestPjlinkSearch::initTestCase()
{
    isolated = inPrivateNetwork();
    if (!isolated)
        return;
    // Two open class 2 projectors on 127.0.0.2 and .3, one with a password on .4.
    QVERIFY(startSimulator(
        {"--many", "2", "--address", "127.0.0.2", "--warm-up", "0", "--cool-down", "0"}));
    QVERIFY(startSimulator({"--address", "127.0.0.4", "--password", "secret"}));
}

void TestPjlinkSearch::cleanupTestCase()
{
    for (const std::unique_ptr<QProcess> &simulator : simulators) {
        simulator->terminate();
        simulator->waitForFinished(kWaitMs);
    }
}

bool TestPjlinkSearch::startSimulator(const QStringList &arguments)
{
    auto simulator = std::make_unique<QProcess>();
    simulator->start(QStringLiteral(LUMIVOX_SIMULATOR),
                     QStringList {"--pjlink", "--class", "2"} + arguments);
    if (!simulator->waitForStarted(kWaitMs))
        return false;
    QProcess *started = simulator.get();
    simulators.push_back(std::move(simulator));
    const bool said = QTest::qWaitFor(
        [started] { return started->canReadLine() || started->state() != QProcess::Running; },
        kWaitMs);
    return said && started->readLine().startsWith("Apply");
}

void TestPjlinkSearch::readsDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("acknowledges"); // the MAC, empty for no acknowledgement
    QTest::addColumn<QString>("notifies"); // describe(), empty for no notice

    const QString none;
    QTest::newRow("ackn") << QByteArray("%2ACKN=00:1A:2b:3C:4d:5E\r") << "00:1a:2b:3c:4d:5e"
                          << none;
    QTest::newRow("ackn with dashes, no end")
        << QByteArray("%2ACKN=00-1a-2b-3c-4d-5e") << "00:1a:2b:3c:4d:5e" << none;
    QTest::newRow("ackn in lower case")
        << QByteArray("%2ackn=00:1a:2b:3c:4d:5e\r") << "00:1a:2b:3c:4d:5e" << none;
    QTest::newRow("link up") << QByteArray("%2LKUP=AA:BB:CC:DD:EE:FF\r") << none
                             << "linkup aa:bb:cc:dd:ee:ff";
    QTest::newRow("power") << QByteArray("%2POWR=3\r") << none << "power 3";
    QTest::newRow("error status") << QByteArray("%2ERST=000120\r") << none << "error 000120";
    QTest::newRow("input") << QByteArray("%2INPT=3A\r") << none << "input 3A";
    QTest::newRow("CR LF") << QByteArray("%2POWR=1\r\n") << none << "power 1";

    QTest::newRow("search") << QByteArray("%2SRCH\r") << none << none;
    QTest::newRow("class 1") << QByteArray("%1POWR=1\r") << none << none;
    QTest::newRow("class 1 ackn") << QByteArray("%1ACKN=00:1a:2b:3c:4d:5e\r") << none << none;
    QTest::newRow("short MAC") << QByteArray("%2ACKN=00:1a:2b:3c:4d\r") << none << none;
    QTest::newRow("mixed separators") << QByteArray("%2ACKN=00:1a-2b:3c:4d:5e\r") << none << none;
    QTest::newRow("not hex") << QByteArray("%2LKUP=00:1a:2b:3c:4d:5g\r") << none << none;
    QTest::newRow("power 4") << QByteArray("%2POWR=4\r") << none << none;
    QTest::newRow("error status of 3") << QByteArray("%2ERST=000300\r") << none << none;
    QTest::newRow("five error fields") << QByteArray("%2ERST=00000\r") << none << none;
    QTest::newRow("input kind 7") << QByteArray("%2INPT=71\r") << none << none;
    QTest::newRow("input number 0") << QByteArray("%2INPT=10\r") << none << none;
    QTest::newRow("an error answer") << QByteArray("%2POWR=ERR3\r") << none << none;
    QTest::newRow("other command") << QByteArray("%2NAME=x\r") << none << none;
    QTest::newRow("NUL inside") << QByteArray("%2POWR=1\0\r", 10) << none << none;
    QTest::newRow("two lines") << QByteArray("%2POWR=1\r%2POWR=0\r") << none << none;
    QTest::newRow("too long") << QByteArray("%2INPT=31\r") + kLong << none << none;
    QTest::newRow("empty") << QByteArray() << none << none;
}

void TestPjlinkSearch::readsDatagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, acknowledges);
    QFETCH(QString, notifies);

    QCOMPARE(pjlinkclass2::parseAcknowledgement(datagram).value_or(QString()), acknowledges);
    const std::optional<pjlinkclass2::Notice> notice = pjlinkclass2::parseNotice(datagram);
    QCOMPARE(notice ? describe(*notice) : QString(), notifies);
    // What is read is what a projector would have sent.
    if (notice)
        QCOMPARE(pjlinkclass2::parseNotice(pjlinkclass2::noticeDatagram(*notice)), notice);
    if (!acknowledges.isEmpty())
        QCOMPARE(pjlinkclass2::parseAcknowledgement(pjlinkclass2::acknowledgement(acknowledges)),
                 acknowledges);
}

void TestPjlinkSearch::searchListsTheProjectors_data()
{
    QTest::addColumn<bool>("json");
    QTest::newRow("text") << false;
    QTest::newRow("json") << true;
}

void TestPjlinkSearch::searchListsTheProjectors()
{
    QFETCH(bool, json);
    if (!isolated)
        QSKIP("needs a private network namespace (unshare -rn), which this system refuses");
    QStringList arguments {"--search", "--on", "127.255.255.255"};
    if (json)
        arguments << QStringLiteral("--json");
    const testsupport::CommandLineRun run = testsupport::runCommandLine(arguments, runtime.path());
    QVERIFY2(run.status == 0, qPrintable(run.err));

    struct Expected
    {
        const char *address;
        const char *mac;
        const char *name; // null: it asks for a password
    };
    const Expected expected[] = {
        {"127.0.0.2", "02:4c:7f:00:00:02", "Demo Projector 127.0.0.2"},
        {"127.0.0.3", "02:4c:7f:00:00:03", "Demo Projector 127.0.0.3"},
        {"127.0.0.4", "02:4c:7f:00:00:04", nullptr},
    };
    if (json) {
        const QJsonArray found = QJsonDocument::fromJson(run.out.toUtf8()).array();
        QCOMPARE(found.size(), int(std::size(expected)));
        for (int i = 0; i < found.size(); ++i) {
            const QJsonObject projector = found.at(i).toObject();
            QCOMPARE(projector.value("address").toString(), expected[i].address);
            QCOMPARE(projector.value("mac").toString(), expected[i].mac);
            QCOMPARE(projector.value("password-asked").toBool(), !expected[i].name);
            if (expected[i].name) {
                QCOMPARE(projector.value("name").toString(), expected[i].name);
                QCOMPARE(projector.value("class").toInt(), 2);
                QCOMPARE(projector.value("model").toString(), QStringLiteral("LV-1"));
            } else {
                QVERIFY(!projector.contains("name"));
            }
        }
    } else {
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), int(std::size(expected)));
        for (int i = 0; i < lines.size(); ++i) {
            const QString &line = lines.at(i);
            QVERIFY2(line.startsWith(QLatin1String(expected[i].address)), qPrintable(line));
            QVERIFY2(line.contains(QLatin1String(expected[i].mac)), qPrintable(line));
            QVERIFY2(line.contains(
                         QLatin1String(expected[i].name ? expected[i].name : "password asked")),
                     qPrintable(line));
        }
    }
    QVERIFY2(!run.err.contains(QLatin1String("secret")), qPrintable(run.err));
}

void TestPjlinkSearch::notificationsReachTheController_data()
{
    QTest::addColumn<QStringList>("simulator"); // one started for the row; empty: none
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArrayList>("requests");
    QTest::addColumn<QString>("notice");

    QTest::newRow("power on") << QStringList() << "127.0.0.3" << QByteArrayList {"%1POWR 1"}
                              << "power 1";
    QTest::newRow("input") << QStringList() << "127.0.0.2"
                           << QByteArrayList {"%1POWR 1", "%1INPT 31"} << "input 31";
    QTest::newRow("link up of one told where")
        << QStringList {"--address", "127.0.0.5", "--notify", "127.0.0.1"} << "127.0.0.5"
        << QByteArrayList() << "linkup 02:4c:7f:00:00:05";
}

void TestPjlinkSearch::notificationsReachTheController()
{
    QFETCH(QStringList, simulator);
    QFETCH(QString, address);
    QFETCH(QByteArrayList, requests);
    QFETCH(QString, notice);
    if (!isolated)
        QSKIP("needs a private network namespace (unshare -rn), which this system refuses");

    // The controller's own address: what projectors send to it comes here alone.
    PjlinkDatagrams datagrams;
    QString error;
    QVERIFY2(datagrams.bind(QHostAddress(QHostAddress::LocalHost), pjlinkclass2::kPort, &error),
             qPrintable(error));
    QStringList heard;
    connect(&datagrams, &PjlinkDatagrams::notified,
            [&heard](const QHostAddress &from, const pjlinkclass2::Notice &each) {
                heard << from.toString() + QLatin1Char(' ') + describe(each);
            });
    if (!simulator.isEmpty())
        QVERIFY(startSimulator(simulator));

    QTcpSocket connection;
    if (!requests.isEmpty()) {
        // From the controller's own address: on loopback the system would otherwise take
        // the projector's address as the connection's, and the projector would notify itself.
        QVERIFY(connection.bind(QHostAddress(QHostAddress::LocalHost)));
        connection.connectToHost(QHostAddress(address), pjlinkclass2::kPort);
        // Its greeting, then an answer to each request, each line ended by CR alone.
        QByteArray received;
        for (int line = 0; line <= requests.size(); ++line) {
            if (line > 0)
                connection.write(requests.at(line - 1) + '\r');
            QTRY_VERIFY_WITH_TIMEOUT((received += connection.readAll()).count('\r') > line,
                                     kWaitMs);
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(heard.contains(address + QLatin1Char(' ') + notice), kWaitMs);
}

void TestPjlinkSearch::portDialogOffersTheProjectorsFound_data()
{
    QTest::addColumn<QString>("shown");
    QTest::newRow("named") << "pjlink://127.0.0.2 (Demo Projector 127.0.0.2, Lumivox LV-1)";
    QTest::newRow("with a password") << "pjlink://127.0.0.4";
    QTest::newRow("present") << "COM1";
}

void TestPjlinkSearch::portDialogOffersTheProjectorsFound()
{
    QFETCH(QString, shown);
    if (!isolated)
        QSKIP("needs a private network namespace (unshare -rn), which this system refuses");
    qputenv("LUMIVOX_SEARCH_ON", "127.255.255.255");
    Settings settings(nullptr, [] { return QStringList {QStringLiteral("COM1")}; });
    const QAbstractItemModel *ports
        = settings.findChild<QLineEdit *>(QStringLiteral("comPort"))->completer()->model();
    const auto offered = [ports] {
        QStringList texts;
        for (int row = 0; row < ports->rowCount(); ++row)
            texts << ports->index(row, 0).data().toString();
        return texts;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(offered().contains(shown), qPrintable(offered().join(", ")), kWaitMs);
}

QTEST_MAIN(TestPjlinkSearch)
#include "tst_pjlinksearch.moc"
