#ifndef RFC2217SESSION_H
#define RFC2217SESSION_H

#include "link/serialline.h"

#include <QByteArray>
#include <QString>

#include <array>

// The client's side of a Telnet connection with the serial port control option (RFC
// 2217), free of sockets: it turns what the bridge sends into the line's bytes and the
// answers owed to it, and the line's bytes into what goes on the connection. At the
// start it asks the bridge for the projector's line (9600 8N1, no flow control unless
// told otherwise), DTR off and RTS off unless the hardware flow control has it, both
// directions purged; BINARY is asked for both ways, so that a carriage return is never
// stuffed to CR NUL.
class Rfc2217Session
{
public:
    explicit Rfc2217Session(const SerialLine &line = {});

    // What to send as soon as the connection stands.
    QByteArray start();
    // Takes bytes from the bridge in any split; returns the line's bytes among them and
    // appends to *answer what must be sent back.
    QByteArray receive(const QByteArray &bytes, QByteArray *answer);
    // The line's bytes as they go on the connection (0xFF doubled).
    QByteArray encode(const QByteArray &data) const;

    // Every setting the bridge answers has been answered as asked. Bridges serving a line
    // without modem control do not answer the DTR and RTS requests, so those are not waited
    // for; when they are answered, the answers are checked as well.
    bool isConfigured() const;
    // Why the line cannot be the projector's: the bridge refused serial port control, or it
    // answered a request with a value other than the one asked for (the first such answer
    // is named). Empty while neither happened.
    QString refusal() const { return refused; }

private:
    enum class State { Data, DataCr, Command, Will, Wont, Do, Dont, Sub, SubCommand };

    void takeCommand(uchar byte);
    void negotiate(State verb, uchar option, QByteArray *answer);
    void subnegotiation();
    void checkControl(uchar value);
    void refuse(const QString &what, const QString &asked);
    void requestLine(QByteArray *answer);

    // The values asked for, as the requests carry them.
    quint32 baud;
    uchar dataSize;
    uchar parity;
    uchar stopSize;
    uchar flowControl;
    bool rtsOff;

    State state = State::Data;
    QByteArray sub; // the subnegotiation being received
    std::array<bool, 256> ours {}; // options in effect on our side
    std::array<bool, 256> theirs {}; // options in effect on the bridge's side
    std::array<bool, 256> askedOurs {};
    std::array<bool, 256> askedTheirs {};
    bool lineRequested = false;
    QString refused;
    unsigned answered = 0; // bit per setting answered as asked
};

#endif // RFC2217SESSION_H
