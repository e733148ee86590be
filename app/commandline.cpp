#include "app/commandline.h"

#include "app/serviceoptions.h"
#include "app/serviceprogram.h"
#include "channel/channelclient.h"
#include "channel/channelname.h"
#include "link/characters.h"
#include "link/commands.h"
#include "link/pjlink.h"
#include "link/pjlinksearch.h"
#include "link/portdevice.h"
#include "link/portname.h"
#include "link/portopener.h"
#include "link/replytexts.h"
#include "link/serialline.h"
#include "platform/console.h"
#include "platform/secretfile.h"
#include "session/commandsets.h"
#include "session/exitstatus.h"
#include "session/projectorrequest.h"
#include "session/projectorsession.h"
#include "session/resultjson.h"
#include "session/scriptedrequest.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {
constexpr char kDefaultPort[] = "COM1";
constexpr int kTickInterval = 10; // ms between two looks at the port
// ms the window may take beyond the answers' own time: a request queued behind others
constexpr int kWindowAllowance = 10000;
constexpr int kNameColumn = 20; // width of the name column of --list
constexpr int kAddressColumn = 17; // widths of the address and MAC columns of --search
constexpr int kMacColumn = 19;
constexpr int kHelpWidth = 86; // columns of the help text's description

// The command line's own options: any of them selects the command line; anything else
// (no arguments, the toolkit's options such as --style or -geometry) starts the window.
const char *const kOwnOptions[]
    = {"--send",     "--status", "--query", "--list",    "--list-protocols",
       "--protocol", "--baud",   "--json",  "--port",    "--password-file",
       "--search",   "--on",     "--help",  "--version", "--help-all",
       "-h",         "-?",       "-v"};
// A projector's password comes from here or from a file, never from an argument: every
// user of the machine can read the arguments of a process.
constexpr char kPasswordVariable[] = "LUMIVOX_PJLINK_PASSWORD";
// What the command line prints, written at its end: a write that fails or falls short
// (a full disk, a closed descriptor) makes the run a failure, said on standard error
// where that still can be written. A reader that went away (head) is no news.
class Output
{
public:
    void out(const QString &text) { outText += text.toUtf8(); }
    void err(const QString &text) { errText += text.toUtf8(); }

    int finish(int status)
    {
        if (!write(stdout, outText)) {
            const int error = errno;
            if (error != EPIPE) {
                errText += "lumivox: cannot write the output: ";
                errText += std::strerror(error);
                errText += '\n';
            }
            status = exitstatus::PortFailed;
        }
        if (!write(stderr, errText))
            status = exitstatus::PortFailed;
        return status;
    }

private:
    static bool write(FILE *stream, const QByteArray &bytes)
    {
        errno = 0;
        const size_t written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
        return std::fflush(stream) == 0 && written == size_t(bytes.size()) && !std::ferror(stream);
    }

    QByteArray outText;
    QByteArray errText;
};

int usageError(Output &output, const QString &message)
{
    output.err(QStringLiteral("lumivox: ") + message + QStringLiteral("\nTry 'lumivox --help'.\n"));
    return output.finish(exitstatus::UsageError);
}

// The text as lines of at most kHelpWidth characters, broken between words.
QString wrapped(const QString &text)
{
    QString lines;
    QString line;
    for (const QString &word : text.split(QLatin1Char(' '))) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > kHelpWidth) {
            lines += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return lines + line;
}

// A port name no way in takes, said without the name where it holds what must not be
// echoed.
QString refusedPortText(const QString &name, const QString &reason)
{
    if (portname::hasControlCharacter(name) || reason.startsWith(PortOpener::locationOf(name)))
        return reason;
    return name + QStringLiteral(": ") + reason;
}

// Every command of the program's own protocol, or only those the set has, each with its
// frame as it goes on the line but for the end.
void printList(Output &output, bool json, const std::optional<CommandSet> &set)
{
    QJsonArray list;
    for (int i = 0; i < commands::kCommandCount; ++i) {
        const commands::NamedCommand &entry = commands::commandTable()[i];
        if (set && !set->has(entry.id))
            continue;
        const QString frame = set
            ? characters::escapedBytes(set->frame(entry.id).chopped(int(set->framing.end.size())))
            : QLatin1String(entry.text);
        if (json)
            list.append(QJsonObject {{QStringLiteral("name"), QLatin1String(entry.name)},
                                     {QStringLiteral("frame"), frame}});
        else
            output.out(QString::fromLatin1(entry.name).leftJustified(kNameColumn) + frame
                       + QLatin1Char('\n'));
    }
    if (json)
        output.out(QString::fromUtf8(QJsonDocument(QJsonObject {{QStringLiteral("commands"), list}})
                                         .toJson(QJsonDocument::Compact))
                   + QLatin1Char('\n'));
}

