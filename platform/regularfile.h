#ifndef REGULARFILE_H
#define REGULARFILE_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// A file's first maxBytes + 1 bytes (one more than allowed, so that the caller can tell
// a file too long), or nothing with the reason. Opened without blocking and refused unless
// it is a regular file: a FIFO or a device named by mistake (a serial port!) would hold the
// program for ever, or be touched when it should not. With `warning` given, a file that
// other users may read is read with a caution there (for password files).
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes, QString *problem,
                                          QString *warning = nullptr);

#endif // REGULARFILE_H
