// PJLink without a network: the authentication digest, the names of PJLink projectors, and
// what the session's PJLink side makes of a projector's replies (its inputs, its error
// status).

#include "pjlink.h"
#include "pjlinkprojector.h"
#include "portopener.h"

#include <QtTest>

namespace {
using Availability = PjlinkProjector::Availability;

// A projector's side of a conversation: each reply is heard in turn; what the heard
// replies asked to send next is answered from `answers` too (by its request's text).
QStringList converse(PjlinkProjector &projector, const QHash<QByteArray, QByteArray> &answers,
                     QList<QByteArray> requests)
{
    QStringList log;
    while (!requests.isEmpty()) {
        const QByteArray request = requests.takeFirst();
        const QByteArray answer = answers.value(request);
        if (answer.isEmpty())
            continue; // a request this projector never gets to answer
        const PjlinkProjector::Heard heard = projector.hear(answer);
        log += heard.log;
        requests += heard.next;
    }
    return log;
}
} // namespace

class TestPjlink : public QObject
{
    Q_OBJECT

private slots:
    void digest_data();
    void digest();
    void names_data();
    void names();
    void inputMapping_data();
    void inputMapping();
    void errorStatusChangesLoggedOnce_data();
    void errorStatusChangesLoggedOnce();
};

void TestPjlink::digest_data()
{
    // A connection's greeting, whether it asks for a password, and whether the digest
    // that goes before the first request is the documented one.
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<bool>("challenge");
    QTest::addColumn<bool>("documented");
    // The example of PJLink's own documentation: nothing between random and password.
    QTest::newRow("the documented example") << QByteArray("PJLINK 1 498e4a67") << true << true;
    QTest::newRow("greeting in lower case") << QByteArray("pjlink 1 498e4a67") << true << true;
    QTest::newRow("white space after it") << QByteArray("PJLINK 1 498e4a67 \n") << true << true;
    // The random number goes into the digest as sent, not in another letter case.
    QTest::newRow("the random number as sent") << QByteArray("PJLINK 1 498E4A67") << true << false;
    QTest::newRow("no password asked") << QByteArray("PJLINK 0") << false << false;
    QTest::newRow("a short random number") << QByteArray("PJLINK 1 498e4a6") << false << false;
}

void TestPjlink::digest()
{
    QFETCH(QByteArray, greeting);
    QFETCH(bool, challenge);
    QFETCH(bool, documented);
    const pjlink::Greeting parsed = pjlink::parseGreeting(greeting);
    QCOMPARE(parsed.kind == pjlink::Greeting::Kind::Challenge, challenge);
    const QByteArray made = pjlink::digest(parsed.random, "JBMIAProjectorLink");
    QCOMPARE(made == QByteArray("5d8409bc1c3fa39749434aa3a5c38682"), documented);
}

void TestPjlink::names_data()
{
    // A name, and what it leads to, or why it is refused (the bridges' reasons).
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("reason");
    QTest::newRow("host alone") << "pjlink://HOST-A"
                                << "pjlink://host-a" << QString();
    QTest::newRow("the default port written") << "PJLINK://host-a:04352"
                                              << "pjlink://host-a" << QString();
    QTest::newRow("another port") << "pjlink://127.0.0.5:4353"
                                  << "pjlink://127.0.0.5:4353" << QString();
    QTest::newRow("IPv6") << "pjlink://[::1]"
                          << "pjlink://[::1]" << QString();
    QTest::newRow("nothing") << "pjlink://" << QString() << "No host in the name";
    QTest::newRow("colon without port")
        << "pjlink://host-a:" << QString() << "No port number after the host";
    QTest::newRow("port 0") << "pjlink://host-a:0" << QString()
                            << "The port number must be 1 to 65535";
    QTest::newRow("bare IPv6") << "pjlink://fe80::5" << QString()
                               << "An IPv6 address must be in brackets";
    QTest::newRow("space") << "pjlink://host a" << QString() << "The name holds a space";
    QTest::newRow("user part") << "pjlink://admin@127.0.0.1" << QString()
                               << "The host holds a character no host name has";
    QTest::newRow("carriage return")
        << "pjlink://host-a\r%1POWR 0" << QString() << "The port name holds a control character";
}

void TestPjlink::names()
{
    QFETCH(QString, name);
    QFETCH(QString, location);
    QFETCH(QString, reason);
    // Only refused names are opened here: a good one would reach for the network.
    if (reason.isEmpty()) {
        QCOMPARE(PortOpener::locationOf(name), location);
        QCOMPARE(PortOpener::keyOf(name), PortOpener::keyOf(location));
    } else {
        const PortOpener opener(name);
        QCOMPARE(opener.state(), PortOpener::State::Failed);
        QCOMPARE(opener.failure(), reason);
    }
}

