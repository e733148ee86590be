#include "ui/protocolchoice.h"

#include <QSettings>

namespace {
// Named in full: the program sets no organisation, without which QSettings keeps nothing.
// A file, also on Windows: the registry's QSettings creates its key on reading, and a
// program that only looks must leave nothing behind.
constexpr QSettings::Format kFormat = QSettings::IniFormat;
} // namespace

ProtocolChoice ProtocolChoice::stored()
{
    const QSettings settings(kFormat, QSettings::UserScope,
                             QString::fromLatin1(kSettingsOrganization),
                             QString::fromLatin1(kSettingsApplication));
    ProtocolChoice choice;
    choice.set = settings.value(QLatin1String(kSetKey)).toString();
    bool number = false;
    const int baud = settings.value(QLatin1String(kBaudKey)).toInt(&number);
    // A rate edited by hand into something else is the usual one.
    choice.baud = number && baud > 0 ? baud : 0;
    return choice;
}

void ProtocolChoice::store() const
{
    QSettings settings(kFormat, QSettings::UserScope, QString::fromLatin1(kSettingsOrganization),
                       QString::fromLatin1(kSettingsApplication));
    settings.setValue(QLatin1String(kSetKey), set);
    settings.setValue(QLatin1String(kBaudKey), baud);
}
