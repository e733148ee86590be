// The program's start-up exactly as app/main.cpp runs it, reporting its first frame.

#include "catalogue.h"
#include "firstframe.h"
#include "lumivox.h"
#include "terminationsignals.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QString defect;
    const QByteArray catalogue = readCatalogue(QStringLiteral("Lumivox.qm"), &defect);
    QTranslator translator;
    if (!catalogue.isEmpty())
        (void)translator.load(reinterpret_cast<const uchar *>(catalogue.constData()),
                              int(catalogue.size()));

    QApplication application(argc, argv);
    QCoreApplication::installTranslator(&translator);
    TerminationSignals termination;

    Lumivox window;
    FirstFrame firstFrame(&window);
    window.show();
    return QApplication::exec();
}
