#ifndef WINDOWFORM_H
#define WINDOWFORM_H

#include "ui/lumivox.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextEdit>
#include <QToolButton>
#include <QtGlobal>

namespace testsupport {

// The window's widgets that tests and the benchmark click and read, found as anybody finds
// them: by the object names the form gives them. Header only, like TickWatch.
struct WindowForm
{
    explicit WindowForm(const Lumivox &window)
        : window(window)
    { }

    template<typename T>
    T *named(const char *name) const
    {
        T *found = window.findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("the window has no %s named %s", T::staticMetaObject.className(), name);
        return found;
    }

    const Lumivox &window;
    QAction *actionAbout = named<QAction>("actionAbout");
    QPushButton *startProjector = named<QPushButton>("startProjector");
    QPushButton *powerOff = named<QPushButton>("powerOff");
    QGroupBox *on_off_groupBox = named<QGroupBox>("on_off_groupBox");
    QPushButton *brightness = named<QPushButton>("brightness");
    QPushButton *contrast = named<QPushButton>("contrast");
    QPushButton *colorTemperature = named<QPushButton>("colorTemperature");
    QPushButton *zoom = named<QPushButton>("zoom");
    QPushButton *freeze = named<QPushButton>("freeze");
    QPushButton *hide = named<QPushButton>("hide");
    QPushButton *queryLampTime = named<QPushButton>("queryLampTime");
    QPushButton *queryModel = named<QPushButton>("queryModel");
    QPushButton *resolution = named<QPushButton>("resolution");
    QPushButton *company = named<QPushButton>("company");
    QToolButton *left = named<QToolButton>("left");
    QToolButton *ok = named<QToolButton>("ok");
    QToolButton *right = named<QToolButton>("right");
    QToolButton *down = named<QToolButton>("down");
    QToolButton *up = named<QToolButton>("up");
    QPushButton *menu = named<QPushButton>("menu");
    QPushButton *eKey = named<QPushButton>("eKey");
    QPushButton *analogRGB = named<QPushButton>("analogRGB");
    QPushButton *dvi = named<QPushButton>("dvi");
    QPushButton *sVideo = named<QPushButton>("sVideo");
    QPushButton *hdmi = named<QPushButton>("hdmi");
    QPushButton *compositeVideo = named<QPushButton>("compositeVideo");
    QPushButton *searchVideo = named<QPushButton>("searchVideo");
    QPushButton *keystoneUpp = named<QPushButton>("keystoneUpp");
    QPushButton *keystoneDown = named<QPushButton>("keystoneDown");
    QPushButton *keystone = named<QPushButton>("keystone");
    QPushButton *aspect4_3 = named<QPushButton>("aspect4_3");
    QPushButton *aspect16_9 = named<QPushButton>("aspect16_9");
    QPushButton *info = named<QPushButton>("info");
    QPushButton *connectionStatus = named<QPushButton>("connectionStatus");
    QHBoxLayout *horizontalLayout = named<QHBoxLayout>("horizontalLayout");
    QFrame *infoFrame = named<QFrame>("infoFrame");
    QCheckBox *debugCheckBox = named<QCheckBox>("debugCheckBox");
    QPushButton *clearLog = named<QPushButton>("clearLog");
    QTextEdit *textEdit = named<QTextEdit>("textEdit");
};

} // namespace testsupport

#endif // WINDOWFORM_H