// The usual line settings of a set, as "9600 8N1" (and the flow control where there is one).
QString lineSettingsText(const CommandSet::LineSettings &line)
{
    return SerialLine::usualOf(line).text();
}

// The sets --protocol takes by name; a folder's file that does not read is said on
// standard error and left out.
void printProtocols(Output &output, bool json)
{
    QStringList refusals;
    const QList<CommandSets::Entry> entries = CommandSets::available(&refusals);
    QJsonArray list;
    for (const CommandSets::Entry &entry : entries) {
        const CommandSet &set = entry.set;
        if (json) {
            const CommandSet::LineSettings &line = set.line;
            list.append(QJsonObject {
                {QStringLiteral("name"), entry.name},
                {QStringLiteral("title"), set.name},
                {QStringLiteral("maker"), set.maker},
                {QStringLiteral("models"), QJsonArray::fromStringList(set.models)},
                {QStringLiteral("file"), entry.path},
                {QStringLiteral("baud"), line.bauds.value(0)},
                {QStringLiteral("data-bits"), line.dataBits.value(0)},
                {QStringLiteral("parity"), CommandSet::parityWord(line.parities.value(0))},
                {QStringLiteral("stop-bits"), line.stopBits.value(0)},
                {QStringLiteral("flow-control"),
                 CommandSet::flowControlWord(line.flowControls.value(0))}});
        } else {
            const QString maker = set.maker.isEmpty() ? QString() : set.maker + QLatin1String(", ");
            output.out(entry.name.leftJustified(kNameColumn) + maker + set.name
                       + QLatin1String(" (") + lineSettingsText(set.line) + QLatin1String(")\n"));
        }
    }
    if (json)
        output.out(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact))
                   + QLatin1Char('\n'));
    for (const QString &refusal : refusals)
        output.err(QStringLiteral("lumivox: ") + refusal + QLatin1Char('\n'));
}

#ifndef Q_OS_WIN
// The bytes the last --port of the command line was given as, or nothing.
QByteArray rawPortArgument(int argc, char *argv[])
{
    QByteArray raw;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--port" && i + 1 < argc)
            raw = QByteArray(argv[++i]);
        else if (argument.startsWith("--port="))
            raw = argument.mid(int(qstrlen("--port=")));
    }
    return raw;
}
#endif

// The --port given, or the default; false, with the message written, for a name that
// would not reach the system as it was given: one that a replacement character would
// stand in for would lead to another device. (Windows hands the program its arguments
// as wide characters already.)
bool portArgument(const QCommandLineParser &parser, const QCommandLineOption &port, int argc,
                  char *argv[], Output &output, QString *portName)
{
    *portName = parser.isSet(port) ? parser.value(port) : QLatin1String(kDefaultPort);
#ifndef Q_OS_WIN
    if (parser.isSet(port) && QFile::encodeName(*portName) != rawPortArgument(argc, argv)) {
        output.err(QStringLiteral("lumivox: %1: The port name cannot be handed to the system "
                                  "unchanged\n")
                       .arg(*portName));
        return false;
    }
#else
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    Q_UNUSED(output)
#endif
    return true;
}

// The password for a PJLink projector: the first line of the file, or the environment
// variable without a line end after it; empty when neither is given. False, with the
// reason, for a file not read or a password PJLink cannot take; `warning` gets a caution
// about the file.
bool readPassword(const QString &file, QString *password, QString *reason, QString *warning)
{
    QByteArray bytes;
    if (file.isEmpty()) {
        bytes = withoutLineEnd(qgetenv(kPasswordVariable));
    } else {
        const std::optional<QByteArray> line = readSecretFile(file, reason, warning);
        if (!line)
            return false;
        bytes = *line;
    }
    const QString problem = pjlink::passwordProblem(bytes);
    if (!problem.isEmpty()) {
        *reason = (file.isEmpty() ? QLatin1String(kPasswordVariable) : file) + QStringLiteral(": ")
            + problem;
        return false;
    }
    *password = QString::fromUtf8(bytes);
    return true;
}

