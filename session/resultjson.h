#ifndef RESULTJSON_H
#define RESULTJSON_H

#include "session/scriptedrequest.h"

#include <QJsonObject>
#include <QString>

// A scripted request's result as one JSON object and back: the local channel's wire form
// and the command line's --json output. Its "status" is the command line's exit status.
namespace resultjson {

// The command line's exit statuses.
enum ExitStatus {
    Done = 0, // the bytes were written and, where an answer was asked for, it came
    // the port could not be opened or written, a command was not taken (an unexpected
    // answer), or the output not written
    PortFailed = 1,
    NoAnswer = 2, // a question got no answer in time
    NotAvailable = 3, // "*001"
    UsageError = 64,
};

int exitStatus(ScriptedRequest::Status status);
// "Exit status: 0 done, 1 ...": what each of them means, for the help text.
QString exitStatusHelp();

QJsonObject toJson(const ScriptedRequest::Result &result);
ScriptedRequest::Result fromJson(const QJsonObject &object);

} // namespace resultjson

#endif // RESULTJSON_H
