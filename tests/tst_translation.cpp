// The optional catalogue "Lumivox.qm": found in the working directory, and only there, and
// then translating the forms' texts and the window's own messages. The catalogue is the
// small test one, compiled with lrelease at test time.
//
// In process, the window is built after the same load that start-up makes. The real program
// is checked too, on a virtual X display where its window title can be read from outside;
// that part is skipped where Xvfb or xdotool is missing.

#include "probe/windowform.h"
#include "session/projectorsession.h"
#include "translation.h"
#include "ui/catalogue.h"
#include "ui/lumivox.h"
#include "ui/settings.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTranslator>
#include <QtTest>

#include <memory>

namespace {

const QString sourceTitle = QStringLiteral("Lumivox V 1.2");
const QString translatedTitle = QStringLiteral("Projektorfernbedienung 1.2");

constexpr int kFirstDisplay = 91; // virtual display numbers tried, clear of a desktop's :0
constexpr int kLastDisplay = 140;
constexpr int kDisplayTimeout = 10000; // ms for Xvfb to accept clients
constexpr int kReadinessPoll = 100; // ms between two looks at the starting server
constexpr int kWindowTimeout = 10000; // ms for the program's window to appear
constexpr int kToolTimeout = 5000;

// A private X server for the duration of one test.
class VirtualDisplay
{
public:
    ~VirtualDisplay()
    {
        if (server.state() != QProcess::NotRunning) {
            server.terminate();
            if (!server.waitForFinished(kToolTimeout))
                server.kill();
            server.waitForFinished(kToolTimeout);
        }
    }

    bool start(QString *error)
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        for (int number = kFirstDisplay; number <= kLastDisplay; ++number) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
                continue;
            // With -displayfd the server names its display on stdout once it accepts
            // clients; it exits at once if another server took the number meanwhile.
            server.start(xvfb,
                         {QStringLiteral(":%1").arg(number), QStringLiteral("-displayfd"),
                          QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                          QStringLiteral("-noreset"), QStringLiteral("-screen"),
                          QStringLiteral("0"), QStringLiteral("1024x768x24")});
            if (!server.waitForStarted(kToolTimeout)) {
                *error = server.errorString();
                return false;
            }
            QDeadlineTimer deadline(kDisplayTimeout);
            while (!server.canReadLine() && server.state() == QProcess::Running
                   && !deadline.hasExpired())
                server.waitForReadyRead(kReadinessPoll);
            if (server.canReadLine() && server.readLine().trimmed() == QByteArray::number(number)) {
                displayName = QStringLiteral(":%1").arg(number);
                return true;
            }
            *error = QString::fromLocal8Bit(server.readAllStandardError());
            server.kill();
            server.waitForFinished(kToolTimeout);
        }
        *error = QStringLiteral("no virtual display could be started: ") + *error;
        return false;
    }

    QString name() const { return displayName; }

private:
    QProcess server;
    QString displayName;
};

// Whether a window with exactly this title exists on the display.
bool hasWindowTitled(const QString &display, const QString &title)
{
    QString pattern;
    for (const QChar c : title) {
        if (QStringLiteral(".[]()*+?{}|^$\\").contains(c))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    QProcess search;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), display);
    search.setProcessEnvironment(environment);
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--name"),
                  QLatin1Char('^') + pattern + QLatin1Char('$')});
    return search.waitForFinished(kToolTimeout) && search.exitCode() == 0
        && !search.readAllStandardOutput().trimmed().isEmpty();
}

} // namespace

class TranslationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void catalogueHoldsTheThreeContexts_data();
    void catalogueHoldsTheThreeContexts();
    void formTextsTranslated_data();
    void formTextsTranslated();
    void windowMessagesTranslated();
    void sessionTextsTranslatedPlain_data();
    void sessionTextsTranslatedPlain();
    void settingsProposesTheTranslatedPort();
    void nothingTranslatedWithoutCatalogueInWorkingDirectory();
    void damagedCatalogueLeftOut();
    void realProgram_data();
    void realProgram();

private:
    // What start-up does: the bare file name, relative to the working directory, checked
    // and loaded from the checked bytes.
    bool loadAsStartupDoes(const QString &workingDirectory);
    // The catalogue with the texts looked up while the window is built and at its first
    // tick claiming source texts far past its end.
    QByteArray damagedCatalogue() const;

    QTemporaryDir catalogueDir;
    QString catalogue;
    QString startDirectory;
    QByteArray translatorBytes; // outlives the translator
    std::unique_ptr<QTranslator> translator;
};

void TranslationTest::initTestCase()
{
    QVERIFY(catalogueDir.isValid());
    QString error;
    catalogue = testsupport::buildTestCatalogue(catalogueDir.path(), &error);
    QVERIFY2(!catalogue.isEmpty(), qPrintable(error));
    QCOMPARE(QFileInfo(catalogue).fileName(), QStringLiteral("Lumivox.qm"));
    startDirectory = QDir::currentPath();
}