// The run on the port itself: a session of its own, without polling, that sends the
// request's frames and reads the replies every few milliseconds.
ScriptedRequest::Result runOnPort(const QString &portName,
                                  const QList<ScriptedRequest::Step> &steps,
                                  const QString &password, const std::optional<CommandSet> &set,
                                  int baud)
{
    ProjectorSession session;
    session.setPolling(false);
    session.setCommandSet(set);
    session.setBaudRate(baud);
    if (!password.isEmpty())
        session.setPassword(portName, password);
    // A projector that wants a password the session does not have ends the request
    // itself: nobody is there to type one.
    ScriptedRequest request(steps);
    ScriptedRequest::Result failure;
    failure.status = ScriptedRequest::Status::PortFailed;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &session, &ProjectorSession::tick);
    QObject::connect(&request, &ScriptedRequest::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(&session, &ProjectorSession::openFinished, &request,
                     [&](bool opened, const QString &reason) {
                         if (opened) {
                             session.submit(&request);
                         } else {
                             failure.error = reason;
                             QCoreApplication::quit();
                         }
                     });
    switch (session.openPort(portName, &failure.error)) {
    case ProjectorSession::OpenResult::Failed:
        return failure;
    case ProjectorSession::OpenResult::Open:
        session.submit(&request);
        break;
    case ProjectorSession::OpenResult::Pending:
        break;
    }
    ticker.start(kTickInterval);
    QCoreApplication::exec();
    return request.isFinished() ? request.result() : failure;
}

// The result as the program that ran it answered it (`answer`, its JSON, printed as it
// is with --json) and as read back (`result`).
void printResult(Output &output, const ScriptedRequest::Result &result, bool json,
                 const QJsonObject &answer)
{
    using Outcome = ScriptedRequest::StepOutcome;
    if (json)
        output.out(QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Compact))
                   + QLatin1Char('\n'));
    for (const ScriptedRequest::StepResult &step : result.steps) {
        const commands::NamedCommand *entry = commands::commandNamed(step.name);
        const bool errorStatus = !entry && ProjectorRequest::isName(step.name);
        const bool lampState = !entry && !errorStatus;
        const bool question
            = lampState || errorStatus || entry->answer != commands::Answer::Acknowledgement;
        // A request ended while an answer was awaited (a password refused) prints no
        // answer and no silence: the reason says why.
        const bool cutShort = step.outcome == Outcome::Silent
            && result.status == ScriptedRequest::Status::PortFailed;
        if (!json && lampState && !cutShort)
            output.out((step.outcome == Outcome::Answered ? step.answer : result.lamp)
                       + QLatin1Char('\n'));
        else if (!json && question && step.outcome == Outcome::Answered)
            output.out(step.answer + QLatin1Char('\n'));
        if (step.outcome == Outcome::Failed)
            output.err(QStringLiteral("lumivox: %1: %2\n").arg(step.name, step.reason));
        else if (step.outcome == Outcome::NotAvailable)
            output.err(QStringLiteral("lumivox: %1: %2\n")
                           .arg(step.name,
                                step.reason.isEmpty()
                                    ? QString::fromLatin1(replytexts::kNotAvailable)
                                    : step.reason));
        else if (step.outcome == Outcome::Silent && !cutShort
                 && (question || result.status == ScriptedRequest::Status::NoAnswer))
            output.err(QStringLiteral("lumivox: %1: no answer from the projector within %2 s\n")
                           .arg(step.name)
                           .arg(ScriptedRequest::kAnswerWait / 1000));
    }
    if (!result.error.isEmpty())
        output.err(QStringLiteral("lumivox: ") + result.error + QLatin1Char('\n'));
}

// The model as one text: the maker's name and the model's, where the projector told them.
QString modelText(const PjlinkSearch::Projector &projector)
{
    return (projector.maker + QLatin1Char(' ') + projector.model).trimmed();
}

