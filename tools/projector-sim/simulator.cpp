#include "simulator.h"

#include "link/characters.h"

#include <QTextStream>

namespace {
constexpr int kMillisPerSecond = 1000;
constexpr int kPrintableLast = 0x7e;

} // namespace

Simulator::Simulator(const Options &options, QObject *parent)
    : QObject(parent)
    , options(options)
    , projector(options.projector)
    , random(options.seed)
{
    connect(&garbageTimer, &QTimer::timeout, this, &Simulator::sendGarbage);
    hangUpTimer.setSingleShot(true);
    connect(&hangUpTimer, &QTimer::timeout, this, &Simulator::hangUp);
    if (options.commandSet) {
        setModel.emplace(*options.commandSet, options.projector);
        connect(&line, &FakeProjector::bytesReceived, this, &Simulator::handleBytes);
    } else {
        connect(&line, &FakeProjector::frameReceived, this, &Simulator::handleFrame);
    }
    connect(&line, &FakeProjector::farEndOpened, this, &Simulator::opened);
    connect(&line, &FakeProjector::farEndClosed, this, &Simulator::closed);
}

bool Simulator::start(QString *error)
{
    if (!line.isValid()) {
        *error = line.errorString();
        return false;
    }
    line.watchFarEnd();
    clock.start();
    return true;
}

void Simulator::opened()
{
    logEvent(QStringLiteral("port opened by the program"));
    if (options.garbagePerSecond > 0)
        garbageTimer.start(kMillisPerSecond / options.garbagePerSecond);
    if (options.hangUpAfterMs >= 0 && !hangUpTimer.isActive())
        hangUpTimer.start(int(options.hangUpAfterMs));
}

void Simulator::closed()
{
    garbageTimer.stop();
    logEvent(QStringLiteral("port closed by the program"));
    emit farEndClosed();
}

void Simulator::handleFrame(const QByteArray &frame)
{
    logFrame("<-", frame);
    const QByteArray reply = projector.answer(frame.chopped(1), clock.elapsed());
    if (!options.mute && !reply.isEmpty())
        sendToProgram(reply);
}

void Simulator::handleBytes(const QByteArray &bytes)
{
    // Logged frame by frame, however the program's writes were cut.
    const QList<SetModel::Exchange> exchanges = setModel->receive(bytes, clock.elapsed());
    for (const SetModel::Exchange &exchange : exchanges) {
        logFrame("<-", exchange.heard);
        if (!options.mute && !exchange.answer.isEmpty())
            sendToProgram(exchange.answer);
    }
}

void Simulator::sendToProgram(const QByteArray &bytes)
{
    logFrame("->", bytes);
    line.send(bytes);
}

void Simulator::sendGarbage()
{
    if (line.isFarEndOpen() && !options.mute)
        sendToProgram(QByteArray(1, char(random.bounded(kPrintableLast + 1))));
}

void Simulator::hangUp()
{
    logEvent(QStringLiteral("hanging up"));
    garbageTimer.stop();
    line.hangUp();
    emit hungUp();
}

void Simulator::logEvent(const QString &event) const
{
    if (options.log)
        QTextStream(stdout) << QStringLiteral("[%1] %2\n")
                                   .arg(clock.elapsed() / double(kMillisPerSecond), 0, 'f', 3)
                                   .arg(event)
                            << Qt::flush;
}

void Simulator::logFrame(const char *direction, const QByteArray &bytes) const
{
    if (options.log)
        logEvent(QLatin1String(direction) + QLatin1Char(' ') + characters::escapedBytes(bytes));
}
