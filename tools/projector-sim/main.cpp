// lumivox-projector-sim: a projector on a pseudo-terminal, for trying and testing
// Lumivox without hardware.

#include "pjlinksimulator.h"
#include "searchlistener.h"
#include "simulator.h"

#include "session/commandsets.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {
constexpr int kUsageError = 2;
constexpr int kMillisPerSecond = 1000;
constexpr qint64 kMaxPort = 65535;
constexpr qint64 kMaxLamps = 8; // PJLink's LAMP tells up to eight
constexpr int kErrorFields = 6;
constexpr quint16 kNotifyPort = 4352;
constexpr qint64 kMaxMany = 65534; // projectors in one process
constexpr quint32 kLoopbackNet = 0x7f000000U; // 127.0.0.0/8
constexpr quint32 kLoopbackMask = 0xff000000U;
constexpr quint32 kLoopbackBroadcast = 0x7fffffffU;
constexpr char kDefaultName[] = "Demo Projector";
const char *const kQuirks[]
    = {"lower-case", "class-as-text", "lf", "latin1-name", "inputs-only-when-on"};

int usageError(const QString &message)
{
    QTextStream(stderr) << "lumivox-projector-sim: " << message << "\n"
                        << "Try 'lumivox-projector-sim --help'.\n";
    return kUsageError;
}

bool isLoopback(quint32 address)
{
    return (address & kLoopbackMask) == kLoopbackNet && address != kLoopbackBroadcast
        && address != kLoopbackNet;
}

// A MAC address of its own for each address: locally administered, the address after it.
QString macOf(quint32 address)
{
    return QStringLiteral("02:4c:%1:%2:%3:%4")
        .arg((address >> 24) & 0xff, 2, 16, QLatin1Char('0'))
        .arg((address >> 16) & 0xff, 2, 16, QLatin1Char('0'))
        .arg((address >> 8) & 0xff, 2, 16, QLatin1Char('0'))
        .arg(address & 0xff, 2, 16, QLatin1Char('0'));
}

