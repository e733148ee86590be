// The program's start-up exactly as app/main.cpp runs it, reporting its first frame.

#include "firstframe.h"
#include "lumivox.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QTranslator translator;
    (void)translator.load(QStringLiteral("Lumivox.qm"));

    QApplication application(argc, argv);
    QCoreApplication::installTranslator(&translator);

    Lumivox window;
    FirstFrame firstFrame(&window);
    window.show();
    return QApplication::exec();
}
