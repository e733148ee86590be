#include "session/exitstatus.h"

#include <QStringList>

namespace exitstatus {

int of(ScriptedRequest::Status status)
{
    using Status = ScriptedRequest::Status;
    switch (status) {
    case Status::Done:
        return Done;
    case Status::PortFailed:
    case Status::Failed:
        return PortFailed;
    case Status::NoAnswer:
        return NoAnswer;
    case Status::NotAvailable:
        return NotAvailable;
    }
    return PortFailed;
}

ScriptedRequest::Status requestStatus(int exit)
{
    using Status = ScriptedRequest::Status;
    switch (exit) {
    case Done:
        return Status::Done;
    case NoAnswer:
        return Status::NoAnswer;
    case NotAvailable:
        return Status::NotAvailable;
    default:
        return Status::PortFailed;
    }
}

QString help()
{
    constexpr int kMillisPerSecond = 1000;
    const struct
    {
        ExitStatus status;
        QString meaning;
    } meanings[] = {
        {Done, QStringLiteral("done")},
        {PortFailed,
         QStringLiteral("the port could not be opened or written, a command was not sent or not "
                        "taken (an unexpected answer), or the output not written")},
        {NoAnswer,
         QStringLiteral("no answer within %1 s to a question (or to any command of a PJLink "
                        "projector)")
             .arg(ScriptedRequest::kAnswerWait / kMillisPerSecond)},
        {NotAvailable, QStringLiteral("the command is not available at the moment")},
        {UsageError,
         QStringLiteral("a usage error (also a port name, a command name or a "
                        "password file that cannot be used)")},
    };
    QStringList parts;
    for (const auto &entry : meanings)
        parts.append(QStringLiteral("%1 %2").arg(entry.status).arg(entry.meaning));
    return QStringLiteral("Exit status: ") + parts.join(QStringLiteral(", ")) + QLatin1Char('.');
}

} // namespace exitstatus
