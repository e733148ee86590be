#include "projectormodel.h"

#include <iterator>

namespace {
constexpr char kAccepted[] = "*000";
constexpr char kNotAvailable[] = "*001";
constexpr char kModel[] = "Lumivox Demo Projector LV-1";

struct Source
{
    const char *key; // the command that selects it
    const char *input; // its name
    int width;
    int height;
    char rateCode; // 0 = 50 Hz, 1 = 60 Hz, ...
};

// No size contains a byte 13 (a carriage return would cut the report short).
constexpr Source kSources[] = {
    {"* 0 IR 015", "VGA", 1024, 768, 1},      {"* 0 IR 029", "DVI", 1280, 1024, 1},
    {"* 0 IR 050", "HDMI", 1920, 1080, 1},    {"* 0 IR 018", "S-Video", 720, 576, 0},
    {"* 0 IR 019", "Composite", 720, 480, 1},
};
constexpr char kSearchSource[] = "* 0 IR 031";
constexpr char kPowerOn[] = "OKOKOKOKOK";
constexpr char kPowerOff[] = "* 0 IR 002";
constexpr char kLampPoll[] = "* 0 Lamp ?";
constexpr char kLampTime[] = "* 0 Lamp";
constexpr char kQueryModel[] = "* 0 IR 035";
constexpr char kResolution[] = "* 0 IR 036";
constexpr char kKeyPrefix[] = "* 0 IR ";
constexpr int kByte = 256;

const Source *sourceByInput(const QByteArray &input)
{
    for (const Source &source : kSources)
        if (input == source.input)
            return &source;
    return nullptr;
}
} // namespace

ProjectorModel::ProjectorModel(const Options &options)
    : options(options)
{ }

void ProjectorModel::settle(qint64 nowMs)
{
    if (state == Power::WarmingUp && nowMs - changedAt >= options.warmUpMs) {
        state = Power::On;
        changedAt += options.warmUpMs;
    } else if (state == Power::CoolingDown && nowMs - changedAt >= options.coolDownMs) {
        state = Power::Standby;
        changedAt += options.coolDownMs;
    }
}

ProjectorModel::Power ProjectorModel::power(qint64 nowMs)
{
    settle(nowMs);
    return state;
}

bool ProjectorModel::switchOn(qint64 nowMs)
{
    settle(nowMs);
    if (state != Power::Standby)
        return false;
    state = Power::WarmingUp;
    changedAt = nowMs;
    return true;
}

bool ProjectorModel::switchOff(qint64 nowMs)
{
    settle(nowMs);
    if (state != Power::On && state != Power::WarmingUp)
        return false;
    state = Power::CoolingDown;
    changedAt = nowMs;
    return true;
}

QByteArray ProjectorModel::resolutionReport(const QByteArray &input)
{
    const Source *source = sourceByInput(input);
    if (!source)
        return {};
    QByteArray report("Res");
    report.append(char(0));
    report.append(char(source->width / kByte)).append(char(source->width % kByte));
    report.append(char(source->height / kByte)).append(char(source->height % kByte));
    report.append(source->rateCode);
    return report;
}

QByteArray ProjectorModel::answer(const QByteArray &command, qint64 nowMs)
{
    settle(nowMs);
    if (options.silentInStandby && state == Power::Standby && command != kPowerOn)
        return {};
    const bool on = state == Power::On;

    if (command == kLampPoll)
        return line(on ? "LAMP 1" : "LAMP 0");
    if (command == kLampTime)
        return line(QByteArray::number(options.lampHours));
    if (command == kPowerOn)
        return line(switchOn(nowMs) ? kAccepted : kNotAvailable);
    if (command == kPowerOff)
        return line(switchOff(nowMs) ? kAccepted : kNotAvailable);
    if (command == kQueryModel)
        return line(kModel);
    if (!on || !command.startsWith(kKeyPrefix))
        return line(kNotAvailable);
    if (command == kResolution)
        return line(resolutionReport(currentInput));
    for (const Source &source : kSources) {
        if (command == source.key) {
            currentInput = source.input;
            return line(kAccepted);
        }
    }
    if (command == kSearchSource) {
        // Moves on to the next input, as an automatic search finding another signal.
        const Source *current = sourceByInput(currentInput);
        const int index = int(current - kSources);
        currentInput = kSources[(index + 1) % int(std::size(kSources))].input;
        return line(kAccepted);
    }
    return line(kAccepted);
}
