#ifndef CHANNELNAME_H
#define CHANNELNAME_H

#include <QString>
#include <QtGlobal>

// Where a running window (or service) takes the command line's requests for the port it
// holds: a socket in the user's runtime directory, or a named pipe of the user's on
// Windows, named after the port's device (PortOpener::keyOf), so that the command line
// finds the one program that holds the port it names. Each platform has its own file:
// channelname_unix.cpp and channelname_win.cpp.

// The channel of a port; empty when the user has no private place for it.
QString localChannelName(const QString &portKey);

// Where the lock is taken that makes claiming a channel's name and listening there one
// step for every program of this user.
QString channelLockPath(const QString &name);

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

#endif // CHANNELNAME_H
