// lumivox-projector-sim: a projector on a pseudo-terminal, for trying and testing
// Lumivox without hardware.

#include "pjlinksimulator.h"
#include "simulator.h"

#include "session/commandsets.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <iterator>

namespace {
constexpr int kUsageError = 2;
constexpr int kMillisPerSecond = 1000;
constexpr qint64 kMaxPort = 65535;
constexpr qint64 kMaxLamps = 8; // PJLink's LAMP tells up to eight
constexpr int kErrorFields = 6;
const char *const kQuirks[]
    = {"lower-case", "class-as-text", "lf", "latin1-name", "inputs-only-when-on"};

int usageError(const QString &message)
{
    QTextStream(stderr) << "lumivox-projector-sim: " << message << "\n"
                        << "Try 'lumivox-projector-sim --help'.\n";
    return kUsageError;
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
        "Power commands are answered ERR3 during the warm-up and the cool-down."));
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
    const QCommandLineOption protocol(
        QStringLiteral("protocol"),
        QStringLiteral("Speak the protocol of a command set: a name or a set's file."),
        QStringLiteral("name|file"));
    parser.addOptions({warmUp,        coolDown,      lampHours, mute,        crlf,
                       silentStandby, hangUp,        garbage,   seed,        log,
                       protocol,      pjlinkMode,    listen,    password,    projectorClass,
                       idleClose,     oneConnection, lamps,     errorStatus, quirk});

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
        PjlinkSimulator projector(pjlink);
        QString error;
        if (!projector.open(&error)) {
            QTextStream(stderr) << "lumivox-projector-sim: cannot listen on 127.0.0.1:"
                                << pjlink.port << ": " << error << "\n";
            return 1;
        }
        QTextStream(stdout) << "Apply this port name in Lumivox: " << projector.portName() << "\n"
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
