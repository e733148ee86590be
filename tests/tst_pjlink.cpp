// PJLink without a network: the authentication digest, the names of PJLink projectors, and
// what the session's PJLink side makes of a projector's replies (its inputs, its error
// status); and the PJLink port under a flood from a peer of the test on loopback.

#include "link/characters.h"
#include "link/commands.h"
#include "link/pjlink.h"
#include "link/pjlinkport.h"
#include "link/portopener.h"
#include "session/pjlinkprojector.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
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
        log += heard.logTexts();
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
    void projectorTextIsOneVisibleLine_data();
    void projectorTextIsOneVisibleLine();
    void repliesAnswerOnlyTheirRequest_data();
    void repliesAnswerOnlyTheirRequest();
    void floodKeepsLinesWhole_data();
    void floodKeepsLinesWhole();
    void requestGrammar_data();
    void requestGrammar();
    void digestOfARequest_data();
    void digestOfARequest();
    void projectorSideTexts_data();
    void projectorSideTexts();
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
    QTest::newRow("bare IPv6") << "pjlink://::1:4352" << QString()
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
    for (const commands::Command id :
         {commands::Command::Vga, commands::Command::Hdmi, commands::Command::Dvi,
          commands::Command::SVideo, commands::Command::Composite}) {
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
        // Asked each time: a report nobody asked for is no answer.
        projector.frames(PjlinkProjector::Query::ErrorStatus);
        said += projector.hear("%1ERST=" + report).logTexts();
    }
    QCOMPARE(said, log);
}

void TestPjlink::projectorTextIsOneVisibleLine_data()
{
    // A name or other text as the projector sent it, and as it is shown: one line, every
    // character visible, whatever the projector put into it.
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("shown");
    const QString x = QStringLiteral("\ufffd");
    QTest::newRow("plain") << QByteArray("Hall 2") << QStringLiteral("Hall 2");
    QTest::newRow("accents and an emoji kept")
        << QByteArray("Salle r\xc3\xa9union \xf0\x9f\x8e\xa5")
        << QStringLiteral("Salle r\u00e9union \U0001F3A5");
    QTest::newRow("Latin-1") << QByteArray("r\xe9union") << QStringLiteral("r\u00e9union");
    QTest::newRow("line separator")
        << QByteArray("Hall\xe2\x80\xa8lumivox: forged") << "Hall" + x + "lumivox: forged";
    QTest::newRow("paragraph separator") << QByteArray("Hall\xe2\x80\xa9"
                                                       "forged")
                                         << "Hall" + x + "forged";
    QTest::newRow("next line, C1") << QByteArray("Hall\xc2\x85"
                                                 "forged")
                                   << "Hall" + x + "forged";
    QTest::newRow("line feed and tab")
        << QByteArray("Hall\nforged\tx") << "Hall" + x + "forged" + x + "x";
    QTest::newRow("noncharacters") << QByteArray("a\xef\xb7\x90"
                                                 "b\xef\xb7\x91"
                                                 "c\xef\xbf\xbe"
                                                 "d\xf0\x9f\xbf\xbf"
                                                 "e")
                                   << "a" + x + "b" + x + "c" + x + "d" + x + "e";
    QTest::newRow("right-to-left override")
        << QByteArray("Hall\xe2\x80\xaegnp.exe") << "Hall" + x + "gnp.exe";
    QTest::newRow("embeddings and pop") << QByteArray("\xe2\x80\xaa"
                                                      "a\xe2\x80\xab"
                                                      "b\xe2\x80\xac"
                                                      "c\xe2\x80\xad"
                                                      "d")
                                        << x + "a" + x + "b" + x + "c" + x + "d";
    QTest::newRow("isolates") << QByteArray("\xe2\x81\xa6"
                                            "a\xe2\x81\xa7"
                                            "b\xe2\x81\xa8"
                                            "c\xe2\x81\xa9")
                              << x + "a" + x + "b" + x + "c" + x;
    QTest::newRow("direction marks") << QByteArray("a\xe2\x80\x8e"
                                                   "b\xe2\x80\x8f"
                                                   "c\xd8\x9c"
                                                   "d")
                                     << "a" + x + "b" + x + "c" + x + "d";
}

