#include "gateway/fleetfile.h"

#include "link/pjlink.h"
#include "link/portname.h"
#include "link/portopener.h"
#include "platform/secretfile.h"
#include "service/mqtttopics.h"
#include "session/commandsets.h"

#include <QFile>
#include <QHash>
#include <QSettings>

#include <algorithm>
#include <optional>

namespace {
constexpr char kPort[] = "port";
constexpr char kProtocol[] = "protocol";
constexpr char kPasswordFile[] = "password-file";
constexpr char kGroup[] = "group";
constexpr char kMac[] = "mac";
constexpr int kMacBytes = 6;
constexpr int kHexBase = 16;
constexpr qint64 kMaxFileSize = 4 * 1024 * 1024; // bytes: far more than thousands of rooms

// Where each section and key stands in the text, which QSettings does not tell, and the
// first line that is none of a section, a key, a comment or blank.
struct Layout
{
    struct Mistake
    {
        int line = 0;
        QString text;
    };
    QHash<QString, int> sectionLines;
    QHash<QString, QHash<QString, int>> keyLines;
    QStringList sections; // in the file's order
    std::optional<Mistake> mistake;
};

Layout scan(const QByteArray &text)
{
    Layout layout;
    const QList<QByteArray> lines = text.split('\n');
    QString section;
    for (int i = 0; i < lines.size() && !layout.mistake; ++i) {
        const int number = i + 1;
        const QString line = QString::fromUtf8(lines.at(i)).trimmed();
        // Only ';' starts a comment, as for QSettings.
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']'))) {
                layout.mistake = {number, QStringLiteral("a section's name has no closing ]")};
                break;
            }
            section = line.mid(1, line.size() - 2).trimmed();
            if (layout.sectionLines.contains(section)) {
                layout.mistake = {number,
                                  QStringLiteral("projector '%1' is listed already (line %2)")
                                      .arg(section)
                                      .arg(layout.sectionLines.value(section))};
                break;
            }
            layout.sectionLines.insert(section, number);
            layout.sections.append(section);
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            layout.mistake = {number, QStringLiteral("neither [id] nor key = value")};
            break;
        }
        const QString key = line.left(equals).trimmed();
        if (section.isEmpty()) {
            layout.mistake = {number, QStringLiteral("'%1' stands before any [id]").arg(key)};
            break;
        }
        QHash<QString, int> &keys = layout.keyLines[section];
        if (keys.contains(key)) {
            layout.mistake
                = {number,
                   QStringLiteral("'%1' is given already (line %2)").arg(key).arg(keys.value(key))};
            break;
        }
        keys.insert(key, number);
    }
    return layout;
}

// A value as written: QSettings reads an unquoted comma as a list.
QString textOf(const QVariant &value)
{
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString().trimmed();
}

QStringList groupsOf(const QString &text)
{
    QStringList groups;
    for (const QString &name : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString trimmed = name.trimmed();
        if (!trimmed.isEmpty() && !groups.contains(trimmed))
            groups.append(trimmed);
    }
    return groups;
}
} // namespace

bool FleetFile::Entry::sameProjector(const Entry &other) const
{
    return id == other.id && port == other.port && protocol == other.protocol
        && passwordFile == other.passwordFile && mac == other.mac;
}

QString FleetFile::normalMac(const QString &text)
{
    QString digits = text.trimmed().toLower();
    digits.remove(QLatin1Char(':'));
    digits.remove(QLatin1Char('-'));
    if (digits.size() != 2 * kMacBytes)
        return QString();
    bool hex = false;
    digits.toULongLong(&hex, kHexBase);
    if (!hex)
        return QString();
    QStringList pairs;
    for (int i = 0; i < kMacBytes; ++i)
        pairs.append(digits.mid(2 * i, 2));
    return pairs.join(QLatin1Char(':'));
}

