#include "commandline.h"

#include "channelclient.h"
#include "channelname.h"
#include "console.h"
#include "exchange.h"
#include "portio.h"
#include "protocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>
#include <QTimer>

#include <cstring>

namespace {
constexpr char kDefaultPort[] = "COM1";
constexpr int kReadInterval = 10; // ms between two looks at the port
constexpr quint32 kReadChunk = 256; // bytes taken from the port per look
// ms the window may take beyond the answers' own time: a request queued behind others
constexpr int kWindowAllowance = 10000;
constexpr int kNameColumn = 20; // width of the name column of --list

const QStringList &queryNames()
{
    static const QStringList names {QStringLiteral("lamp-time"), QStringLiteral("model"),
                                    QStringLiteral("resolution")};
    return names;
}

int usageError(const QString &message)
{
    QTextStream(stderr) << "lumivox: " << message << "\nTry 'lumivox --help'.\n";
    return Exchange::UsageError;
}

int unknownName(const QString &name, const QStringList &known)
{
    return usageError(QStringLiteral("unknown command name '%1'; the names are: %2")
                          .arg(name, known.join(QStringLiteral(", "))));
}

void printList(bool json)
{
    QTextStream out(stdout);
    QJsonArray list;
    for (int i = 0; i < protocol::kCommandCount; ++i) {
        const protocol::NamedCommand &entry = protocol::commandTable()[i];
        if (json)
            list.append(QJsonObject {{QStringLiteral("name"), QLatin1String(entry.name)},
                                     {QStringLiteral("frame"), QLatin1String(entry.text)}});
        else
            out << QString::fromLatin1(entry.name).leftJustified(kNameColumn) << entry.text << "\n";
    }
    if (json)
        out << QJsonDocument(QJsonObject {{QStringLiteral("commands"), list}})
                   .toJson(QJsonDocument::Compact)
            << "\n";
}

// The run on the port itself: the same frames, line assembly and reply grammar as the
// window's, read every few milliseconds instead of every tick.
Exchange::Result runOnPort(const QString &portName, const QList<Exchange::Step> &steps)
{
    QString reason;
    const std::unique_ptr<PortDevice> port = openProjectorPort(portName, &reason);
    if (!port) {
        Exchange::Result result;
        result.error = reason;
        result.status = Exchange::PortFailed;
        return result;
    }
    Exchange exchange(steps, [&port](const Exchange::Step &step, QString *error) {
        if (writeFrame(*port, protocol::frame(step.text)) == PortDevice::WriteResult::Written)
            return true;
        *error = QStringLiteral("Failed to send data to serial port");
        return false;
    });
    QString line;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, &exchange, [&] {
        char bytes[kReadChunk];
        const quint32 count = port->read(bytes, kReadChunk);
        for (quint32 i = 0; i < count; ++i) {
            if (protocol::feedByte(line, bytes[i]) == protocol::ByteResult::LineComplete) {
                exchange.takeLine(line);
                line.clear();
            }
        }
    });
    QObject::connect(&exchange, &Exchange::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    reader.start(kReadInterval);
    exchange.start();
    if (!exchange.isFinished())
        QCoreApplication::exec();
    return exchange.result();
}

void printResult(const Exchange::Result &result, bool json, const QJsonObject &extra)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    if (json) {
        QJsonObject object = Exchange::toJson(result);
        for (auto it = extra.begin(); it != extra.end(); ++it)
            object.insert(it.key(), it.value());
        out << QJsonDocument(object).toJson(QJsonDocument::Compact) << "\n";
    }
    for (const Exchange::StepResult &step : result.steps) {
        const protocol::NamedCommand *entry = protocol::commandNamed(step.name);
        const bool lampState = !entry;
        const bool question = lampState || entry->answer != protocol::Answer::Acknowledgement;
        if (!json && lampState)
            out << (step.outcome == Exchange::Outcome::Answered ? step.answer : result.lamp)
                << "\n";
        else if (!json && question && step.outcome == Exchange::Outcome::Answered)
            out << step.answer << "\n";
        if (step.outcome == Exchange::Outcome::NotAvailable)
            err << "lumivox: " << step.name << ": Command not available at the moment.\n";
        else if (question && step.outcome == Exchange::Outcome::Silent)
            err << "lumivox: " << step.name << ": no answer from the projector within "
                << Exchange::kAnswerWait / 1000 << " s\n";
    }
    if (!result.error.isEmpty())
        err << "lumivox: " << result.error << "\n";
}
} // namespace

