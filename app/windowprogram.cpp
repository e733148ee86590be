#include "app/windowprogram.h"

#include "channel/localchannel.h"
#include "channel/portholderlookup.h"
#include "platform/terminationsignals.h"
#include "ui/catalogue.h"
#include "ui/lumivox.h"

#include <QApplication>
#include <QTranslator>

int runWindowProgram(int argc, char *argv[], const std::function<void(Lumivox &)> &beforeShow,
                     const WindowStart &start)
{
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
    // The command line's name: both look for command sets in the same folders.
    QCoreApplication::setApplicationName(QStringLiteral("lumivox"));
    QCoreApplication::installTranslator(&translator);
    TerminationSignals termination;

    Lumivox window(nullptr, {}, start.protocol, start.port);
    // A logout, kill or closed terminal: nobody is there to answer a question. The
    // window closes without one, and every event loop ends, an open box's too.
    QObject::connect(&termination, &TerminationSignals::received, &window, &Lumivox::endProgram);
    // The command line's requests for the window's port go through the window.
    LocalChannel channel(&window.session());
    QObject::connect(&channel, &LocalChannel::problem, &channel,
                     [](const QString &reason) { qWarning("Lumivox: %s", qPrintable(reason)); });
    channel.followPort();
    // A port that another Lumivox holds is said to be held by it, at the start as later.
    PortHolderLookup holder;
    QObject::connect(&window, &Lumivox::openFailed, &holder, &PortHolderLookup::lookUp);
    QObject::connect(&holder, &PortHolderLookup::found, &window, &Lumivox::showHolder);
    if (!window.session().port())
        holder.lookUp(window.session().portName());
    if (beforeShow)
        beforeShow(window);
    window.show();
    return QApplication::exec();
}
