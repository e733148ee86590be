#include "session/commandsets.h"

#include "link/commandsetreader.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStandardPaths>

namespace {
QString nameOf(const QString &path)
{
    const QString file = QFileInfo(path).fileName();
    const QLatin1String suffix(CommandSets::kSuffix);
    return file.endsWith(suffix) ? file.chopped(suffix.size()) : file;
}
} // namespace

QStringList CommandSets::folders()
{
    QStringList found {QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                       + QLatin1Char('/') + QLatin1String(kFolderName)};
    for (const QString &folder :
         QStandardPaths::locateAll(QStandardPaths::AppDataLocation, QLatin1String(kFolderName),
                                   QStandardPaths::LocateDirectory))
        if (!found.contains(QDir::cleanPath(folder)))
            found.append(QDir::cleanPath(folder));
    return found;
}

QList<CommandSets::Entry> CommandSets::available(QStringList *refusals)
{
    QList<Entry> entries;
    QSet<QString> names;
    const QStringList everyFolder = QStringList {QLatin1String(kShippedFolder)} + folders();
    for (const QString &folder : everyFolder) {
        const QStringList files = QDir(folder).entryList(
            {QLatin1Char('*') + QLatin1String(kSuffix)}, QDir::Files | QDir::Readable, QDir::Name);
        for (const QString &file : files) {
            const QString path = folder + QLatin1Char('/') + file;
            Entry entry {nameOf(path), path, {}};
            if (names.contains(entry.name))
                continue;
            CommandSetReader::Refusal refusal;
            if (!CommandSetReader::readFile(path, &entry.set, &refusal)) {
                if (refusals)
                    refusals->append(refusal.text());
                continue;
            }
            names.insert(entry.name);
            entries.append(entry);
        }
    }
    return entries;
}

bool CommandSets::lookUp(const QString &nameOrFile, Entry *found, QString *refusal)
{
    if (nameOrFile.contains(QLatin1Char('/')) || nameOrFile.endsWith(QLatin1String(kSuffix))) {
        Entry entry {nameOf(nameOrFile), nameOrFile, {}};
        CommandSetReader::Refusal refused;
        if (!CommandSetReader::readFile(nameOrFile, &entry.set, &refused)) {
            *refusal = refused.text();
            return false;
        }
        *found = entry;
        return true;
    }
    QStringList names;
    const QList<Entry> entries = available();
    for (const Entry &entry : entries) {
        if (entry.name == nameOrFile) {
            *found = entry;
            return true;
        }
        names.append(entry.name);
    }
    *refusal = QStringLiteral("unknown protocol '%1'; the protocols are: %2")
                   .arg(nameOrFile, names.join(QStringLiteral(", ")));
    return false;
}

bool CommandSets::isBuiltIn(const Entry &entry)
{
    return entry.path == QLatin1String(CommandSetReader::builtInPath());
}
