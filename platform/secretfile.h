#ifndef SECRETFILE_H
#define SECRETFILE_H

#include <QByteArray>
#include <QString>

#include <optional>

// A password from a file: its first line, without the line end. Passwords come from here
// or from the environment, never from an argument, which every user of the machine can
// read. Nothing, with the reason, for a file that cannot be read, is not a regular file
// (a FIFO or a device would hold the program for ever), is longer than any password, or
// holds none. A file that other users of the machine may read is read, with a caution in
// `warning` (it never holds the password).
std::optional<QByteArray> readSecretFile(const QString &path, QString *problem,
                                         QString *warning = nullptr);

// A secret without the line end after it: CR, LF, or CR LF, as a file's first line loses
// it. A variable set from a file keeps one.
QByteArray withoutLineEnd(QByteArray secret);

#endif // SECRETFILE_H
