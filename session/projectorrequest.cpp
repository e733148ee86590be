#include "session/projectorrequest.h"

#include "link/commands.h"
#include "link/portopener.h"

#include <QJsonArray>

namespace {
const char kErrorStatus[] = "errors";
const char kCommands[] = "commands";
const char kStatus[] = "status";
const char kPort[] = "port";
const char kPassword[] = "password";

struct RefusalWord
{
    ProjectorRequest::Refusal refusal;
    const char *word;
};

const RefusalWord kRefusalWords[] = {
    {ProjectorRequest::Refusal::Malformed, "malformed"},
    {ProjectorRequest::Refusal::UnknownCommand, "unknown-command"},
    {ProjectorRequest::Refusal::TooMany, "too-many"},
    {ProjectorRequest::Refusal::NothingToDo, "nothing-to-do"},
    {ProjectorRequest::Refusal::RefusedPort, "refused-port"},
};

ProjectorRequest::Refusal refuse(ProjectorRequest::Refusal refusal, QString *reason,
                                 const QString &why)
{
    if (reason)
        *reason = why;
    return refusal;
}
} // namespace

bool ProjectorRequest::isName(const QString &name)
{
    return commands::commandNamed(name) || name == QLatin1String(kErrorStatus);
}

QStringList ProjectorRequest::names()
{
    return commands::commandNames() << QLatin1String(kErrorStatus);
}

const QStringList &ProjectorRequest::queryNames()
{
    static const QStringList queries {QStringLiteral("lamp-time"), QStringLiteral("model"),
                                      QStringLiteral("resolution"), QLatin1String(kErrorStatus)};
    return queries;
}

ProjectorRequest::Refusal ProjectorRequest::check(QString *reason) const
{
    for (const QString &name : commands)
        if (!isName(name))
            return refuse(Refusal::UnknownCommand, reason,
                          QStringLiteral("unknown command name '%1'; the names are: %2")
                              .arg(name, names().join(QStringLiteral(", "))));
    if (commands.isEmpty() && !status)
        return refuse(Refusal::NothingToDo, reason,
                      QStringLiteral("nothing to do: give --send, --query, --status or --list"));
    if (commands.size() > ScriptedRequest::kMaxCommands)
        return refuse(
            Refusal::TooMany, reason,
            QStringLiteral("at most %1 commands at once").arg(ScriptedRequest::kMaxCommands));
    const QString portRefusal = port.isEmpty() ? QString() : PortOpener::refusal(port);
    if (!portRefusal.isEmpty())
        return refuse(Refusal::RefusedPort, reason, portRefusal);
    return Refusal::None;
}

QList<ScriptedRequest::Step> ProjectorRequest::steps() const
{
    return ScriptedRequest::plan(commands, status);
}

QJsonObject ProjectorRequest::toJson() const
{
    QJsonObject body {{QLatin1String(kCommands), QJsonArray::fromStringList(commands)},
                      {QLatin1String(kStatus), status}};
    if (!port.isEmpty())
        body.insert(QLatin1String(kPort), port);
    if (!password.isEmpty())
        body.insert(QLatin1String(kPassword), password);
    return body;
}

ProjectorRequest ProjectorRequest::fromJson(const QJsonObject &body, Refusal *refusal,
                                            QString *reason)
{
    ProjectorRequest request;
    const QJsonValue commands = body.value(QLatin1String(kCommands));
    const QJsonValue status = body.value(QLatin1String(kStatus));
    const QJsonValue port = body.value(QLatin1String(kPort));
    const QJsonValue password = body.value(QLatin1String(kPassword));
    const auto stringOrNothing = [](const QJsonValue &value) {
        return value.isUndefined() || value.isString();
    };
    if (!commands.isArray() || (!status.isUndefined() && !status.isBool()) || !stringOrNothing(port)
        || !stringOrNothing(password)) {
        *refusal = refuse(Refusal::Malformed, reason, QStringLiteral("not a request"));
        return request;
    }
    const QJsonArray list = commands.toArray();
    // Checked before the names are copied: a long list is refused without a copy of it.
    if (list.size() > ScriptedRequest::kMaxCommands) {
        *refusal = refuse(Refusal::TooMany, reason, QStringLiteral("too many commands"));
        return request;
    }
    for (const QJsonValue &value : list) {
        if (!value.isString()) {
            *refusal = refuse(Refusal::Malformed, reason, QStringLiteral("not a request"));
            return request;
        }
        request.commands.append(value.toString());
    }
    request.status = status.toBool();
    request.port = port.toString();
    request.password = password.toString();
    *refusal = request.check(reason);
    return request;
}

QString ProjectorRequest::refusalWord(Refusal refusal)
{
    for (const RefusalWord &entry : kRefusalWords)
        if (entry.refusal == refusal)
            return QLatin1String(entry.word);
    return QString();
}

ProjectorRequest::Refusal ProjectorRequest::refusalNamed(const QString &word)
{
    for (const RefusalWord &entry : kRefusalWords)
        if (word == QLatin1String(entry.word))
            return entry.refusal;
    return Refusal::None;
}
