#ifndef PROJECTORREQUEST_H
#define PROJECTORREQUEST_H

#include "session/scriptedrequest.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// What a script asks of a projector, whichever way it comes in: the command line, the
// local channel (one line of JSON) or the broker. Every way in reads it here, so that
// each takes the same names and refuses the same things for the same reason.
struct ProjectorRequest
{
    // Why a request is not taken.
    enum class Refusal {
        None,
        Malformed, // not a request at all
        UnknownCommand,
        TooMany, // more than ScriptedRequest::kMaxCommands
        NothingToDo,
        RefusedPort, // a port name that can never lead to a port
    };

    QStringList commands; // command names and "errors", in order
    bool status = false; // the lamp state after them
    QString port; // as the caller gave it; empty: the one its holder holds
    // A PJLink projector's password where the caller has one: it travels only to the
    // program that holds the projector, and is never shown.
    QString password;

    // The names a request may hold: every command of the window's buttons, and "errors"
    // (a PJLink projector's error status).
    static bool isName(const QString &name);
    static QStringList names();
    // The questions among them, for --query.
    static const QStringList &queryNames();

    // Whether the request can be run; the reason when not.
    Refusal check(QString *reason = nullptr) const;
    QList<ScriptedRequest::Step> steps() const;

    // The channel's wire form: {"commands": [...], "status": true, "port": "...",
    // "password": "..."}. A body that is not one comes back Malformed.
    QJsonObject toJson() const;
    static ProjectorRequest fromJson(const QJsonObject &body, Refusal *refusal,
                                     QString *reason = nullptr);
    // The word a refusal travels as ("unknown-command", ...), and back.
    static QString refusalWord(Refusal refusal);
    static Refusal refusalNamed(const QString &word);
};

#endif // PROJECTORREQUEST_H
