// The real program, started as a user would: from a directory with no catalogue, with and
// without toolkit options. It must come up, stay up and complain about nothing it needs.

#include "programrun.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kStartTimeout = 10000; // ms for the process to be started at all
constexpr int kStaysUp = 1500; // ms it must keep running
constexpr int kExitTimeout = 5000;

// Warnings that would mean an image, the resources or a catalogue went missing.
const QStringList &forbidden()
{
    static const QStringList words {"QPixmap",   "QIcon", "QImage",     "Cannot",     "cannot",
                                    "not found", "qrc",   "Lumivox.qm", "QTranslator"};
    return words;
}

// Notices of the session, not of the program.
bool isEnvironmentNotice(const QString &line)
{
    return line.contains(QLatin1String("XDG_RUNTIME_DIR"))
        || line.contains(QLatin1String("propagateSizeHints"));
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    void comesUpAndStaysUp_data();
    void comesUpAndStaysUp();
};

void StartupTest::comesUpAndStaysUp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no arguments") << QStringList();
    // Taken by the application object, with one dash or two: only the command line's own
    // options select the command line.
    QTest::newRow("style option") << QStringList {"-style", "Windows"};
    QTest::newRow("style, two dashes") << QStringList {"--style", "fusion"};
    QTest::newRow("platform") << QStringList {"--platform", "offscreen"};
    QTest::newRow("right to left") << QStringList {"--reverse"};
    QTest::newRow("geometry") << QStringList {"-geometry", "500x600+0+0"};
}

void StartupTest::comesUpAndStaysUp()
{
    QFETCH(QStringList, arguments);

    QTemporaryDir workingDirectory; // empty: no catalogue to find
    QVERIFY(workingDirectory.isValid());

    QProcess program;
    testsupport::prepareOffscreen(program, workingDirectory.path());
    program.start(QStringLiteral(LUMIVOX_EXECUTABLE), arguments);
    QVERIFY2(program.waitForStarted(kStartTimeout), qPrintable(program.errorString()));

    // Still running after a while: start-up did not fail, and the event loop is up.
    const bool ended = program.waitForFinished(kStaysUp);
    const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(!ended,
             qPrintable(QStringLiteral("exited with %1: %2").arg(program.exitCode()).arg(errors)));
    QCOMPARE(program.state(), QProcess::Running);

    for (const QString &line : errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (isEnvironmentNotice(line))
            continue;
        for (const QString &word : forbidden())
            QVERIFY2(!line.contains(word), qPrintable(QStringLiteral("stderr: ") + line));
    }

    program.terminate();
    if (!program.waitForFinished(kExitTimeout)) {
        program.kill();
        QVERIFY(program.waitForFinished(kExitTimeout));
    }
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
