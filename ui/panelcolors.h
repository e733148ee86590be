#ifndef PANELCOLORS_H
#define PANELCOLORS_H

#include <QColor>

// The status panel's colours: the lamp off, the lamp on, and neutral (no contact, or a
// power command on its way).
namespace panelcolors {

inline QColor lampOff()
{
    return QColor(255, 0, 0, 255);
}

inline QColor lampOn()
{
    return QColor(0, 255, 0, 255);
}

inline QColor neutral()
{
    return QColor(200, 200, 0, 255);
}

} // namespace panelcolors

#endif // PANELCOLORS_H
