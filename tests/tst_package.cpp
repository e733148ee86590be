// The Debian package as a user gets it: built by CPack from this build tree, unpacked
// with dpkg -x into a scratch root (never installed into the machine), its files checked
// and validated with the desktop's own tools, and the installed program started.

#include "programrun.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// dpkg-shlibdeps looks at every library the program links, which takes a while on a
// loaded machine; the other tools answer in well under a second.
constexpr int packageTimeoutMs = 180000;
constexpr int toolTimeoutMs = 30000;
// Long enough for the window to be built, the start-up port attempt to fail and several
// timer ticks to run: a program that crashes or quits on start is gone by then.
constexpr int stayUpMs = 1500;

const QString desktopEntry = QStringLiteral("usr/share/applications/lumivox.desktop");
const QString metainfo = QStringLiteral("usr/share/metainfo/org.example.lumivox.metainfo.xml");
const QString iconPng = QStringLiteral("usr/share/icons/hicolor/32x32/apps/lumivox.png");
const QString iconSvg = QStringLiteral("usr/share/icons/hicolor/scalable/apps/lumivox.svg");
const QString simulatorName = QStringLiteral("lumivox-projector-sim");
const QString unitDir = QStringLiteral("usr/lib/systemd/system/");

struct Run
{
    int exitCode = -1;
    QString output; // stdout and stderr together, as a user would see them
};

Run run(const QString &program, const QStringList &arguments, int timeoutMs = toolTimeoutMs,
        const QString &workingDirectory = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workingDirectory.isEmpty())
        process.setWorkingDirectory(workingDirectory);
    process.start(program, arguments);
    Run result;
    if (!process.waitForStarted() || !process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.output = program + QStringLiteral(": ") + process.errorString();
        return result;
    }
    result.output = QString::fromLocal8Bit(process.readAll());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Whether this build tree made the simulator: then the package has to carry it as well.
bool simulatorBuilt()
{
    QDirIterator it(QStringLiteral(LUMIVOX_BINARY_DIR), {simulatorName}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (info.isExecutable() && !info.filePath().contains(QStringLiteral("/_CPack_Packages/")))
            return true;
    }
    return false;
}

} // namespace

class tst_Package : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installedFiles_data();
    void installedFiles();
    void controlFields_data();
    void controlFields();
    void unitValid_data();
    void unitValid();
    void desktopEntryValid();
    void desktopEntryPointsAtInstalledFiles();
    void metainfoValid();
    void icons();
    void installedProgramStarts();

private:
    QString root(const QString &relative) const { return m_root.filePath(relative); }

    QTemporaryDir m_work;
    QTemporaryDir m_root;
    QString m_version;
    QString m_deb;
    QString m_control;
};

void tst_Package::initTestCase()
{
    QVERIFY(m_work.isValid());
    QVERIFY(m_root.isValid());

    const QStringList tools {"cpack",          "dpkg",           "dpkg-deb",
                             "dpkg-shlibdeps", "file",           "desktop-file-validate",
                             "appstreamcli",   "systemd-analyze"};
    for (const QString &tool : tools)
        QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(),
                 qPrintable(tool
                            + " is missing (Debian packages dpkg-dev, file, "
                              "desktop-file-utils, appstream, systemd)"));

    const QRegularExpression cachedVersion(QStringLiteral("^CMAKE_PROJECT_VERSION:STATIC=(.+)$"),
                                           QRegularExpression::MultilineOption);
    m_version = cachedVersion
                    .match(QString::fromUtf8(
                        readAll(QStringLiteral(LUMIVOX_BINARY_DIR "/CMakeCache.txt"))))
                    .captured(1)
                    .trimmed();
    QVERIFY(!m_version.isEmpty());

    // The package goes to a scratch directory, so that the build tree stays as it was
    // and two runs at once do not share CPack's staging area.
    const QString binaryDir = QStringLiteral(LUMIVOX_BINARY_DIR);
    const Run cpack
        = run(QStringLiteral("cpack"),
              {"-G", "DEB", "--config", binaryDir + "/CPackConfig.cmake", "-B", m_work.path()},
              packageTimeoutMs, binaryDir);
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.output));

    const QStringList debs = QDir(m_work.path()).entryList({"*.deb"}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = m_work.filePath(debs.first());

    const Run unpack = run(QStringLiteral("dpkg"), {"-x", m_deb, m_root.path()});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));

    const Run control = run(QStringLiteral("dpkg-deb"), {"--field", m_deb});
    QVERIFY2(control.exitCode == 0, qPrintable(control.output));
    m_control = control.output;
    qInfo().noquote() << QFileInfo(m_deb).fileName() << QFileInfo(m_deb).size() << "bytes\n"
                      << m_control;
}

