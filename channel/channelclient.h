#ifndef CHANNELCLIENT_H
#define CHANNELCLIENT_H

#include <QJsonObject>
#include <QString>

// The command line's side of the local channel: hands one request to the running window
// (or service) that listens there and waits for its answer, without an event loop.
enum class WindowAnswer {
    NoWindow, // nobody listens: the command line opens the port itself
    OtherPort, // a window runs but does not hold the port asked for
    Answered,
    Failed, // the window refused the request (*answer: its refusal) or did not answer in time
};

WindowAnswer sendOverChannel(const QString &channel, const QJsonObject &request, int waitMs,
                             QJsonObject *answer, QString *error);

// Whether a window (or service) listens on the channel, asking it nothing.
bool isChannelListened(const QString &channel);

#endif // CHANNELCLIENT_H
