#ifndef WINDOWPROBE_H
#define WINDOWPROBE_H

#include <QColor>
#include <QString>

class Lumivox;

namespace testsupport {

// Everything the window wrote into its log view.
QString logText(const Lumivox &window);

// The status colour the lamp panel shows (lampOffColor, lampOnColor or neutralColor), read
// from a pixel of its fill between its two buttons; the raw pixel if it matches none.
QColor panelColour(const Lumivox &window);

// "red", "green" or "yellow" for the lamp-off, lamp-on and neutral colours (within the
// style's shading), else the colour's #rrggbb name.
QString statusName(const QColor &colour);

// Shows the window, opens `path` through the window's session and clears the log, so
// that a test sees only what it causes. The event loop does not run, but for a bridge's
// name, whose connection it makes.
void openOn(Lumivox &window, const QString &path);

// One run of the window's 100 ms tick, without the event loop.
void tick(Lumivox &window);

// Bytes that have reached the window's open port and wait to be read by a tick: in
// the device and in the link's own queue. 0 without a port.
qint64 bytesWaiting(const Lumivox &window);

// Waits, without the event loop, until at least that many bytes wait; false on time-out.
bool waitForInput(const Lumivox &window, qint64 count, int msecs);

} // namespace testsupport

#endif // WINDOWPROBE_H
