#include "pjlinkmodel.h"

namespace {
constexpr char kOk[] = "OK";
constexpr char kUndefined[] = "ERR1";
constexpr char kOutOfParameter[] = "ERR2";
constexpr char kUnavailable[] = "ERR3";
constexpr int kHeader = 6; // "%1POWR"
constexpr char kMaker[] = "Lumivox";
constexpr char kModel[] = "LV-1";
constexpr char kName[] = "Demo Projector";
constexpr char kSerialNumber[] = "LV1-000042";
constexpr char kFirmware[] = "1.0.7";
constexpr int kFilterHours = 321;
constexpr char kLatin1Name[] = "Salle de r\xe9union"; // é as the one byte 0xE9

struct Input
{
    const char *id;
    const char *name;
    const char *resolution; // "-": no signal on it
};

// A typical projector's inputs: two computer inputs, composite, S-Video, HDMI and DVI.
constexpr Input kInputs[] = {
    {"11", "Computer 1", "1024x768"}, {"12", "Computer 2", "-"},   {"21", "Video", "720x480"},
    {"22", "S-Video", "720x576"},     {"31", "HDMI", "1920x1080"}, {"32", "DVI", "1280x1024"},
};

const Input *inputNamed(const QByteArray &id)
{
    for (const Input &input : kInputs)
        if (id == input.id)
            return &input;
    return nullptr;
}

QByteArray inputList()
{
    QByteArrayList ids;
    for (const Input &input : kInputs)
        ids.append(input.id);
    return ids.join(' ');
}
} // namespace

PjlinkModel::PjlinkModel(const Options &options)
    : options(options)
    , model(options.projector)
{ }

QByteArray PjlinkModel::reply(char requestClass, const QByteArray &command,
                              const QByteArray &result) const
{
    QByteArray text = '%' + QByteArray(1, requestClass) + command + '=' + result;
    if (options.lowerCase)
        text = text.toLower();
    return text + options.lineEnd;
}

QByteArray PjlinkModel::answer(const QByteArray &request, qint64 nowMs)
{
    if (request.size() < kHeader + 1 || request.at(0) != '%'
        || (request.at(1) != '1' && request.at(1) != '2'))
        return QByteArray("PJLINK ERR1") + options.lineEnd;
    const char requestClass = request.at(1);
    const QByteArray command = request.mid(2, 4);
    if (request.at(kHeader) != ' ')
        return reply(requestClass, command, kUndefined);
    if (requestClass - '0' > options.projectorClass)
        return reply(requestClass, command, kUndefined);
    return reply(requestClass, command, result(command, request.mid(kHeader + 1), nowMs));
}

QByteArray PjlinkModel::result(const QByteArray &command, const QByteArray &parameter, qint64 nowMs)
{
    using Power = ProjectorModel::Power;
    const Power state = model.power(nowMs);
    const bool on = state == Power::On;
    const bool query = parameter == "?";
    const bool classTwo = options.projectorClass >= 2;

    if (command == "POWR") {
        if (query) {
            switch (state) {
            case Power::Standby:
                return "0";
            case Power::On:
                return "1";
            case Power::CoolingDown:
                return "2";
            case Power::WarmingUp:
                return "3";
            }
        }
        if (parameter != "0" && parameter != "1")
            return kOutOfParameter;
        if (state == Power::WarmingUp || state == Power::CoolingDown)
            return kUnavailable;
        if (parameter == "1" && state == Power::Standby)
            model.switchOn(nowMs);
        else if (parameter == "0" && on)
            model.switchOff(nowMs);
        return kOk;
    }
    if (command == "CLSS" && query)
        return options.classAsText ? "Class " + QByteArray::number(options.projectorClass)
                                   : QByteArray::number(options.projectorClass);
    if (command == "ERST" && query)
        return options.errorStatus;
    if (command == "LAMP" && query) {
        QByteArrayList lamps;
        qint64 hours = options.projector.lampHours;
        for (int lamp = 0; lamp < options.lamps; ++lamp, hours /= 2)
            lamps.append(QByteArray::number(hours) + (on ? " 1" : " 0"));
        return lamps.join(' ');
    }
    if (command == "SNUM" && classTwo && query)
        return kSerialNumber;
    if (command == "SVER" && classTwo && query)
        return kFirmware;
    if (command == "FILT" && classTwo && query)
        return QByteArray::number(kFilterHours);
    if (command == "INF1" && query)
        return kMaker;
    if (command == "INF2" && query)
        return kModel;
    if (command == "INFO" && query)
        return "Demo";
    if (command == "NAME" && query)
        return options.latin1Name    ? QByteArray(kLatin1Name)
            : options.name.isEmpty() ? QByteArray(kName)
                                     : options.name;
    if (command == "INST" && query)
        return options.inputsOnlyWhenOn && !on ? kUnavailable : inputList();
    if (command == "INPT") {
        if (!on)
            return kUnavailable;
        if (query)
            return currentInput;
        if (!inputNamed(parameter))
            return kOutOfParameter;
        currentInput = parameter;
        return kOk;
    }
    if (command == "AVMT") {
        if (query)
            return mute;
        static const QByteArrayList states {"10", "11", "20", "21", "30", "31"};
        if (!states.contains(parameter))
            return kOutOfParameter;
        if (!on)
            return kUnavailable;
        mute = parameter;
        return kOk;
    }
    if (command == "INNM" && classTwo && parameter.startsWith('?')) {
        const Input *input = inputNamed(parameter.mid(1));
        return input ? QByteArray(input->name) : QByteArray(kOutOfParameter);
    }
    if (command == "FREZ" && classTwo) {
        if (query)
            return frozen ? "1" : "0";
        if (parameter != "0" && parameter != "1")
            return kOutOfParameter;
        if (!on)
            return kUnavailable;
        frozen = parameter == "1";
        return kOk;
    }
    if (command == "IRES" && classTwo && query)
        return on ? QByteArray(inputNamed(currentInput)->resolution) : QByteArray(kUnavailable);
    return kUndefined;
}