void TestPjlink::projectorTextIsOneVisibleLine()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, shown);
    QCOMPARE(pjlink::decodeText(sent), shown);
    // The same rule for whatever else shows a projector's text (a serial projector's
    // answers, the debug log).
    QCOMPARE(characters::visibleText(shown), shown);
    // A name is one of the model's answers as the log and the command line show them.
    PjlinkProjector projector;
    projector.frames(commands::Command::Model);
    projector.hear("%1INF1=Lumivox");
    projector.hear("%1INF2=LV-1");
    const PjlinkProjector::Heard heard = projector.hear("%1NAME=" + sent);
    QCOMPARE(heard.logTexts(), QStringList {"Lumivox LV-1 (" + shown + ")"});
}

void TestPjlink::repliesAnswerOnlyTheirRequest_data()
{
    // What was asked ("status", "power-on", or nothing), a line the projector sent, and
    // what it did: the action's outcome ("-": none) and the power state learned ("-").
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("power");
    QTest::newRow("power state asked") << "status" << QByteArray("%1POWR=1") << "answered"
                                       << "on";
    QTest::newRow("power state nobody asked for") << "" << QByteArray("%1POWR=1") << "-"
                                                  << "-";
    QTest::newRow("a class 2 notification") << "status" << QByteArray("%2POWR=1") << "-"
                                            << "-";
    QTest::newRow("another command's reply") << "power-on" << QByteArray("%1INPT=OK") << "-"
                                             << "-";
    QTest::newRow("an unasked refusal") << "status" << QByteArray("%1AVMT=ERRA") << "-"
                                        << "-";
    QTest::newRow("set command acknowledged") << "power-on" << QByteArray("%1POWR=OK") << "answered"
                                              << "-";
    QTest::newRow("set command acknowledged in lower case")
        << "power-on" << QByteArray("%1powr=ok") << "answered"
        << "-";
    QTest::newRow("set command answered with a value")
        << "power-on" << QByteArray("%1POWR=1")
        << "failed: The projector gave an unexpected answer: 1"
        << "-";
    QTest::newRow("set command answered ERR3")
        << "power-on" << QByteArray("%1POWR=ERR3")
        << "not available: Command not available at the moment."
        << "-";
}

void TestPjlink::repliesAnswerOnlyTheirRequest()
{
    QFETCH(QString, asked);
    QFETCH(QByteArray, line);
    QFETCH(QString, outcome);
    QFETCH(QString, power);
    PjlinkProjector projector;
    if (asked == QLatin1String("status"))
        projector.frames(PjlinkProjector::Query::PowerState);
    else if (asked == QLatin1String("power-on"))
        projector.frames(commands::Command::PowerOn);
    const PjlinkProjector::Heard heard = projector.hear(line);
    QString got = QStringLiteral("-");
    for (const PjlinkProjector::Completion &done : heard.completed) {
        switch (done.verdict) {
        case commands::Verdict::Answered:
            got = QStringLiteral("answered");
            break;
        case commands::Verdict::NotAvailable:
            got = QStringLiteral("not available: ") + done.answer;
            break;
        case commands::Verdict::Failed:
            got = QStringLiteral("failed: ") + done.answer;
            break;
        case commands::Verdict::Pending:
            break;
        }
    }
    QCOMPARE(got, outcome);
    QCOMPARE(heard.power ? QStringLiteral("on") : QStringLiteral("-"), power);
    // The line is the answer to the request the port awaits exactly when it counted here.
    const QByteArray request = asked == QLatin1String("power-on") ? "%1POWR 1" : "%1POWR ?";
    if (!asked.isEmpty())
        QCOMPARE(pjlink::isAnswerTo(line, request), outcome != "-");
}

void TestPjlink::floodKeepsLinesWhole_data()
{
    // A peer that floods the port with answers, far more than its queues hold, with this
    // line end, and an over-long line after every `longEvery` lines (0: none). Lines are
    // lost; each answer handed on must be a line the peer sent, never the start of one and
    // the end of another.
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::addColumn<int>("longEvery");
    QTest::newRow("CR") << QByteArray("\r") << 0;
    QTest::newRow("LF") << QByteArray("\n") << 0;
    QTest::newRow("CR LF") << QByteArray("\r\n") << 0;
    QTest::newRow("over-long lines among them") << QByteArray("\r") << 7;
}

