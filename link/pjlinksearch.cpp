#include "link/pjlinksearch.h"

#include "link/pjlink.h"
#include "link/pjlinkport.h"

#include <iterator>

namespace {
// What a projector is asked, in this order: all class 1, which every projector answers.
const char *const kQuestions[] = {"CLSS", "NAME", "INF1", "INF2"};
constexpr int kQuestionCount = int(std::size(kQuestions));
constexpr char kProtocolClass = '1';
} // namespace

QString PjlinkSearch::Projector::portName() const
{
    return QStringLiteral("pjlink://") + address.toString();
}

PjlinkSearch::PjlinkSearch(QObject *parent)
    : QObject(parent)
{
    connect(&datagrams, &PjlinkDatagrams::acknowledged, this, &PjlinkSearch::acknowledge);
    ticker.setInterval(kTickInterval);
    connect(&ticker, &QTimer::timeout, this, &PjlinkSearch::tick);
    collecting.setSingleShot(true);
    connect(&collecting, &QTimer::timeout, this, &PjlinkSearch::finishIfDone);
}

PjlinkSearch::~PjlinkSearch() = default;

bool PjlinkSearch::start(const QList<QHostAddress> &targets, const QHostAddress &local,
                         QString *error)
{
    if (!datagrams.bind(local, pjlinkclass2::kPort, error))
        return false;
    datagrams.search(targets);
    collecting.start(kCollectTime);
    return true;
}

void PjlinkSearch::acknowledge(const QHostAddress &from, const QString &mac)
{
    // Once the search is over, or for a projector known already (each broadcast may
    // reach it more than once), an acknowledgement tells nothing new.
    if (finishedOnce || found.size() >= kMaxProjectors)
        return;
    for (const Projector &projector : std::as_const(found))
        if (projector.address == from)
            return;
    Projector projector;
    projector.address = from;
    projector.mac = mac;
    found.append(projector);
    waiting.append(int(found.size()) - 1);
    emit projectorFound(projector);
    startAsking();
}

void PjlinkSearch::startAsking()
{
    while (!waiting.isEmpty() && int(asking.size()) < kMaxAsking) {
        Asking next;
        next.index = waiting.takeFirst();
        Projector &projector = found[next.index];
        QString reason;
        next.port = PjlinkPort::start(projector.portName(), &reason);
        if (!next.port) {
            projector.failure = reason;
            projector.asked = true;
            emit projectorFound(projector);
            continue;
        }
        for (const char *question : kQuestions) {
            for (const char byte : pjlink::request(kProtocolClass, question, "?"))
                next.port->writeByte(byte);
            next.port->writeByte('\r');
        }
        next.port->flush();
        next.since.start();
        asking.push_back(std::move(next));
    }
    if (!asking.empty() && !ticker.isActive())
        ticker.start();
}

void PjlinkSearch::tick()
{
    for (auto it = asking.begin(); it != asking.end();) {
        if (advance(*it)) {
            done(*it);
            it = asking.erase(it);
        } else {
            ++it;
        }
    }
    startAsking();
    if (asking.empty())
        ticker.stop();
    finishIfDone();
}

bool PjlinkSearch::advance(Asking &each)
{
    Projector &projector = found[each.index];
    switch (each.port->advance()) {
    case NetworkPort::Progress::Failed:
        projector.failure = each.port->failure();
        return true;
    case NetworkPort::Progress::Pending:
        return each.since.hasExpired(kAskTime);
    case NetworkPort::Progress::Open:
        break;
    }
    QByteArray line;
    while (each.port->takeLine(&line)) {
        const pjlink::Reply reply = pjlink::parseReply(line);
        ++each.answers;
        if (!reply.valid || reply.error != pjlink::Error::None)
            continue;
        if (reply.command == "CLSS")
            projector.projectorClass = pjlink::parseClass(reply.result);
        else if (reply.command == "NAME")
            projector.name = pjlink::decodeText(reply.result);
        else if (reply.command == "INF1")
            projector.maker = pjlink::decodeText(reply.result);
        else if (reply.command == "INF2")
            projector.model = pjlink::decodeText(reply.result);
    }
    if (each.port->access() != PortDevice::Access::Granted) {
        projector.passwordAsked = true;
        return true;
    }
    return each.answers >= kQuestionCount || each.since.hasExpired(kAskTime);
}

void PjlinkSearch::done(Asking &each)
{
    Projector &projector = found[each.index];
    if (each.answers < kQuestionCount && !projector.passwordAsked && projector.failure.isEmpty())
        projector.failure
            = projector.portName() + QStringLiteral(": The projector did not answer in time");
    projector.asked = true;
    emit projectorFound(projector);
}

void PjlinkSearch::finishIfDone()
{
    if (finishedOnce || collecting.isActive() || !asking.empty() || !waiting.isEmpty())
        return;
    finishedOnce = true;
    emit finished();
}
