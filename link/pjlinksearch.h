#ifndef PJLINKSEARCH_H
#define PJLINKSEARCH_H

#include "link/pjlinkdatagrams.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class PjlinkPort;

// Finds the PJLink projectors on the networks: broadcasts a class 2 search, collects the
// acknowledgements for kCollectTime, and asks each projector that answered over PJLink
// itself, without a password, its class, name, maker and model. A projector that asks for
// a password is kept with what its acknowledgement told (its address and MAC), and says so;
// nobody's password is ever sent. Each projector is reported when it answers the search
// and again once it has been asked; finished() comes once every question has its answer
// or has timed out.
class PjlinkSearch : public QObject
{
    Q_OBJECT

public:
    static constexpr int kCollectTime = 3000; // ms the search's answers are awaited
    // ms a projector that acknowledged has to answer its questions over PJLink: its
    // connection, its greeting and four answers.
    static constexpr int kAskTime = 4000;
    static constexpr int kMaxAsking = 32; // projectors asked at once
    static constexpr int kMaxProjectors = 4096; // more acknowledgements are dropped
    static constexpr int kTickInterval = 10; // ms between two looks at the connections

    struct Projector
    {
        QHostAddress address;
        QString mac;
        int projectorClass = 0; // 0: not told
        QString name;
        QString maker;
        QString model;
        bool passwordAsked = false;
        bool asked = false; // its questions are answered, or will not be
        QString failure; // why it could not be asked, where it could not

        // "pjlink://10.0.0.5": the port name that opens it.
        QString portName() const;
    };

    explicit PjlinkSearch(QObject *parent = nullptr);
    ~PjlinkSearch() override;

    // Binds the datagram port on `local` and broadcasts the search on the targets (the
    // host's networks when there are none); false, with the reason, when the port cannot
    // be bound: nothing is found then.
    bool start(const QList<QHostAddress> &targets = {},
               const QHostAddress &local = QHostAddress(QHostAddress::AnyIPv4),
               QString *error = nullptr);
    bool isFinished() const { return finishedOnce; }
    // Every projector that answered, in the order they did.
    const QList<Projector> &projectors() const { return found; }

signals:
    void projectorFound(const PjlinkSearch::Projector &projector);
    void finished();

private:
    struct Asking
    {
        int index = 0; // into found
        std::unique_ptr<PjlinkPort> port;
        QElapsedTimer since;
        int answers = 0;
    };

    void acknowledge(const QHostAddress &from, const QString &mac);
    void startAsking();
    void tick();
    // True once the projector's questions are done with.
    bool advance(Asking &each);
    void done(Asking &each);
    void finishIfDone();

    PjlinkDatagrams datagrams;
    QList<Projector> found;
    QList<int> waiting; // indexes into found, to be asked
    std::vector<Asking> asking;
    QTimer ticker;
    QTimer collecting;
    bool finishedOnce = false;
};

#endif // PJLINKSEARCH_H
