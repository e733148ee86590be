#ifndef CHANNELNAME_H
#define CHANNELNAME_H

#include <QString>

// Where a running window takes the command line's requests: a socket in the user's
// runtime directory, or a named pipe of the user's on Windows. Each platform has its
// own file: channelname_unix.cpp and channelname_win.cpp. Empty when the user has no
// private place for it.
QString localChannelName();

// Once the window listens at `fullServerName`: makes sure that only this user can reach
// it. False, with the reason, when it is not so.
bool makeChannelPrivate(const QString &fullServerName, QString *reason);

#endif // CHANNELNAME_H