void TranslationTest::cleanup()
{
    if (translator) {
        QCoreApplication::removeTranslator(translator.get());
        translator.reset();
    }
    QDir::setCurrent(startDirectory);
}

bool TranslationTest::loadAsStartupDoes(const QString &workingDirectory)
{
    if (!QDir::setCurrent(workingDirectory))
        return false;
    translator = std::make_unique<QTranslator>();
    QString defect;
    translatorBytes = readCatalogue(QStringLiteral("Lumivox.qm"), &defect);
    const bool loaded = !translatorBytes.isEmpty()
        && translator->load(reinterpret_cast<const uchar *>(translatorBytes.constData()),
                            int(translatorBytes.size()));
    QCoreApplication::installTranslator(translator.get()); // installed even when empty
    return loaded;
}

QByteArray TranslationTest::damagedCatalogue() const
{
    QFile file(catalogue);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return testsupport::withSourceTextsPastTheEnd(file.readAll(), {"Lumivox V 1.2", "No Contact"});
}

void TranslationTest::catalogueHoldsTheThreeContexts_data()
{
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translation");
    QTest::newRow("form") << "LumivoxClass" << sourceTitle << translatedTitle;
    QTest::newRow("window") << "Lumivox"
                            << "Failed to initialize Com port 1!\r"
                            << "Schnittstelle COM1 nicht geöffnet!\r";
    QTest::newRow("settings") << "SettingsClass"
                              << "COM1"
                              << "COM7";
}

void TranslationTest::catalogueHoldsTheThreeContexts()
{
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, translation);
    QTranslator direct;
    QVERIFY(direct.load(catalogue));
    QCOMPARE(direct.translate(qPrintable(context), qPrintable(source)), translation);
}

void TranslationTest::formTextsTranslated_data()
{
    QTest::addColumn<QString>("object"); // empty: the window
    QTest::addColumn<QString>("property");
    QTest::addColumn<QString>("expected");
    QTest::newRow("window title") << ""
                                  << "windowTitle" << translatedTitle;
    QTest::newRow("button text") << "brightness"
                                 << "text"
                                 << "Helligkeit";
    QTest::newRow("tool tip") << "left"
                              << "toolTip"
                              << "Nach links";
    QTest::newRow("menu title") << "menuAbout"
                                << "title"
                                << "Hilfe";
    QTest::newRow("not in the catalogue") << "contrast"
                                          << "text"
                                          << "Contrast";
}

void TranslationTest::formTextsTranslated()
{
    QFETCH(QString, object);
    QFETCH(QString, property);
    QFETCH(QString, expected);

    QVERIFY(loadAsStartupDoes(catalogueDir.path()));
    Lumivox window;
    QObject *target = object.isEmpty() ? &window : window.findChild<QObject *>(object);
    QVERIFY(target);
    QCOMPARE(target->property(qPrintable(property)).toString(), expected);
}

void TranslationTest::windowMessagesTranslated()
{
    QVERIFY(loadAsStartupDoes(catalogueDir.path()));
    Lumivox window;
    QTextDocument *log = testsupport::WindowForm(window).textEdit->document();
    QCOMPARE(log->findBlockByNumber(0).text(),
             QStringLiteral("Schnittstelle COM1 nicht geöffnet!"));
    // Not in the catalogue: as written.
    QCOMPARE(log->findBlockByNumber(1).text(),
             QStringLiteral("Communication with projector not possible."));
    // The no-contact tool tip comes from the first tick.
    QTRY_COMPARE(testsupport::WindowForm(window).connectionStatus->toolTip(),
                 QStringLiteral("Kein Kontakt"));
}

void TranslationTest::sessionTextsTranslatedPlain_data()
{
    QTest::addColumn<bool>("withCatalogue");
    QTest::addColumn<QString>("said");
    // The catalogue knows the text by the key the window's log had, with its line end.
    QTest::newRow("catalogue") << true << QStringLiteral("Befehl im Moment nicht verfügbar.");
    QTest::newRow("no catalogue") << false
                                  << QStringLiteral("Command not available at the moment.");
}

void TranslationTest::sessionTextsTranslatedPlain()
{
    QFETCH(bool, withCatalogue);
    QFETCH(QString, said);
    QTemporaryDir empty;
    QVERIFY(loadAsStartupDoes(withCatalogue ? catalogueDir.path() : empty.path()) == withCatalogue);
    ProjectorSession session;
    QSignalSpy messages(&session, &ProjectorSession::message);
    session.handleReply(QStringLiteral("*001"));
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).at(0).toString(), said);
}

void TranslationTest::settingsProposesTheTranslatedPort()
{
    QVERIFY(loadAsStartupDoes(catalogueDir.path()));
    Settings settings(nullptr);
    QCOMPARE(settings.portName(), QStringLiteral("COM7"));
}

