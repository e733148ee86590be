// Choosing another serial port from the connection button.

#include "lumivox.h"
#include "settings.h"

void Lumivox::on_connectionStatus_clicked()
{
    Settings settings(this);
    settings.exec(); // both buttons close(): the applied flag tells them apart
    if (!settings.isApplied())
        return;
    // Reopened even under the same name: that is how a user retries a port.
    closePort();
    QString reason;
    if (openPort(settings.portName(), &reason))
        log(tr("Com-port initialized!\r"));
    else
        logOpenFailure(tr("Failed to initialize Com-port!\r"), reason);
}