QString FleetFile::entryProblem(const Entry &entry, QString *key)
{
    QString unused;
    QString &where = key ? *key : unused;
    where.clear();
    if (!mqtttopics::isValidId(entry.id))
        return QStringLiteral("'%1' is no projector id: 1 to 64 of a-z, 0-9, _ and -")
            .arg(entry.id);
    if (entry.id == QLatin1String(kGatewayLevel) || entry.id == QLatin1String(kGroupLevel))
        return QStringLiteral("'%1' names the gateway's own topics: not a projector id")
            .arg(entry.id);
    if (entry.port.isEmpty())
        return QStringLiteral("projector '%1' has no port").arg(entry.id);
    where = QLatin1String(kPort);
    const QString refusal = PortOpener::refusal(entry.port);
    if (!refusal.isEmpty())
        return QStringLiteral("port %1: %2").arg(entry.port, refusal);
    if (!entry.protocol.isEmpty()) {
        where = QLatin1String(kProtocol);
        if (portname::isPjlinkName(entry.port))
            return QStringLiteral("a pjlink:// projector speaks PJLink: no protocol goes with it");
        CommandSets::Entry set;
        QString problem;
        if (!CommandSets::lookUp(entry.protocol, &set, &problem))
            return QStringLiteral("protocol: ") + problem;
    }
    if (!entry.passwordFile.isEmpty()) {
        where = QLatin1String(kPasswordFile);
        QString problem;
        std::optional<QByteArray> password = readSecretFile(entry.passwordFile, &problem);
        if (!password)
            return QStringLiteral("password-file: ") + problem;
        problem = pjlink::passwordProblem(*password);
        password->fill('\0');
        if (!problem.isEmpty())
            return QStringLiteral("password-file %1: %2").arg(entry.passwordFile, problem);
    }
    where = QLatin1String(kGroup);
    for (const QString &group : entry.groups)
        if (!mqtttopics::isValidId(group))
            return QStringLiteral("'%1' is no group name: 1 to 64 of a-z, 0-9, _ and -").arg(group);
    where.clear();
    return QString();
}

bool FleetFile::read(const QString &path, QList<Entry> *entries, QString *problem)
{
    const auto refuse = [&](int line, const QString &text) {
        *problem = line > 0 ? QStringLiteral("%1 line %2: %3").arg(path).arg(line).arg(text)
                            : QStringLiteral("%1: %2").arg(path, text);
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(0, file.errorString());
    if (file.size() > kMaxFileSize)
        return refuse(0, QStringLiteral("larger than %1 bytes").arg(kMaxFileSize));
    const Layout layout = scan(file.read(kMaxFileSize));
    if (layout.mistake)
        return refuse(layout.mistake->line, layout.mistake->text);

    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return refuse(0, QStringLiteral("not read as an INI file"));
    static const QStringList known {QLatin1String(kPort), QLatin1String(kProtocol),
                                    QLatin1String(kPasswordFile), QLatin1String(kGroup),
                                    QLatin1String(kMac)};
    QList<Entry> read;
    QHash<QString, QString> ports; // the port's key: the projector that has it
    for (const QString &section : layout.sections) {
        const int sectionLine = layout.sectionLines.value(section);
        const QHash<QString, int> keyLines = layout.keyLines.value(section);
        const auto lineOf = [&](const QString &key) {
            return key.isEmpty() ? sectionLine : keyLines.value(key, sectionLine);
        };
        if (!mqtttopics::isValidId(section)) {
            Entry named;
            named.id = section;
            return refuse(sectionLine, entryProblem(named));
        }
        settings.beginGroup(section);
        Entry entry;
        entry.id = section;
        for (const QString &key : settings.childKeys())
            if (!known.contains(key))
                return refuse(lineOf(key),
                              QStringLiteral("'%1' is not a key of a projector "
                                             "(port, protocol, password-file, "
                                             "group, mac)")
                                  .arg(key));
        entry.port = textOf(settings.value(QLatin1String(kPort)));
        entry.protocol = textOf(settings.value(QLatin1String(kProtocol)));
        entry.passwordFile = textOf(settings.value(QLatin1String(kPasswordFile)));
        entry.groups = groupsOf(textOf(settings.value(QLatin1String(kGroup))));
        const QString mac = textOf(settings.value(QLatin1String(kMac)));
        settings.endGroup();
        if (!mac.isEmpty()) {
            entry.mac = normalMac(mac);
            if (entry.mac.isEmpty())
                return refuse(
                    lineOf(QLatin1String(kMac)),
                    QStringLiteral("'%1' is no MAC address (aa:bb:cc:dd:ee:ff)").arg(mac));
        }
        QString key;
        const QString wrong = entryProblem(entry, &key);
        if (!wrong.isEmpty())
            return refuse(lineOf(key), wrong);
        const QString portKey = PortOpener::keyOf(entry.port);
        if (ports.contains(portKey)) {
            const QString other = ports.value(portKey);
            return refuse(lineOf(QLatin1String(kPort)),
                          QStringLiteral("port %1 is projector '%2''s already (line %3)")
                              .arg(entry.port, other)
                              .arg(layout.keyLines.value(other).value(QLatin1String(kPort))));
        }
        ports.insert(portKey, entry.id);
        read.append(entry);
    }
    *entries = read;
    return true;
}
