#ifndef PORTHOLDERLOOKUP_H
#define PORTHOLDERLOOKUP_H

#include <QObject>
#include <QString>

// Finds out who holds a port that could not be opened, when it is another Lumivox: the
// program that listens at the port's local channel is greeted, without waiting for it,
// and tells whether it is a window or the service.
class PortHolderLookup : public QObject
{
    Q_OBJECT

public:
    static constexpr int kAnswerWait = 2000; // ms for the whole exchange

    using QObject::QObject;

    // Greets whoever listens at the channel of `portName`; found() follows when it is a
    // Lumivox of this user.
    void lookUp(const QString &portName);

signals:
    // `holder` is "window" or "service".
    void found(const QString &portName, const QString &holder);
};

#endif // PORTHOLDERLOOKUP_H