void TestPjlink::inputMapping_data()
{
    // The class, the INST answer, the INNM answers ("input=name"), and the inputs that
    // VGA, HDMI, DVI, S-Video and Composite choose ("-" none: the button is disabled).
    QTest::addColumn<int>("projectorClass");
    QTest::addColumn<QByteArray>("inputs");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("class 1, a typical projector")
        << 1 << QByteArray("11 12 21 22 31 32") << QStringList() << "11 31 32 22 21";
    QTest::newRow("class 1, one of each kind")
        << 1 << QByteArray("11 21 31") << QStringList() << "11 31 - - 21";
    QTest::newRow("class 1, no computer input")
        << 1 << QByteArray("31 32 33") << QStringList() << "- 31 32 - -";
    QTest::newRow("class 2, DVI named first")
        << 2 << QByteArray("11 31 32 33") << QStringList {"31=DVI-D", "32=HDMI 1", "33=HDMI 2"}
        << "11 32 31 - -";
    QTest::newRow("class 2, S-Video named first")
        << 2 << QByteArray("21 22") << QStringList {"21=S VIDEO", "22=Video"} << "- - - 21 22";
    QTest::newRow("class 2, names that say nothing")
        << 2 << QByteArray("1A 2B 3C 3D") << QStringList {"2B=Input", "3C=Port", "3D=Port"}
        << "1A 3C 3D - 2B";
}

void TestPjlink::inputMapping()
{
    QFETCH(int, projectorClass);
    QFETCH(QByteArray, inputs);
    QFETCH(QStringList, names);
    QFETCH(QString, chosen);
    const char c = char('0' + projectorClass);
    QHash<QByteArray, QByteArray> answers {
        {"%1CLSS ?", "%1CLSS=" + QByteArray::number(projectorClass)},
        {"%" + QByteArray(1, c) + "INST ?", "%" + QByteArray(1, c) + "INST=" + inputs},
    };
    for (const QString &entry : names)
        answers.insert("%2INNM ?" + entry.section('=', 0, 0).toLatin1(),
                       "%2INNM=" + entry.section('=', 1).toLatin1());
    PjlinkProjector projector;
    converse(projector, answers, projector.opened());

    QStringList got;
    for (const protocol::Command id :
         {protocol::Command::Vga, protocol::Command::Hdmi, protocol::Command::Dvi,
          protocol::Command::SVideo, protocol::Command::Composite}) {
        const QList<QByteArray> frames = projector.frames(id);
        QCOMPARE(frames.isEmpty(), projector.availability(id) == Availability::NoSuchInput);
        // The input is chosen in the projector's own class.
        got.append(frames.isEmpty()
                       ? QStringLiteral("-")
                       : QString::fromLatin1(frames.constFirst().mid(int(qstrlen("%1INPT ")))));
        if (!frames.isEmpty())
            QCOMPARE(frames.constFirst().at(1), c);
    }
    QCOMPARE(got.join(QLatin1Char(' ')), chosen);
}

void TestPjlink::errorStatusChangesLoggedOnce_data()
{
    QTest::addColumn<QByteArrayList>("reports");
    QTest::addColumn<QStringList>("log");
    QTest::newRow("all fine") << QByteArrayList {"000000", "000000"} << QStringList();
    QTest::newRow("a lamp warning, said once")
        << QByteArrayList {"000000", "010000", "010000", "010000"} << QStringList {"Lamp: warning"};
    QTest::newRow("found at the opening")
        << QByteArrayList {"200010"} << QStringList {"Fan: error", "Filter: warning"};
    QTest::newRow("worse, then fine again")
        << QByteArrayList {"010000", "020000", "000000"}
        << QStringList {"Lamp: warning", "Lamp: error", "Lamp: ok"};
    QTest::newRow("malformed reports change nothing")
        << QByteArrayList {"010000", "0100", "310000", "010000"} << QStringList {"Lamp: warning"};
}

void TestPjlink::errorStatusChangesLoggedOnce()
{
    QFETCH(QByteArrayList, reports);
    QFETCH(QStringList, log);
    PjlinkProjector projector;
    QStringList said;
    for (const QByteArray &report : reports) {
        projector.poll();
        said += projector.hear("%1ERST=" + report).log;
    }
    QCOMPARE(said, log);
}

QTEST_GUILESS_MAIN(TestPjlink)
#include "tst_pjlink.moc"