void TestPjlink::floodKeepsLinesWhole()
{
    QFETCH(QByteArray, lineEnd);
    QFETCH(int, longEvery);
    constexpr int kBurst = 2000; // lines the peer sends at once, some 40 KB
    constexpr int kDigits = 6;
    constexpr int kRequests = 16;
    constexpr int kBound = 20000; // ms: a few hundred kilobytes on loopback
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QString reason;
    const std::unique_ptr<PjlinkPort> port = PjlinkPort::start(
        QStringLiteral("pjlink://127.0.0.1:%1").arg(server.serverPort()), &reason);
    QVERIFY2(port, qPrintable(reason));
    QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), kBound);
    QTcpSocket *peer = server.nextPendingConnection();
    peer->write("PJLINK 0" + lineEnd);
    QTRY_COMPARE_WITH_TIMEOUT(port->advance(), NetworkPort::Progress::Open, kBound);
    for (int i = 0; i < kRequests; ++i)
        for (const char byte : QByteArray("%1INF2 ?\r"))
            port->writeByte(byte);
    port->flush();

    int sent = 0;
    const auto burst = [&] {
        QByteArray bytes;
        for (int i = 0; i < kBurst; ++i, ++sent) {
            const QByteArray number = QByteArray::number(sent).rightJustified(kDigits, '0');
            bytes += "%1INF2=" + number + ' ' + number + lineEnd;
            if (longEvery > 0 && sent % longEvery == 0)
                bytes += "%1INF2=" + QByteArray(pjlink::kMaxLine, 'y') + lineEnd;
        }
        peer->write(bytes);
    };
    QByteArrayList answers;
    const auto readOn = [&] {
        for (QByteArray answer; port->takeLine(&answer);)
            answers.append(answer);
        if (peer->bytesToWrite() == 0)
            burst();
        return answers.size() >= kRequests;
    };
    QTRY_VERIFY_WITH_TIMEOUT(readOn(), kBound);
    const QRegularExpression whole(QStringLiteral("^%1INF2=(\\d{6}) \\1$"));
    for (const QByteArray &answer : qAsConst(answers))
        QVERIFY2(whole.match(QString::fromLatin1(answer)).hasMatch(), answer.constData());
}

void TestPjlink::requestGrammar_data()
{
    // A controller's request line as the projector's side reads it.
    using Problem = pjlink::Request::Problem;
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("problem");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("parameter");
    QTest::addColumn<bool>("question");
    QTest::newRow("a question") << QByteArray("%1POWR ?") << int(Problem::None)
                                << QByteArray("POWR") << QByteArray("?") << true;
    QTest::newRow("a command") << QByteArray("%1INPT 31") << int(Problem::None)
                               << QByteArray("INPT") << QByteArray("31") << false;
    QTest::newRow("lower case") << QByteArray("%1powr 1") << int(Problem::None)
                                << QByteArray("POWR") << QByteArray("1") << false;
    QTest::newRow("class 2") << QByteArray("%2INNM ?31") << int(Problem::None) << QByteArray("INNM")
                             << QByteArray("?31") << false;
    QTest::newRow("no separator") << QByteArray("%1POWR?") << int(Problem::NoSeparator)
                                  << QByteArray("POWR") << QByteArray("") << false;
    QTest::newRow("nothing after") << QByteArray("%1POWR") << int(Problem::NoSeparator)
                                   << QByteArray("POWR") << QByteArray() << false;
    QTest::newRow("the longest") << QByteArray("%1NAME " + QByteArray(128, 'x'))
                                 << int(Problem::None) << QByteArray("NAME") << QByteArray(128, 'x')
                                 << false;
    QTest::newRow("one byte more")
        << QByteArray("%1NAME " + QByteArray(129, 'x')) << int(Problem::TooLong)
        << QByteArray("NAME") << QByteArray(129, 'x') << false;
    QTest::newRow("no percent") << QByteArray("1POWR ?") << int(Problem::NoHeader) << QByteArray()
                                << QByteArray() << false;
    QTest::newRow("class 0") << QByteArray("%0POWR ?") << int(Problem::NoHeader) << QByteArray()
                             << QByteArray() << false;
    QTest::newRow("a short command")
        << QByteArray("%1PO") << int(Problem::NoHeader) << QByteArray() << QByteArray() << false;
    QTest::newRow("not a letter") << QByteArray("%1PO R ?") << int(Problem::NoHeader)
                                  << QByteArray() << QByteArray() << false;
}

