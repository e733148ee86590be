#ifndef PORTHOLDER_H
#define PORTHOLDER_H

#include <QObject>
#include <QString>

// Who holds a port that could not be opened, when it is another Lumivox: the program
// that listens at the port's local channel is asked, without waiting for it, and tells
// whether it is a window or the service.
class PortHolder : public QObject
{
    Q_OBJECT

public:
    static constexpr int kAnswerWait = 2000; // ms for the whole exchange
    static constexpr int kMaxAnswer = 4096; // bytes of the answer line

    using QObject::QObject;

    // Asks who holds `portName`; found() follows when a Lumivox of this user does.
    void ask(const QString &portName);

signals:
    // `holder` is "window" or "service".
    void found(const QString &portName, const QString &holder);
};

#endif // PORTHOLDER_H
