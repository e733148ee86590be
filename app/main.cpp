#include "catalogue.h"
#include "channelname.h"
#include "commandline.h"
#include "localchannel.h"
#include "lumivox.h"
#include "terminationsignals.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    // From scripts and schedules: no window and no display.
    if (wantsCommandLine(argc, argv))
        return runCommandLine(argc, argv);

    // The catalogue is looked for in the working directory only, and loaded before
    // the application exists so that both forms are translated as they are built.
    // It is checked first, and the translator reads the very bytes that were checked;
    // they outlive it. A damaged one is left out, as a missing one is.
    const QString catalogueName = QStringLiteral("Lumivox.qm");
    QString defect;
    const QByteArray catalogue = readCatalogue(catalogueName, &defect);
    if (!defect.isEmpty())
        qWarning("%s not used: %s", qPrintable(catalogueName), qPrintable(defect));
    QTranslator translator;
    if (!catalogue.isEmpty())
        (void)translator.load(reinterpret_cast<const uchar *>(catalogue.constData()),
                              int(catalogue.size()));

    QApplication application(argc, argv);
    QCoreApplication::installTranslator(&translator);
    TerminationSignals termination;

    Lumivox window;
    // A logout, kill or closed terminal: nobody is there to answer a question. The
    // window closes without one, and every event loop ends, an open box's too.
    QObject::connect(&termination, &TerminationSignals::received, &window, &Lumivox::endProgram);
    // The command line's requests go through the window while it holds the port.
    LocalChannel channel(&window);
    QString channelProblem;
    if (!channel.listen(localChannelName(), &channelProblem))
        qWarning("Lumivox: %s", qPrintable(channelProblem));
    window.show();
    return QApplication::exec();
}
