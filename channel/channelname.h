#ifndef CHANNELNAME_H
#define CHANNELNAME_H

#include <QString>

// Where a running window (or service) takes the command line's requests for the port it
// holds: a socket in the user's runtime directory, or a named pipe of the user's on
// Windows, named after the port's device (PortOpener::keyOf), so that the command line
// finds the one program that holds the port it names. Each platform has its own file:
// channelname_unix.cpp and channelname_win.cpp. Who may use the channel is
// channelsecurity.h's.

// The channel of a port; empty when the user has no private place for it.
QString localChannelName(const QString &portKey);

// Where the lock is taken that makes claiming a channel's name and listening there one
// step for every program of this user.
QString channelLockPath(const QString &name);

#endif // CHANNELNAME_H
