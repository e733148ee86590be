#include "lumivox.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    // The catalogue is looked for in the working directory only, and loaded before
    // the application exists so that both forms are translated as they are built.
    QTranslator translator;
    (void)translator.load(QStringLiteral("Lumivox.qm"));

    QApplication application(argc, argv);
    QCoreApplication::installTranslator(&translator);

    Lumivox window;
    window.show();
    return QApplication::exec();
}