// The projectors a search found, by address: a line each (address, MAC, class, name and
// model; "password asked" for one that wants a password), or one JSON array.
void printFound(Output &output, bool json, QList<PjlinkSearch::Projector> found)
{
    std::sort(found.begin(), found.end(),
              [](const PjlinkSearch::Projector &a, const PjlinkSearch::Projector &b) {
                  return a.address.toIPv4Address() < b.address.toIPv4Address();
              });
    const QString unknown = QStringLiteral("-");
    QJsonArray list;
    for (const PjlinkSearch::Projector &projector : std::as_const(found)) {
        const QString address = projector.address.toString();
        if (json) {
            QJsonObject entry {{QStringLiteral("address"), address},
                               {QStringLiteral("port"), projector.portName()},
                               {QStringLiteral("mac"), projector.mac}};
            if (projector.passwordAsked)
                entry.insert(QStringLiteral("password-asked"), true);
            if (projector.projectorClass > 0)
                entry.insert(QStringLiteral("class"), projector.projectorClass);
            if (!projector.name.isEmpty())
                entry.insert(QStringLiteral("name"), projector.name);
            if (!projector.maker.isEmpty())
                entry.insert(QStringLiteral("maker"), projector.maker);
            if (!projector.model.isEmpty())
                entry.insert(QStringLiteral("model"), projector.model);
            list.append(entry);
        } else {
            QString line
                = address.leftJustified(kAddressColumn) + projector.mac.leftJustified(kMacColumn);
            if (projector.passwordAsked)
                line += QStringLiteral("password asked");
            else
                line += (projector.projectorClass > 0 ? QString::number(projector.projectorClass)
                                                      : unknown)
                    + QStringLiteral("  ") + (projector.name.isEmpty() ? unknown : projector.name)
                    + QStringLiteral("  ")
                    + (modelText(projector).isEmpty() ? unknown : modelText(projector));
            output.out(line + QLatin1Char('\n'));
        }
        if (!projector.failure.isEmpty())
            output.err(QStringLiteral("lumivox: ") + projector.failure + QLatin1Char('\n'));
    }
    if (json)
        output.out(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact))
                   + QLatin1Char('\n'));
    if (found.isEmpty())
        output.err(QStringLiteral("lumivox: no PJLink projector answered the search\n"));
}

// --search: the PJLink class 2 search on the given broadcast addresses (else the host's
// networks), its answers collected for a few seconds and each projector asked what it is.
int runSearch(Output &output, bool json, const QStringList &on)
{
    QList<QHostAddress> targets;
    for (const QString &text : on) {
        QHostAddress address;
        if (!address.setAddress(text) || address.protocol() != QAbstractSocket::IPv4Protocol)
            return usageError(output,
                              QStringLiteral("--on needs an IPv4 address, not '%1'").arg(text));
        targets.append(address);
    }
    PjlinkSearch search;
    QString error;
    if (!search.start(targets, QHostAddress(QHostAddress::AnyIPv4), &error)) {
        output.err(QStringLiteral("lumivox: cannot receive the answers on UDP port %1: %2\n")
                       .arg(pjlinkclass2::kPort)
                       .arg(error));
        return output.finish(exitstatus::PortFailed);
    }
    QObject::connect(&search, &PjlinkSearch::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    QCoreApplication::exec();
    printFound(output, json, search.projectors());
    return output.finish(exitstatus::Done);
}
} // namespace

bool wantsCommandLine(int argc, char *argv[])
{
    const auto isOption = [](const char *argument, const char *option) {
        const size_t length = std::strlen(option);
        // "--port=ttyUSB0" as well as "--port ttyUSB0"
        return std::strncmp(argument, option, length) == 0
            && (argument[length] == '\0' || argument[length] == '=');
    };
    for (int i = 1; i < argc; ++i) {
        for (const char *option : kOwnOptions)
            if (isOption(argv[i], option))
                return true;
        for (const char *option : serviceOptionNames())
            if (isOption(argv[i], option))
                return true;
    }
    return false;
}