void tst_Package::installedFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");

    QTest::newRow("program") << QStringLiteral("usr/bin/lumivox") << true;
    QTest::newRow("desktop entry") << desktopEntry << false;
    QTest::newRow("metainfo") << metainfo << false;
    QTest::newRow("32x32 icon") << iconPng << false;
    QTest::newRow("scalable icon") << iconSvg << false;
    QTest::newRow("service unit") << unitDir + "lumivox-serve@.service" << false;
    QTest::newRow("gateway unit") << unitDir + "lumivox-gateway.service" << false;
    // Where the program looks for the system's command sets.
    QTest::newRow("command set") << QStringLiteral("usr/share/lumivox/sets/builtin.ini") << false;
    if (simulatorBuilt())
        QTest::newRow("simulator") << QStringLiteral("usr/bin/") + simulatorName << true;
}

void tst_Package::installedFiles()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);

    const QFileInfo info(root(path));
    QVERIFY2(info.isFile(), qPrintable(path + " is not in the package"));
    QVERIFY(info.size() > 0);
    QCOMPARE(info.isExecutable(), executable);
}

void tst_Package::controlFields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("pattern");

    QTest::newRow("name") << "Package"
                          << "^lumivox$";
    QTest::newRow("version") << "Version"
                             << QStringLiteral("^") + QRegularExpression::escape(m_version) + "$";
    QTest::newRow("maintainer") << "Maintainer"
                                << "^Lumivox developers <[^@>]+@example\\.org>$";
    // Computed dependencies carry the minimum versions dpkg-shlibdeps found; a hand-written
    // or missing list would not name the libraries with one.
    QTest::newRow("widgets") << "Depends"
                             << "(^|, )libqt6widgets6 \\(>= [0-9.]+\\)(,|$)";
    QTest::newRow("core") << "Depends"
                          << "(^|, )libqt6core6 \\(>= [0-9.]+\\)(,|$)";
    QTest::newRow("MQTT library") << "Depends"
                                  << "(^|, )libmosquitto1 \\(>= [0-9.]+\\)(,|$)";
    QTest::newRow("C library") << "Depends"
                               << "(^|, )libc6 \\(>= [0-9.]+\\)(,|$)";
}