void TranslationTest::nothingTranslatedWithoutCatalogueInWorkingDirectory()
{
    QTemporaryDir elsewhere;
    QVERIFY(elsewhere.isValid());
    // The catalogue exists, but not where start-up looks.
    QVERIFY(QFile::exists(catalogue));
    QVERIFY(!loadAsStartupDoes(elsewhere.path()));
    Lumivox window;
    QCOMPARE(window.windowTitle(), sourceTitle);
    QCOMPARE(testsupport::WindowForm(window).brightness->text(), QStringLiteral("Brightness"));
    QCOMPARE(testsupport::WindowForm(window).textEdit->document()->findBlockByNumber(0).text(),
             QStringLiteral("Failed to initialize Com port 1!"));
}

void TranslationTest::damagedCatalogueLeftOut()
{
    QTemporaryDir here;
    QVERIFY(here.isValid());
    QFile file(here.filePath(QStringLiteral("Lumivox.qm")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.write(damagedCatalogue()) > 0);
    file.close();

    QVERIFY(!loadAsStartupDoes(here.path()));
    Lumivox window;
    QCOMPARE(window.windowTitle(), sourceTitle);
    QCOMPARE(testsupport::WindowForm(window).textEdit->document()->findBlockByNumber(0).text(),
             QStringLiteral("Failed to initialize Com port 1!"));
    QTRY_COMPARE(testsupport::WindowForm(window).connectionStatus->toolTip(),
                 QStringLiteral("No Contact"));
}

void TranslationTest::realProgram_data()
{
    QTest::addColumn<bool>("catalogueInWorkingDirectory");
    QTest::addColumn<bool>("damaged");
    QTest::addColumn<bool>("catalogueBesideExecutable");
    QTest::addColumn<QString>("title");
    QTest::newRow("in the working directory") << true << false << false << translatedTitle;
    QTest::newRow("damaged, in the working directory") << true << true << false << sourceTitle;
    QTest::newRow("beside the executable") << false << false << true << sourceTitle;
    QTest::newRow("nowhere") << false << false << false << sourceTitle;
}

void TranslationTest::realProgram()
{
    QFETCH(bool, catalogueInWorkingDirectory);
    QFETCH(bool, damaged);
    QFETCH(bool, catalogueBesideExecutable);
    QFETCH(QString, title);

    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("needs Xvfb and xdotool");
    VirtualDisplay display;
    QString error;
    QVERIFY2(display.start(&error), qPrintable(error));

    QTemporaryDir workingDirectory, programDirectory;
    QVERIFY(workingDirectory.isValid() && programDirectory.isValid());
    QString executable = QStringLiteral(LUMIVOX_EXECUTABLE);
    if (catalogueBesideExecutable) {
        // A copy of the program with the catalogue next to it.
        const QString copy = programDirectory.filePath(QStringLiteral("lumivox"));
        QVERIFY(QFile::copy(executable, copy));
        QVERIFY(QFile::copy(catalogue, programDirectory.filePath(QStringLiteral("Lumivox.qm"))));
        executable = copy;
    }
    if (catalogueInWorkingDirectory && damaged) {
        QFile file(workingDirectory.filePath(QStringLiteral("Lumivox.qm")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write(damagedCatalogue()) > 0);
    } else if (catalogueInWorkingDirectory) {
        QVERIFY(QFile::copy(catalogue, workingDirectory.filePath(QStringLiteral("Lumivox.qm"))));
    }

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("DISPLAY"), display.name());
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    program.setProcessEnvironment(environment);
    program.setWorkingDirectory(workingDirectory.path());
    program.start(executable, {});
    QVERIFY2(program.waitForStarted(kToolTimeout), qPrintable(program.errorString()));
    // Ended before its display goes, also when a check below fails.
    const auto stop = qScopeGuard([&program] {
        program.terminate();
        if (!program.waitForFinished(kToolTimeout)) {
            program.kill();
            program.waitForFinished(kToolTimeout);
        }
    });

    QTRY_VERIFY2_WITH_TIMEOUT(hasWindowTitled(display.name(), title)
                                  || program.state() != QProcess::Running,
                              "no window with the expected title", kWindowTimeout);
    QString errors;
    const auto readErrors = [&] {
        errors += QString::fromLocal8Bit(program.readAllStandardError());
        return errors;
    };
    QVERIFY2(program.state() == QProcess::Running, qPrintable(readErrors()));
    const QString other = title == sourceTitle ? translatedTitle : sourceTitle;
    QVERIFY(!hasWindowTitled(display.name(), other));
    // Said once, on standard error only.
    const QString notUsed = QStringLiteral("Lumivox.qm not used");
    if (damaged)
        QTRY_VERIFY2_WITH_TIMEOUT(readErrors().contains(notUsed), qPrintable(errors), kToolTimeout);
    QCOMPARE(readErrors().count(notUsed), damaged ? 1 : 0);
}

QTEST_MAIN(TranslationTest)
#include "tst_translation.moc"