int runCommandLine(int argc, char *argv[], std::optional<WindowStart> *window)
{
#ifdef SIGPIPE
    // A reader that went away is a failed write, not the end of the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    attachParentConsole();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumivox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMIVOX_VERSION));
    Output output;

    QCommandLineParser parser;
    parser.setApplicationDescription(
        wrapped(
            QStringLiteral("Sends commands to the projector by name, through the running Lumivox "
                           "window or service that holds the port when there is one, else on the "
                           "port itself. ")
            + exitstatus::help()
            + QStringLiteral(" A projector on the network that speaks PJLink is --port "
                             "pjlink://HOST[:PORT]; its password is read from the environment "
                             "variable %1 or from --password-file, never from an argument.")
                  .arg(QLatin1String(kPasswordVariable)))
        + QStringLiteral("\nWithout these options Lumivox opens its window."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption send(QStringLiteral("send"),
                                  QStringLiteral("Sends the named commands in order (more names "
                                                 "may follow; see --list; errors asks a "
                                                 "PJLink projector's error status)."),
                                  QStringLiteral("name"));
    const QCommandLineOption query(
        QStringLiteral("query"),
        QStringLiteral("Asks the projector and prints its answer: lamp-time, model, "
                       "resolution, or errors (the error status of a PJLink projector)."),
        QStringLiteral("name"));
    const QCommandLineOption status(QStringLiteral("status"),
                                    QStringLiteral("Asks the lamp state; prints on, off or "
                                                   "unknown (a PJLink projector also warming "
                                                   "or cooling)."));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Prints every command name and its frame."));
    const QCommandLineOption listProtocols(
        QStringLiteral("list-protocols"),
        QStringLiteral("Prints the protocols --protocol knows by name: the program's own, the "
                       "user's and the system's command sets, each with its maker and line "
                       "settings."));
    const QCommandLineOption protocol(
        QStringLiteral("protocol"),
        QStringLiteral("The projector's protocol, for a serial port or a bridge that is "
                       "opened here or served (--serve): a name of --list-protocols, or a "
                       "command set file (a name with a '/' or ending in .ini). The serial line "
                       "gets the set's usual settings."),
        QStringLiteral("name|file"));
    const QCommandLineOption baud(
        QStringLiteral("baud"),
        QStringLiteral("The serial line's baud rate, %1 to %2, in place of the protocol's usual "
                       "one: for a serial port or an rfc2217:// bridge that is opened here or "
                       "served (--serve).")
            .arg(SerialLine::kMinBaud)
            .arg(SerialLine::kMaxBaud),
        QStringLiteral("rate"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("Prints one JSON object for the whole run."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("The port: a window that holds it serves the "
                                                 "request, else it is opened (default COM1)."),
                                  QStringLiteral("port"));
    const QCommandLineOption passwordFile(
        QStringLiteral("password-file"),
        QStringLiteral("A PJLink projector's password: the first line of this file (else "
                       "LUMIVOX_PJLINK_PASSWORD)."),
        QStringLiteral("file"));
    const QCommandLineOption search(
        QStringLiteral("search"),
        QStringLiteral("Finds the PJLink projectors on the networks (a class 2 search on UDP "
                       "port 4352) and prints each one's address, MAC address, class, name and "
                       "model, as far as it tells them without a password."));
    const QCommandLineOption on(QStringLiteral("on"),
                                QStringLiteral("--search, --discover: the broadcast address to "
                                               "search on, in place of the host's networks "
                                               "(repeatable)."),
                                QStringLiteral("address"));
    parser.addOptions({send, query, status, list, listProtocols, protocol, baud, json, port,
                       passwordFile, search, on});
    parser.addOptions(serviceOptions());
    parser.addPositionalArgument(QStringLiteral("names"),
                                 QStringLiteral("More command names for --send."),
                                 QStringLiteral("[name...]"));

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(output, parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        output.out(parser.helpText());
        return output.finish(exitstatus::Done);
    }
    if (parser.isSet(version)) {
        output.out(QStringLiteral("lumivox %1\n").arg(QCoreApplication::applicationVersion()));
        return output.finish(exitstatus::Done);
    }
    if (parser.isSet(list)) {
        CommandSets::Entry entry;
        QString problem;
        if (parser.isSet(protocol)
            && !CommandSets::lookUp(parser.value(protocol), &entry, &problem))
            return usageError(output, problem);
        const bool listsSet = parser.isSet(protocol) && !CommandSets::isBuiltIn(entry);
        printList(output, parser.isSet(json), listsSet ? std::optional(entry.set) : std::nullopt);
        return output.finish(exitstatus::Done);
    }
    if (parser.isSet(listProtocols)) {
        printProtocols(output, parser.isSet(json));
        return output.finish(exitstatus::Done);
    }
    if (parser.isSet(on) && !parser.isSet(search)
        && !parser.isSet(QLatin1String(serviceoption::kDiscover)))
        return usageError(output, QStringLiteral("--on is for --search or --discover"));
    if (parser.isSet(search)) {
        // A search asks nobody for a password and sends no command.
        for (const QCommandLineOption &other :
             {send, query, status, protocol, baud, port, passwordFile})
            if (parser.isSet(other))
                return usageError(output,
                                  QStringLiteral("--search takes --json and --on, not --%1")
                                      .arg(other.names().constFirst()));
        if (wantsService(parser))
            return usageError(output, QStringLiteral("--search is not for the service"));
        if (!parser.positionalArguments().isEmpty())
            return usageError(output,
                              QStringLiteral("unexpected argument '%1'")
                                  .arg(parser.positionalArguments().constFirst()));
        return runSearch(output, parser.isSet(json), parser.values(on));
    }

    QString password;
    QString passwordProblem;
    QString passwordWarning;
    const bool passwordRead
        = readPassword(parser.value(passwordFile), &password, &passwordProblem, &passwordWarning);
    if (!passwordWarning.isEmpty()) {
        // At once: the service runs on, and this is where it logs.
        std::fprintf(stderr, "lumivox: %s\n", passwordWarning.toLocal8Bit().constData());
        std::fflush(stderr);
    }
    if (!passwordRead) {
        output.err(QStringLiteral("lumivox: cannot read the password: ") + passwordProblem
                   + QLatin1Char('\n'));
        return output.finish(exitstatus::UsageError);
    }
    if (parser.isSet(port) && parser.value(port).isEmpty())
        return usageError(output, QStringLiteral("--port needs a port name"));
    QString portName;
    if (!portArgument(parser, port, argc, argv, output, &portName))
        return output.finish(exitstatus::UsageError);

    // The protocol chosen; none for the program's own.
    std::optional<CommandSet> chosenSet;
    bool ownProtocol = true;
    if (parser.isSet(protocol)) {
        if (portname::isPjlinkName(portName))
            return usageError(output,
                              QStringLiteral("--protocol is for serial ports and bridges: a "
                                             "pjlink:// projector speaks PJLink"));
        CommandSets::Entry entry;
        QString problem;
        if (!CommandSets::lookUp(parser.value(protocol), &entry, &problem))
            return usageError(output, problem);
        ownProtocol = CommandSets::isBuiltIn(entry);
        if (!ownProtocol)
            chosenSet = entry.set;
    }
    // The baud rate chosen; 0 for the protocol's usual one.
    int baudRate = 0;
    if (parser.isSet(baud)) {
        bool number = false;
        baudRate = parser.value(baud).toInt(&number);
        if (!number || baudRate < SerialLine::kMinBaud || baudRate > SerialLine::kMaxBaud)
            return usageError(output,
                              QStringLiteral("--baud takes a rate from %1 to %2")
                                  .arg(SerialLine::kMinBaud)
                                  .arg(SerialLine::kMaxBaud));
        if (portname::isPjlinkName(portName))
            return usageError(output,
                              QStringLiteral("--baud is for serial ports and bridges: a "
                                             "pjlink:// projector has no serial line"));
        const std::optional<portname::NetworkPortName> bridge
            = portname::parseNetworkPortName(portName);
        if (bridge && bridge->bridge == portname::Bridge::Raw)
            return usageError(output,
                              QStringLiteral("--baud is for serial ports and rfc2217:// "
                                             "bridges: a socket:// bridge keeps its own line "
                                             "settings"));
        // Without anything to send it is the window's rate (below), where there is a window.
        if (!window && !wantsService(parser) && !parser.isSet(send) && !parser.isSet(status)
            && !parser.isSet(query))
            return usageError(output,
                              QStringLiteral("--baud is for --send, --status, --query and "
                                             "--serve"));
    }

    // --protocol or --baud and nothing to send: the window, speaking so for this run.
    const bool sends = parser.isSet(send) || parser.isSet(status) || parser.isSet(query)
        || !parser.positionalArguments().isEmpty();
    if (window && !sends && !wantsService(parser)
        && (parser.isSet(protocol) || parser.isSet(baud))) {
        ProtocolChoice choice;
        choice.set = ownProtocol ? QString() : parser.value(protocol);
        choice.baud = baudRate;
        *window = WindowStart {choice, portName};
        return exitstatus::Done;
    }

    if (wantsService(parser)) {
        const QString refusal = PortOpener::refusal(portName);
        if (!refusal.isEmpty())
            return usageError(output, refusedPortText(portName, refusal));
        QString problem;
        const int status
            = runService(argv, parser, portName, password, chosenSet, baudRate, &problem);
        if (!problem.isEmpty())
            return usageError(output, problem);
        return output.finish(status);
    }

    if (!parser.positionalArguments().isEmpty() && !parser.isSet(send))
        return usageError(output,
                          QStringLiteral("unexpected argument '%1'")
                              .arg(parser.positionalArguments().constFirst()));
    ProjectorRequest request;
    request.commands = parser.values(send) + parser.positionalArguments();
    for (const QString &name : parser.values(query)) {
        if (!ProjectorRequest::queryNames().contains(name))
            return usageError(
                output,
                QStringLiteral("unknown command name '%1'; the names are: %2")
                    .arg(name, ProjectorRequest::queryNames().join(QStringLiteral(", "))));
        request.commands.append(name);
    }
    request.status = parser.isSet(status);
    if (parser.isSet(port))
        request.port = portName;
    QString refusal;
    if (request.check(&refusal) != ProjectorRequest::Refusal::None)
        return usageError(output,
                          request.port.isEmpty() || PortOpener::refusal(portName).isEmpty()
                              ? refusal
                              : refusedPortText(portName, refusal));

    // A command PJLink has no meaning for is refused before anything is sent.
    if (portname::isPjlinkName(portName)) {
        for (const QString &name : request.commands) {
            const commands::NamedCommand *entry = commands::commandNamed(name);
            if (entry && pjlink::useOf(entry->id) == pjlink::Use::None) {
                output.err(QStringLiteral("lumivox: %1: PJLink has no such command: nothing "
                                          "was sent\n")
                               .arg(name));
                return output.finish(exitstatus::NotAvailable);
            }
        }
        // The projector's holder may still wait for it; the channel is this user's alone.
        request.password = password;
    }
    const QList<ScriptedRequest::Step> steps = request.steps();
    const int answerTime = ScriptedRequest::kAnswerWait * int(steps.size()) + kWindowAllowance;

    QJsonObject answer;
    QString error;
    ScriptedRequest::Result result;
    const QString channel = localChannelName(PortOpener::keyOf(portName));
    // A window or service that holds the port speaks the protocol it was given, which the
    // command's frames follow there: another chosen here is refused rather than guessed at.
    if (!ownProtocol && isChannelListened(channel))
        return usageError(output,
                          QStringLiteral("%1 is held by a running Lumivox window or service, "
                                         "which speaks its own protocol: close it to use "
                                         "--protocol")
                              .arg(PortOpener::locationOf(portName)));
    // Nor is another baud rate than the holder's own.
    if (baudRate > 0 && isChannelListened(channel))
        return usageError(output,
                          QStringLiteral("%1 is held by a running Lumivox window or service, "
                                         "which keeps its own line settings: close it to use "
                                         "--baud")
                              .arg(PortOpener::locationOf(portName)));
    switch (sendOverChannel(channel, request.toJson(), answerTime, &answer, &error)) {
    case WindowAnswer::Answered:
        result = resultjson::fromJson(answer);
        if (!answer.contains(QStringLiteral("via")))
            answer.insert(QStringLiteral("via"), QStringLiteral("window"));
        break;
    case WindowAnswer::Failed: {
        const ProjectorRequest::Refusal refused
            = ProjectorRequest::refusalNamed(answer.value(QStringLiteral("reason")).toString());
        if (refused != ProjectorRequest::Refusal::None)
            return usageError(output, error);
        result.error = error;
        result.status = ScriptedRequest::Status::PortFailed;
        answer = resultjson::toJson(result);
        answer.insert(QStringLiteral("via"), QStringLiteral("window"));
        break;
    }
    case WindowAnswer::NoWindow:
    case WindowAnswer::OtherPort:
        result = runOnPort(portName, steps, password, chosenSet, baudRate);
        answer = resultjson::toJson(result);
        answer.insert(QStringLiteral("via"), QStringLiteral("port"));
        answer.insert(QStringLiteral("port"), PortOpener::locationOf(portName));
        break;
    }
    password.fill(QLatin1Char('\0'));
    request.password.fill(QLatin1Char('\0'));
    printResult(output, result, parser.isSet(json), answer);
    return output.finish(exitstatus::of(result.status));
}