void tst_Package::controlFields()
{
    QFETCH(QString, field);
    QFETCH(QString, pattern);

    const QRegularExpression line(QStringLiteral("^") + field + QStringLiteral(": (.*)$"),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(m_control);
    QVERIFY2(match.hasMatch(), qPrintable(field + " missing from\n" + m_control));
    const QString value = match.captured(1).trimmed();
    QVERIFY2(QRegularExpression(pattern).match(value).hasMatch(), qPrintable(value));
}

void tst_Package::unitValid_data()
{
    QTest::addColumn<QString>("unit");
    QTest::newRow("service") << QStringLiteral("lumivox-serve@.service");
    QTest::newRow("gateway") << QStringLiteral("lumivox-gateway.service");
}

void tst_Package::unitValid()
{
    QFETCH(QString, unit);
    // systemd's own reading of the unit: an unknown key or a malformed line is named. The
    // program it starts is in the scratch root, not yet at /usr/bin, which it says too.
    const Run verify = run(QStringLiteral("systemd-analyze"), {"verify", root(unitDir + unit)});
    QStringList complaints = verify.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    complaints.removeIf([](const QString &line) {
        return line.contains(QLatin1String("/usr/bin/lumivox is not executable"));
    });
    QVERIFY2(complaints.isEmpty(), qPrintable(verify.output));
}

void tst_Package::desktopEntryValid()
{
    // Hints count too: they name real mistakes such as two main menu categories.
    const Run validate = run(QStringLiteral("desktop-file-validate"), {root(desktopEntry)});
    QCOMPARE(validate.exitCode, 0);
    QVERIFY2(validate.output.trimmed().isEmpty(), qPrintable(validate.output));
}

void tst_Package::desktopEntryPointsAtInstalledFiles()
{
    QSettings entry(root(desktopEntry), QSettings::IniFormat);
    entry.beginGroup(QStringLiteral("Desktop Entry"));
    QCOMPARE(entry.value("Name").toString(), QStringLiteral("Lumivox"));
    QVERIFY(!entry.value("Comment").toString().isEmpty());

    // The menu starts the program by name from PATH, /usr/bin once installed.
    const QString exec = entry.value("Exec").toString().section(QLatin1Char(' '), 0, 0);
    QVERIFY2(QFileInfo(root(QStringLiteral("usr/bin/") + exec)).isExecutable(), qPrintable(exec));

    // A themed icon name finds the installed icons by their base name.
    const QString icon = entry.value("Icon").toString();
    QCOMPARE(icon, QFileInfo(iconPng).completeBaseName());
    QCOMPARE(icon, QFileInfo(iconSvg).completeBaseName());
}

void tst_Package::metainfoValid()
{
    const Run validate
        = run(QStringLiteral("appstreamcli"), {"validate", "--no-net", root(metainfo)});
    QVERIFY2(validate.exitCode == 0, qPrintable(validate.output));

    // The software centre pairs the metadata with the menu entry and the program through
    // these names, so they must be the files actually installed.
    QFile file(root(metainfo));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString id, launchable, binary;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("id"))
            id = xml.readElementText();
        else if (xml.name() == QLatin1String("launchable"))
            launchable = xml.readElementText();
        else if (xml.name() == QLatin1String("binary"))
            binary = xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(id + QStringLiteral(".metainfo.xml"), QFileInfo(metainfo).fileName());
    QCOMPARE(launchable, QFileInfo(desktopEntry).fileName());
    QVERIFY2(QFileInfo(root(QStringLiteral("usr/bin/") + binary)).isExecutable(),
             qPrintable(binary));
}

void tst_Package::icons()
{
    // The menu shows the same picture as the window's title bar.
    const QByteArray png = readAll(root(iconPng));
    QCOMPARE(png, readAll(QStringLiteral(":/Lumivox/Resources/proj.png")));
    QCOMPARE(QImage::fromData(png, "PNG").size(), QSize(32, 32));

    const QByteArray svg = readAll(root(iconSvg));
    QCOMPARE(svg, readAll(QStringLiteral(LUMIVOX_SOURCE_DIR "/Resources/src/proj.svg")));
    QXmlStreamReader xml(svg);
    QVERIFY(xml.readNextStartElement());
    QCOMPARE(xml.name(), QLatin1String("svg"));
}

void tst_Package::installedProgramStarts()
{
    // An empty working directory: the installed program must need nothing beside it.
    QTemporaryDir cwd;
    QVERIFY(cwd.isValid());

    QProcess program;
    testsupport::prepareOffscreen(program, cwd.path());
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(root(QStringLiteral("usr/bin/lumivox")), {});
    QVERIFY2(program.waitForStarted(), qPrintable(program.errorString()));

    const bool ended = program.waitForFinished(stayUpMs);
    const QString output = QString::fromLocal8Bit(program.readAll());
    if (!ended) {
        program.kill();
        program.waitForFinished();
    }
    QVERIFY2(!ended, qPrintable("the installed program ended on start:\n" + output));
    QVERIFY2(QDir(cwd.path()).isEmpty(), "the program wrote into its working directory");
}

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_package.moc"