bool wantsCommandLine(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strncmp(argument, "--", 2) == 0 || std::strcmp(argument, "-h") == 0
            || std::strcmp(argument, "-?") == 0 || std::strcmp(argument, "-v") == 0)
            return true;
    }
    return false;
}

int runCommandLine(int argc, char *argv[])
{
    attachParentConsole();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumivox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMIVOX_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends commands to the projector by name, through the running Lumivox window when\n"
        "there is one (it holds the port), else on the port itself. Exit status: 0 done,\n"
        "1 the port could not be opened, 2 no answer within 2 s to a question, 3 the\n"
        "command is not available at the moment, 64 a usage error. Without these options\n"
        "Lumivox opens its window."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption send(QStringLiteral("send"),
                                  QStringLiteral("Sends the named commands in order (more names "
                                                 "may follow; see --list)."),
                                  QStringLiteral("name"));
    const QCommandLineOption query(
        QStringLiteral("query"),
        QStringLiteral("Asks the projector and prints its answer: lamp-time, model or "
                       "resolution."),
        QStringLiteral("name"));
    const QCommandLineOption status(QStringLiteral("status"),
                                    QStringLiteral("Asks the lamp state; prints on, off or "
                                                   "unknown."));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Prints every command name and its frame."));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Prints one JSON object for the whole run."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("The serial port when no window holds one (default COM1)."),
        QStringLiteral("port"));
    parser.addOptions({send, query, status, list, json, port});
    parser.addPositionalArgument(QStringLiteral("names"),
                                 QStringLiteral("More command names for --send."),
                                 QStringLiteral("[name...]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.isSet(list)) {
        printList(parser.isSet(json));
        return Exchange::Done;
    }

    QStringList names = parser.values(send);
    if (!parser.positionalArguments().isEmpty() && !parser.isSet(send))
        return usageError(QStringLiteral("unexpected argument '%1'")
                              .arg(parser.positionalArguments().constFirst()));
    names += parser.positionalArguments();
    for (const QString &name : names)
        if (!protocol::commandNamed(name))
            return unknownName(name, protocol::commandNames());
    for (const QString &name : parser.values(query)) {
        if (!queryNames().contains(name))
            return unknownName(name, queryNames());
        names.append(name);
    }
    if (names.isEmpty() && !parser.isSet(status))
        return usageError(
            QStringLiteral("nothing to do: give --send, --query, --status or --list"));
    if (parser.isSet(port) && parser.value(port).isEmpty())
        return usageError(QStringLiteral("--port needs a port name"));
    if (names.size() > Exchange::kMaxCommands)
        return usageError(
            QStringLiteral("at most %1 commands at once").arg(Exchange::kMaxCommands));

    QJsonObject request {{QStringLiteral("commands"), QJsonArray::fromStringList(names)},
                         {QStringLiteral("status"), parser.isSet(status)}};
    if (parser.isSet(port))
        request.insert(QStringLiteral("port"), parser.value(port));
    const QList<Exchange::Step> steps = Exchange::plan(names, parser.isSet(status));
    const int answerTime = Exchange::kAnswerWait * int(steps.size()) + kWindowAllowance;

    QJsonObject answer;
    QString error;
    Exchange::Result result;
    QJsonObject extra;
    switch (askWindow(localChannelName(), request, answerTime, &answer, &error)) {
    case WindowAnswer::Answered:
        result = Exchange::fromJson(answer);
        extra.insert(QStringLiteral("via"), QStringLiteral("window"));
        extra.insert(QStringLiteral("port"), answer.value(QStringLiteral("port")));
        break;
    case WindowAnswer::Failed:
        result.error = error;
        result.status = Exchange::PortFailed;
        extra.insert(QStringLiteral("via"), QStringLiteral("window"));
        break;
    case WindowAnswer::NoWindow:
    case WindowAnswer::OtherPort: {
        const QString name = parser.isSet(port) ? parser.value(port) : QLatin1String(kDefaultPort);
        result = runOnPort(name, steps);
        extra.insert(QStringLiteral("via"), QStringLiteral("port"));
        extra.insert(QStringLiteral("port"), PortDevice::locationOf(name));
        break;
    }
    }
    printResult(result, parser.isSet(json), extra);
    return result.status;
}
