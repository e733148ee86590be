#ifndef COMMANDSETS_H
#define COMMANDSETS_H

#include "link/commandset.h"

#include <QList>
#include <QString>
#include <QStringList>

// Where command sets come from: those shipped in the program, the user's folder of
// them and the system's. A set is known by its file's name without ".ini" ("builtin");
// where two folders have one of the same name, the first of that order wins, so that
// the program's own are always what their names say.
class CommandSets
{
public:
    struct Entry
    {
        QString name; // the file's name without ".ini"
        QString path;
        CommandSet set;
    };

    static constexpr char kShippedFolder[] = ":/lumivox/sets";
    static constexpr char kFolderName[] = "sets";
    static constexpr char kSuffix[] = ".ini";

    // The user's folder first, then the system's.
    static QStringList folders();
    // Every set that reads, in the order above and by name within a folder; the files
    // refused, as "file:line: reason", in `refusals`.
    static QList<Entry> available(QStringList *refusals = nullptr);
    // The set a name or a file leads to: a name holding '/' or ending ".ini" is a file,
    // anything else a set's name. False and why (the reader's "file:line: reason", or
    // the names there are) when there is none.
    static bool lookUp(const QString &nameOrFile, Entry *found, QString *refusal);
    // Whether the entry is the program's own protocol.
    static bool isBuiltIn(const Entry &entry);
};

#endif // COMMANDSETS_H