bool toNumber(const QString &text, qint64 minimum, qint64 *value)
{
    bool ok = false;
    *value = text.toLongLong(&ok);
    return ok && *value >= minimum;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumivox-projector-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays a projector on a pseudo-terminal and prints the port name to apply in Lumivox\n"
        "(click the plug button, type the name, press Return).\n\n"
        "It answers \"* 0 Lamp ?\" with LAMP 0 or LAMP 1, \"OKOKOKOKOK\" powers it on (lamp on\n"
        "after the warm-up), \"* 0 IR 002\" powers it off after the cool-down, \"* 0 Lamp\"\n"
        "gives the lamp hours, \"* 0 IR 035\" the model, \"* 0 IR 036\" the resolution report\n"
        "of the current input; the source keys switch the input. Commands it does not accept\n"
        "in its state are answered \"*001\", accepted ones \"*000\".\n\n"
        "With --protocol it speaks another protocol, from a command set: a name that\n"
        "'lumivox --list-protocols' prints, or a set's file. It takes the set's frames\n"
        "(checksum and end included; other bytes, such as a wake-up, are passed over), echoes\n"
        "them as the set says and answers with the set's patterns: the power state (warming\n"
        "and cooling as above), the lamp hours of each lamp, the model, the resolution and\n"
        "the input, each reply ended as the set says.\n\n"
        "With --pjlink it plays a projector that speaks PJLink on a TCP port of 127.0.0.1\n"
        "instead (apply pjlink://127.0.0.1:PORT): POWR, INPT, INST, AVMT, ERST, LAMP, INF1,\n"
        "INF2, INFO, NAME, CLSS and, in class 2, INNM, FREZ, IRES, SNUM, SVER and FILT.\n"
        "Power commands are answered ERR3 during the warm-up and the cool-down. In class 2\n"
        "it also answers searches on UDP port 4352 and sends its controller notifications\n"
        "(its link up, power, error status and input) as they change. With --many it plays\n"
        "that many projectors at once, on consecutive loopback addresses from --address."));
    parser.addHelpOption();
    const QCommandLineOption warmUp(QStringLiteral("warm-up"),
                                    QStringLiteral("Lamp warm-up after power on (default 3000)."),
                                    QStringLiteral("ms"), QStringLiteral("3000"));
    const QCommandLineOption coolDown(QStringLiteral("cool-down"),
                                      QStringLiteral("Cool-down after power off (default 3000)."),
                                      QStringLiteral("ms"), QStringLiteral("3000"));
    const QCommandLineOption lampHours(QStringLiteral("lamp-hours"),
                                       QStringLiteral("Lamp hours reported (default 1234)."),
                                       QStringLiteral("hours"), QStringLiteral("1234"));
    const QCommandLineOption mute(QStringLiteral("mute"), QStringLiteral("Never answer."));
    const QCommandLineOption crlf(QStringLiteral("crlf"),
                                  QStringLiteral("End replies with CR LF instead of CR."));
    const QCommandLineOption silentStandby(QStringLiteral("silent-standby"),
                                           QStringLiteral("Stay silent while in standby."));
    const QCommandLineOption hangUp(
        QStringLiteral("hang-up-after"),
        QStringLiteral("Close the line this long after the program opened it, then exit."),
        QStringLiteral("seconds"));
    const QCommandLineOption garbage(QStringLiteral("garbage"),
                                     QStringLiteral("Send random bytes at this rate."),
                                     QStringLiteral("bytes-per-second"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the random bytes (default 1)."),
                                  QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Print every frame received (<-) and sent (->) with a timestamp,\n"
                       "CR and LF shown as \\r and \\n."));
    const QCommandLineOption pjlinkMode(QStringLiteral("pjlink"),
                                        QStringLiteral("Speak PJLink on the network."));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("PJLink: the TCP port (default 4352; 0 for "
                                                   "any free one)."),
                                    QStringLiteral("port"), QStringLiteral("4352"));
    const QCommandLineOption password(
        QStringLiteral("password"),
        QStringLiteral("PJLink: ask for this password (a test tool's convenience)."),
        QStringLiteral("password"));
    const QCommandLineOption projectorClass(QStringLiteral("class"),
                                            QStringLiteral("PJLink: class 1 or 2 (default 1)."),
                                            QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption idleClose(
        QStringLiteral("idle-close"),
        QStringLiteral("PJLink: close a connection this long without a request."),
        QStringLiteral("seconds"));
    const QCommandLineOption oneConnection(
        QStringLiteral("one-connection"),
        QStringLiteral("PJLink: take one connection at a time, and close it after one answer."));
    const QCommandLineOption lamps(QStringLiteral("lamps"),
                                   QStringLiteral("PJLink: the number of lamps (default 1); each "
                                                  "further one has half the hours of the one "
                                                  "before."),
                                   QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption errorStatus(
        QStringLiteral("error-status"),
        QStringLiteral("PJLink: the ERST answer, six digits of 0, 1 or 2 (default 000000)."),
        QStringLiteral("digits"), QStringLiteral("000000"));
    const QCommandLineOption quirk(
        QStringLiteral("quirk"),
        QStringLiteral("PJLink: behave as some real projectors do: lower-case (replies),\n"
                       "class-as-text (\"Class 1\"), lf (LF ends replies), latin1-name,\n"
                       "inputs-only-when-on (INST answers ERR3 in standby). Repeatable."),
        QStringLiteral("name"));
    const QCommandLineOption address(
        QStringLiteral("address"),
        QStringLiteral("PJLink: the loopback address to play on (default 127.0.0.1)."),
        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption many(
        QStringLiteral("many"),
        QStringLiteral("PJLink: play this many projectors, on consecutive addresses from\n"
                       "--address, each with its own MAC address and name (default 1)."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption notify(
        QStringLiteral("notify"),
        QStringLiteral("PJLink class 2: send notifications here (default: the controller\n"
                       "that connected last; port 4352 unless given)."),
        QStringLiteral("address[:port]"));
    const QCommandLineOption protocol(
        QStringLiteral("protocol"),
        QStringLiteral("Speak the protocol of a command set: a name or a set's file."),
        QStringLiteral("name|file"));
    parser.addOptions({warmUp,        coolDown,      lampHours, mute,        crlf,
                       silentStandby, hangUp,        garbage,   seed,        log,
                       protocol,      pjlinkMode,    listen,    password,    projectorClass,
                       idleClose,     oneConnection, lamps,     errorStatus, quirk,
                       address,       many,          notify});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument '%1'")
                              .arg(parser.positionalArguments().constFirst()));

    Simulator::Options options;
    qint64 number = 0;
    const auto numeric = [&](const QCommandLineOption &option, qint64 minimum, qint64 *value) {
        if (toNumber(parser.value(option), minimum, value))
            return true;
        usageError(QStringLiteral("--%1 needs a whole number of at least %2, not '%3'")
                       .arg(option.names().constFirst())
                       .arg(minimum)
                       .arg(parser.value(option)));
        return false;
    };
    if (!numeric(warmUp, 0, &options.projector.warmUpMs)
        || !numeric(coolDown, 0, &options.projector.coolDownMs) || !numeric(lampHours, 0, &number))
        return kUsageError;
    options.projector.lampHours = int(number);
    if (!numeric(seed, 0, &number))
        return kUsageError;
    options.seed = quint32(number);
    if (parser.isSet(hangUp)) {
        if (!numeric(hangUp, 0, &number))
            return kUsageError;
        options.hangUpAfterMs = number * kMillisPerSecond;
    }
    if (parser.isSet(garbage)) {
        if (!numeric(garbage, 1, &number) || number > kMillisPerSecond)
            return usageError(QStringLiteral("--garbage needs a rate from 1 to 1000"));
        options.garbagePerSecond = int(number);
    }
    options.mute = parser.isSet(mute);
    options.projector.silentInStandby = parser.isSet(silentStandby);
    options.projector.lineEnd = parser.isSet(crlf) ? "\r\n" : "\r";
    options.log = parser.isSet(log);

    if (parser.isSet(protocol)) {
        if (parser.isSet(pjlinkMode) || parser.isSet(crlf))
            return usageError(QStringLiteral("--protocol speaks a set's own line: not with %1")
                                  .arg(parser.isSet(pjlinkMode) ? QStringLiteral("--pjlink")
                                                                : QStringLiteral("--crlf")));
        CommandSets::Entry entry;
        QString refusal;
        // The user's and the system's folders of sets are named after the program.
        QCoreApplication::setApplicationName(QStringLiteral("lumivox"));
        const bool found = CommandSets::lookUp(parser.value(protocol), &entry, &refusal);
        QCoreApplication::setApplicationName(QStringLiteral("lumivox-projector-sim"));
        if (!found)
            return usageError(refusal);
        // The program's own protocol is played by the model made for it.
        if (!CommandSets::isBuiltIn(entry))
            options.commandSet = entry.set;
    }

    if (parser.isSet(pjlinkMode)) {
        PjlinkSimulator::Options pjlink;
        pjlink.projector.projector = options.projector;
        pjlink.projector.lineEnd = options.projector.lineEnd;
        pjlink.mute = options.mute;
        pjlink.log = options.log;
        if (!numeric(listen, 0, &number))
            return kUsageError;
        if (number > kMaxPort)
            return usageError(QStringLiteral("--listen needs a port from 0 to 65535"));
        pjlink.port = quint16(number);
        pjlink.password = parser.value(password).toUtf8();
        if (!numeric(projectorClass, 1, &number) || number > 2)
            return usageError(QStringLiteral("--class needs 1 or 2"));
        pjlink.projector.projectorClass = int(number);
        if (parser.isSet(idleClose)) {
            if (!numeric(idleClose, 0, &number))
                return kUsageError;
            pjlink.idleCloseMs = int(number * kMillisPerSecond);
        }
        pjlink.oneConnection = parser.isSet(oneConnection);
        if (!numeric(lamps, 1, &number) || number > kMaxLamps)
            return usageError(QStringLiteral("--lamps needs 1 to %1").arg(kMaxLamps));
        pjlink.projector.lamps = int(number);
        const QByteArray status = parser.value(errorStatus).toLatin1();
        if (status.size() != kErrorFields
            || !std::all_of(status.cbegin(), status.cend(),
                            [](char c) { return c >= '0' && c <= '2'; }))
            return usageError(QStringLiteral("--error-status needs six digits of 0, 1 or 2"));
        pjlink.projector.errorStatus = status;
        for (const QString &name : parser.values(quirk)) {
            if (name == QLatin1String("lower-case"))
                pjlink.projector.lowerCase = true;
            else if (name == QLatin1String("class-as-text"))
                pjlink.projector.classAsText = true;
            else if (name == QLatin1String("lf"))
                pjlink.projector.lineEnd = "\n";
            else if (name == QLatin1String("latin1-name"))
                pjlink.projector.latin1Name = true;
            else if (name == QLatin1String("inputs-only-when-on"))
                pjlink.projector.inputsOnlyWhenOn = true;
            else
                return usageError(QStringLiteral("unknown quirk '%1'; the quirks are: %2")
                                      .arg(name,
                                           QStringList(std::begin(kQuirks), std::end(kQuirks))
                                               .join(QStringLiteral(", "))));
        }
        QHostAddress first;
        if (!first.setAddress(parser.value(address))
            || first.protocol() != QAbstractSocket::IPv4Protocol
            || !isLoopback(first.toIPv4Address()))
            return usageError(QStringLiteral("--address needs a loopback IPv4 address, not '%1'")
                                  .arg(parser.value(address)));
        qint64 count = 1;
        if (!numeric(many, 1, &count))
            return kUsageError;
        if (count > kMaxMany || !isLoopback(first.toIPv4Address() + quint32(count - 1)))
            return usageError(QStringLiteral("--many %1 from %2 leaves the loopback network")
                                  .arg(count)
                                  .arg(first.toString()));
        pjlink.datagrams = pjlink.projector.projectorClass == 2;
        if (parser.isSet(notify)) {
            if (!pjlink.datagrams)
                return usageError(QStringLiteral("--notify is for --class 2"));
            const QString target = parser.value(notify);
            const qsizetype colon = target.indexOf(QLatin1Char(':'));
            qint64 notifyPort = kNotifyPort;
            if ((colon >= 0
                 && (!toNumber(target.mid(colon + 1), 1, &notifyPort) || notifyPort > kMaxPort))
                || !pjlink.notifyAddress.setAddress(target.left(colon))
                || pjlink.notifyAddress.protocol() != QAbstractSocket::IPv4Protocol)
                return usageError(QStringLiteral("--notify needs an IPv4 address and maybe a "
                                                 "port, not '%1'")
                                      .arg(target));
            pjlink.notifyPort = quint16(notifyPort);
        }
        // One listener hears the searches broadcast on the loopback network for them all.
        SearchListener listener;
        QString error;
        if (pjlink.datagrams && !listener.listen(QHostAddress(kLoopbackBroadcast), &error)) {
            QTextStream(stderr) << "lumivox-projector-sim: cannot hear searches: " << error << "\n";
            return 1;
        }
        // Two descriptors a projector, and more for each connection: a thousand projectors
        // need more than the usual soft limit, as far as the hard one allows.
        rlimit files {};
        if (count > 1 && getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            setrlimit(RLIMIT_NOFILE, &files);
        }
        std::vector<std::unique_ptr<PjlinkSimulator>> projectors;
        for (qint64 i = 0; i < count; ++i) {
            const quint32 own = first.toIPv4Address() + quint32(i);
            pjlink.address = QHostAddress(own);
            pjlink.mac = macOf(own);
            // Each one named after its address, but the one on the usual address alone.
            pjlink.projector.name = count == 1 && pjlink.address == QHostAddress::LocalHost
                ? QByteArray(kDefaultName)
                : QByteArray(kDefaultName) + ' ' + pjlink.address.toString().toLatin1();
            auto projector = std::make_unique<PjlinkSimulator>(pjlink);
            if (!projector->open(&error)) {
                QTextStream(stderr)
                    << "lumivox-projector-sim: cannot listen on " << pjlink.address.toString()
                    << ":" << pjlink.port << ": " << error << "\n";
                return 1;
            }
            listener.add(projector.get());
            projectors.push_back(std::move(projector));
        }
        if (count == 1)
            QTextStream(stdout) << "Apply this port name in Lumivox: "
                                << projectors.front()->portName() << "\n"
                                << Qt::flush;
        else
            QTextStream(stdout) << "Apply these port names in Lumivox: "
                                << projectors.front()->portName() << " to "
                                << projectors.back()->portName() << "\n"
                                << Qt::flush;
        return QCoreApplication::exec();
    }

    Simulator simulator(options);
    QString error;
    if (!simulator.start(&error)) {
        QTextStream(stderr) << "lumivox-projector-sim: no pseudo-terminal: " << error << "\n";
        return 1;
    }
    QObject::connect(&simulator, &Simulator::hungUp, &application, &QCoreApplication::quit);
    QTextStream(stdout) << "Apply this port name in Lumivox: " << simulator.portName() << "\n"
                        << Qt::flush;
    return QCoreApplication::exec();
}
