#ifndef PROJECTORMODEL_H
#define PROJECTORMODEL_H

#include <QByteArray>
#include <QList>

// A projector as the program sees it over the wire: it takes command texts (without
// their carriage return) and answers with reply lines in the grammar the program
// reads. Time is handed in by the caller, so warm-up and cool-down can be tested
// without waiting.
class ProjectorModel
{
public:
    enum class Power { Standby, WarmingUp, On, CoolingDown };

    struct Options
    {
        qint64 warmUpMs = 3000;
        qint64 coolDownMs = 3000;
        int lampHours = 1234;
        bool silentInStandby = false;
        QByteArray lineEnd = "\r";
    };

    explicit ProjectorModel(const Options &options);

    // The reply line (line end included) to one command received at the time nowMs;
    // empty when the projector stays silent.
    QByteArray answer(const QByteArray &command, qint64 nowMs);

    Power power(qint64 nowMs);
    // Power on from standby, or off while on or warming up; false when the projector
    // cannot in its state.
    bool switchOn(qint64 nowMs);
    bool switchOff(qint64 nowMs);
    QByteArray input() const { return currentInput; }

    // The binary resolution report of an input: "Res", one byte, width and height as
    // two big-endian bytes each, the refresh-rate code.
    static QByteArray resolutionReport(const QByteArray &input);

private:
    QByteArray line(const QByteArray &text) const { return text + options.lineEnd; }
    void settle(qint64 nowMs);

    Options options;
    Power state = Power::Standby;
    qint64 changedAt = 0;
    QByteArray currentInput = "VGA";
};

#endif // PROJECTORMODEL_H
