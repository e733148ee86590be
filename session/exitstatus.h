#ifndef EXITSTATUS_H
#define EXITSTATUS_H

#include "session/scriptedrequest.h"

#include <QString>

// The command line's exit statuses, which also travel as a result's "status" (the local
// channel, --json, the service's state message).
namespace exitstatus {

enum ExitStatus {
    Done = 0, // the bytes were written and, where an answer was asked for, it came
    // the port could not be opened or written, a command was not taken (an unexpected
    // answer), or the output not written
    PortFailed = 1,
    NoAnswer = 2, // a question got no answer in time
    NotAvailable = 3, // "*001"
    UsageError = 64,
};

// A request's outcome as an exit status, and back (an unknown status is a failed port).
int of(ScriptedRequest::Status status);
ScriptedRequest::Status requestStatus(int exit);
// "Exit status: 0 done, 1 ...": what each of them means, for the help text.
QString help();

} // namespace exitstatus

#endif // EXITSTATUS_H
