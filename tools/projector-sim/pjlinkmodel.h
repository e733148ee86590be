#ifndef PJLINKMODEL_H
#define PJLINKMODEL_H

#include "projectormodel.h"

#include <QByteArray>

// A projector as a PJLink client sees it: it takes a request ("%1POWR 1", without its
// carriage return) and answers with the reply line, line end included. Its power follows
// the serial projector's model, so warm-up and cool-down behave alike; while it warms up
// or cools down, power commands are answered ERR3. Time is handed in by the caller.
class PjlinkModel
{
public:
    struct Options
    {
        ProjectorModel::Options projector; // warm-up, cool-down and lamp hours
        int projectorClass = 1;
        QByteArray errorStatus = "000000";
        QByteArray lineEnd = "\r";
        int lamps = 1; // each further lamp has half the hours of the one before
        QByteArray name; // NAME's answer; empty for the usual demo name
        // Quirks of real projectors.
        bool lowerCase = false; // every reply in lower case
        bool classAsText = false; // "CLSS=Class 1"
        bool latin1Name = false; // its name in Latin-1 rather than UTF-8
        bool inputsOnlyWhenOn = false; // INST answers ERR3 unless the projector is on
    };

    explicit PjlinkModel(const Options &options);

    QByteArray answer(const QByteArray &request, qint64 nowMs);

    // The error status from now on: six digits, 0 fine, 1 warning, 2 error.
    void setErrorStatus(const QByteArray &status) { options.errorStatus = status; }
    ProjectorModel::Power power(qint64 nowMs) { return model.power(nowMs); }
    QByteArray input() const { return currentInput; }
    QByteArray errorStatus() const { return options.errorStatus; }

private:
    QByteArray reply(char requestClass, const QByteArray &command, const QByteArray &result) const;
    QByteArray result(const QByteArray &command, const QByteArray &parameter, qint64 nowMs);

    Options options;
    ProjectorModel model;
    QByteArray currentInput = "11";
    QByteArray mute = "30";
    bool frozen = false;
};

#endif // PJLINKMODEL_H
