#ifndef RESULTJSON_H
#define RESULTJSON_H

#include "session/scriptedrequest.h"

#include <QJsonObject>
#include <QString>

// A scripted request's result as one JSON object and back: the local channel's wire form
// and the command line's --json output. Its "status" is the command line's exit status
// (session/exitstatus.h).
namespace resultjson {

QJsonObject toJson(const ScriptedRequest::Result &result);
ScriptedRequest::Result fromJson(const QJsonObject &object);

} // namespace resultjson

#endif // RESULTJSON_H
