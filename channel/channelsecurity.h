#ifndef CHANNELSECURITY_H
#define CHANNELSECURITY_H

#include <QString>
#include <QtGlobal>

// That the local channel is this user's alone: nobody else's program takes its name
// first, reaches it, or answers on it. Each platform has its own file:
// channelsecurity_unix.cpp and channelsecurity_win.cpp.

// Before listening at `name`, under its lock: true when the name is free for this
// program. A channel left behind by a program that ended is removed; anything else under
// the name (a program that answers there, a file that is not a channel) is left as it is,
// with the reason.
bool claimChannelName(const QString &name, QString *reason);

// Once the program listens at `fullServerName`: makes sure that only this user can
// reach it. False, with the reason, when it is not so.
bool makeChannelPrivate(const QString &fullServerName, QString *reason);

// Whether the program at the other end of a connected channel (its native descriptor or
// pipe handle) runs as this user: another user who took the name first must never see
// a request nor answer one.
bool isServedByThisUser(qintptr descriptor, QString *reason);

#endif // CHANNELSECURITY_H
