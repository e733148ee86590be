#ifndef SECRETFILE_H
#define SECRETFILE_H

#include <QByteArray>
#include <QString>

#include <optional>

// A password from a file: its first line, without the line end. Passwords come from here
// or from the environment, never from an argument, which every user of the machine can
// read. Nothing, with the reason, for a file that cannot be read, is longer than any
// password, or holds none.
std::optional<QByteArray> readSecretFile(const QString &path, QString *problem);

#endif // SECRETFILE_H
