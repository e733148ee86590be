#include "windowprobe.h"

#include "link/portdevice.h"
#include "probe/portprobe.h"
#include "probe/windowform.h"
#include "ui/lumivox.h"
#include "ui/panelcolors.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QTextEdit>
#include <QtTest>

#include <poll.h>
#include <sys/ioctl.h>

namespace testsupport {

namespace {
constexpr int kInputCheck = 5; // ms between two looks at the port's input
constexpr int kShading = 8; // per colour channel the style shades over the fill
constexpr int kBridgeOpenBound = 5000; // ms: a bridge's open gives up after 3 s

struct Status
{
    QColor colour;
    const char *name;
};

const Status *matchingStatus(const QColor &colour)
{
    static const Status statuses[] = {{panelcolors::lampOff(), "red"},
                                      {panelcolors::lampOn(), "green"},
                                      {panelcolors::neutral(), "yellow"}};
    for (const Status &status : statuses) {
        if (qAbs(colour.red() - status.colour.red()) <= kShading
            && qAbs(colour.green() - status.colour.green()) <= kShading
            && qAbs(colour.blue() - status.colour.blue()) <= kShading)
            return &status;
    }
    return nullptr;
}
} // namespace

QString logText(const Lumivox &window)
{
    return testsupport::WindowForm(window).textEdit->toPlainText();
}

QColor panelColour(const Lumivox &window)
{
    // A pixel of the fill in the gap between the panel's two buttons, clear of the
    // frame's shading and the title.
    const testsupport::WindowForm form(window);
    const QImage image = form.on_off_groupBox->grab().toImage();
    const QRect upper = form.startProjector->geometry();
    const QRect lower = form.powerOff->geometry();
    const QColor shown
        = image.pixelColor(upper.center().x(), (upper.bottom() + lower.top() + 1) / 2);
    const Status *status = matchingStatus(shown);
    return status ? status->colour : shown;
}

QString statusName(const QColor &colour)
{
    const Status *status = matchingStatus(colour);
    return status ? QString::fromLatin1(status->name) : colour.name();
}

void openOn(Lumivox &window, const QString &path)
{
    window.show();
    QString reason;
    QSignalSpy finished(&window.session(), &ProjectorSession::openFinished);
    const ProjectorSession::OpenResult result = window.session().openPort(path, &reason);
    QVERIFY2(result != ProjectorSession::OpenResult::Failed, qPrintable(reason));
    if (result == ProjectorSession::OpenResult::Pending) {
        // A bridge's connection is made by the event loop, the window's ticks going on.
        QVERIFY(finished.wait(kBridgeOpenBound));
        QVERIFY2(finished.at(0).at(0).toBool(), qPrintable(finished.at(0).at(1).toString()));
    }
    testsupport::WindowForm(window).textEdit->clear();
}

void tick(Lumivox &window)
{
    QVERIFY(QMetaObject::invokeMethod(&window, "OnTimer"));
}

qint64 bytesWaiting(const Lumivox &window)
{
    const PortDevice *port = window.session().port();
    if (!port)
        return 0;
    int inDevice = 0;
    if (ioctl(int(portHandle(port)), FIONREAD, &inDevice) != 0)
        inDevice = 0;
    return inDevice + portHeldBytes(port);
}

bool waitForInput(const Lumivox &window, qint64 count, int msecs)
{
    // The kernel hands bytes written on one side of a pty to the other a moment later.
    const QDeadlineTimer deadline(msecs);
    while (bytesWaiting(window) < count) {
        if (deadline.hasExpired())
            return false;
        ::poll(nullptr, 0, kInputCheck);
    }
    return true;
}

} // namespace testsupport