void TestPjlink::requestGrammar()
{
    QFETCH(QByteArray, line);
    QFETCH(int, problem);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, parameter);
    QFETCH(bool, question);
    const pjlink::Request request = pjlink::parseRequest(line);
    QCOMPARE(int(request.problem), problem);
    QCOMPARE(request.command, command);
    if (problem != int(pjlink::Request::Problem::NoHeader))
        QCOMPARE(request.parameter, parameter);
    QCOMPARE(request.isQuestion(), question);
}

void TestPjlink::digestOfARequest_data()
{
    // The documented example: random 498e4a67, password JBMIAProjectorLink.
    using Check = pjlink::DigestCheck;
    const QByteArray documented("5d8409bc1c3fa39749434aa3a5c38682");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("check");
    QTest::addColumn<QByteArray>("rest");
    QTest::newRow("the right digest")
        << documented + "%1POWR ?" << int(Check::Matches) << QByteArray("%1POWR ?");
    QTest::newRow("in upper case")
        << documented.toUpper() + "%1POWR ?" << int(Check::Matches) << QByteArray("%1POWR ?");
    QTest::newRow("a digest alone") << documented << int(Check::Matches) << QByteArray();
    QTest::newRow("a wrong digest")
        << QByteArray(32, 'a') + "%1POWR ?" << int(Check::Wrong) << QByteArray("%1POWR ?");
    QTest::newRow("none") << QByteArray("%1POWR ?") << int(Check::Missing) << QByteArray();
    QTest::newRow("too short") << documented.left(31) << int(Check::Missing) << QByteArray();
}

void TestPjlink::digestOfARequest()
{
    QFETCH(QByteArray, line);
    QFETCH(int, check);
    QFETCH(QByteArray, rest);
    QByteArray after;
    QCOMPARE(int(pjlink::checkDigest(line, "498e4a67", "JBMIAProjectorLink", &after)), check);
    QCOMPARE(after, rest);
}

void TestPjlink::projectorSideTexts_data()
{
    // What the projector's side writes, and that the client side reads it back.
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("greeting") << pjlink::greeting("0a1b2c3d") << QByteArray("PJLINK 1 0a1b2c3d");
    QTest::newRow("open greeting") << pjlink::greeting({}) << QByteArray("PJLINK 0");
    QTest::newRow("rejection") << pjlink::rejection() << QByteArray("PJLINK ERRA");
    QTest::newRow("answer") << pjlink::answer('1', "POWR", "OK") << QByteArray("%1POWR=OK");
    QTest::newRow("undefined") << pjlink::errorCode(pjlink::Error::Undefined) << QByteArray("ERR1");
    QTest::newRow("out of parameter")
        << pjlink::errorCode(pjlink::Error::OutOfParameter) << QByteArray("ERR2");
    QTest::newRow("unavailable") << pjlink::errorCode(pjlink::Error::Unavailable)
                                 << QByteArray("ERR3");
    QTest::newRow("failure") << pjlink::errorCode(pjlink::Error::Failure) << QByteArray("ERR4");
    QTest::newRow("one lamp") << pjlink::lampResult({1234}, true) << QByteArray("1234 1");
    QTest::newRow("two lamps, beyond five digits")
        << pjlink::lampResult({7, 123456}, false) << QByteArray("7 0 99999 0");
    QTest::newRow("a name cut whole")
        << pjlink::textResult(QStringLiteral("Salle \u00e9t\u00e9"), 9)
        << QByteArray("Salle \xc3\xa9t");
    QTest::newRow("a name of one line")
        << pjlink::textResult(QStringLiteral("a\rb"), pjlink::kMaxNameLength)
        << QByteArray("a\xef\xbf\xbd"
                      "b");
    QTest::newRow("input codes") << pjlink::inputCode(commands::Command::Vga)
            + pjlink::inputCode(commands::Command::Dvi)
                                 << QByteArray("1132");
}

void TestPjlink::projectorSideTexts()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(text, expected);
    if (text.startsWith("PJLINK"))
        QVERIFY(pjlink::parseGreeting(text).kind != pjlink::Greeting::Kind::Invalid);
    if (text.startsWith('%'))
        QVERIFY(pjlink::parseReply(text).valid);
}

QTEST_GUILESS_MAIN(TestPjlink)
#include "tst_pjlink.moc"
