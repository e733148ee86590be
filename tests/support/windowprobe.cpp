#include "windowprobe.h"

#include "lumivox.h"
#include "protocol.h"

#include <QImage>
#include <QTextEdit>
#include <QtTest>

namespace testsupport {

namespace {
constexpr int kShading = 8; // per colour channel the style shades over the fill

struct Status
{
    QColor colour;
    const char *name;
};

const Status *matchingStatus(const QColor &colour)
{
    static const Status statuses[] = {{protocol::lampOffColor(), "red"},
                                      {protocol::lampOnColor(), "green"},
                                      {protocol::neutralColor(), "yellow"}};
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
    return window.form().textEdit->toPlainText();
}

QColor panelColour(const Lumivox &window)
{
    // A pixel of the fill in the gap between the panel's two buttons, clear of the
    // frame's shading and the title.
    const Ui_LumivoxClass &form = window.form();
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
    QVERIFY2(window.openPort(path, &reason), qPrintable(reason));
    window.form().textEdit->clear();
}

void tick(Lumivox &window)
{
    QVERIFY(QMetaObject::invokeMethod(&window, "OnTimer"));
}

} // namespace testsupport
