// lumivox-projector-sim: a projector on a pseudo-terminal, for trying and testing
// Lumivox without hardware.

#include "simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

namespace {
constexpr int kUsageError = 2;
constexpr int kMillisPerSecond = 1000;

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
        "in its state are answered \"*001\", accepted ones \"*000\"."));
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
    parser.addOptions(
        {warmUp, coolDown, lampHours, mute, crlf, silentStandby, hangUp, garbage, seed, log});

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
