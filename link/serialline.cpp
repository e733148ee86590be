#include "link/serialline.h"

SerialLine SerialLine::usualOf(const CommandSet::LineSettings &line)
{
    SerialLine usual;
    usual.baud = line.bauds.value(0, kDefaultBaud);
    usual.dataBits = line.dataBits.value(0, kDefaultDataBits);
    usual.parity = line.parities.value(0, CommandSet::Parity::None);
    usual.stopBits = line.stopBits.value(0, kDefaultStopBits);
    usual.flowControl = line.flowControls.value(0, CommandSet::FlowControl::None);
    return usual;
}

QString SerialLine::text() const
{
    QString text = QStringLiteral("%1 %2%3%4")
                       .arg(baud)
                       .arg(dataBits)
                       .arg(CommandSet::parityWord(parity).at(0).toUpper())
                       .arg(stopBits);
    if (flowControl != CommandSet::FlowControl::None)
        text += QLatin1Char(' ') + CommandSet::flowControlWord(flowControl);
    return text;
}

