#include "link/commands.h"

#include "link/serialprotocol.h"

#include <iterator>

namespace commands {

namespace {
using A = Answer;
using C = Command;
namespace wire = serialprotocol;
constexpr NamedCommand kCommands[] = {
    {C::PowerOn, "power-on", wire::kPowerOn, A::Acknowledgement},
    {C::PowerOff, "power-off", wire::kPowerOff, A::Acknowledgement},
    {C::Vga, "vga", wire::kAnalogRgb, A::Acknowledgement},
    {C::Hdmi, "hdmi", wire::kHdmi, A::Acknowledgement},
    {C::Dvi, "dvi", wire::kDvi, A::Acknowledgement},
    {C::SVideo, "s-video", wire::kSVideo, A::Acknowledgement},
    {C::Composite, "composite", wire::kComposite, A::Acknowledgement},
    {C::SearchAuto, "search-auto", wire::kSearchSource, A::Acknowledgement},
    {C::Brightness, "brightness", wire::kBrightness, A::Acknowledgement},
    {C::Contrast, "contrast", wire::kContrast, A::Acknowledgement},
    {C::ColorTemperature, "color-temperature", wire::kColorTemperature, A::Acknowledgement},
    {C::Freeze, "freeze", wire::kFreeze, A::Acknowledgement},
    {C::ShowHide, "show-hide", wire::kHide, A::Acknowledgement},
    {C::Zoom, "zoom", wire::kZoom, A::Acknowledgement},
    {C::Aspect16To9, "16-9", wire::kAspect16To9, A::Acknowledgement},
    {C::Aspect4To3, "4-3", wire::kAspect4To3, A::Acknowledgement},
    // The keystone group's "Up", "Down" and "Menu" are not the arrow pad's nor the
    // menu button's.
    {C::KeystoneUp, "keystone-up", wire::kKeystoneUp, A::Acknowledgement},
    {C::KeystoneDown, "keystone-down", wire::kKeystoneDown, A::Acknowledgement},
    {C::KeystoneMenu, "keystone-menu", wire::kKeystoneMenu, A::Acknowledgement},
    {C::Menu, "menu", wire::kMenu, A::Acknowledgement},
    {C::Up, "up", wire::kUp, A::Acknowledgement},
    {C::Down, "down", wire::kDown, A::Acknowledgement},
    {C::Left, "left", wire::kLeft, A::Acknowledgement},
    {C::Right, "right", wire::kRight, A::Acknowledgement},
    {C::Ok, "ok", wire::kOk, A::Acknowledgement},
    {C::EKey, "e-key", wire::kEKey, A::Acknowledgement},
    {C::LampTime, "lamp-time", wire::kLampTime, A::Text},
    {C::Model, "model", wire::kQueryModel, A::Text},
    {C::Resolution, "resolution", wire::kResolution, A::Resolution},
    {C::Company, "company", wire::kCompany, A::Acknowledgement},
};
static_assert(int(std::size(kCommands)) == kCommandCount, "one entry per command");

constexpr bool inOrder()
{
    for (int i = 0; i < kCommandCount; ++i)
        if (int(kCommands[i].id) != i)
            return false;
    return true;
}
static_assert(inOrder(), "the table is indexed by Command");
} // namespace

const NamedCommand &command(Command id)
{
    return kCommands[int(id)];
}

const NamedCommand *commandTable()
{
    return kCommands;
}

const NamedCommand *commandNamed(const QString &name)
{
    for (const NamedCommand &entry : kCommands)
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

QStringList commandNames()
{
    QStringList names;
    for (const NamedCommand &entry : kCommands)
        names.append(QLatin1String(entry.name));
    return names;
}

} // namespace commands
