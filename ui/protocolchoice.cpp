#include "ui/protocolchoice.h"

#include <QSettings>

// Named in full: the program sets no organisation, without which QSettings keeps nothing.
ProtocolChoice ProtocolChoice::stored()
{
    const QSettings settings(QString::fromLatin1(kSettingsOrganization),
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
    QSettings settings(QString::fromLatin1(kSettingsOrganization),
                       QString::fromLatin1(kSettingsApplication));
    settings.setValue(QLatin1String(kSetKey), set);
    settings.setValue(QLatin1String(kBaudKey), baud);
}
