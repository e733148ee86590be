#include "platform/regularfile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {
#ifdef Q_OS_UNIX
QString systemError(const QString &path, int error)
{
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}
#endif
} // namespace

#ifdef Q_OS_UNIX
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes, QString *problem,
                                          QString *warning)
{
    const QByteArray name = QFile::encodeName(path);
    // Looked at before it is opened: opening a device is already touching it.
    struct stat named
    {
    };
    if (::stat(name.constData(), &named) == 0 && !S_ISREG(named.st_mode)) {
        *problem = path + QStringLiteral(": not a regular file");
        return std::nullopt;
    }
    int fd = -1;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        *problem = systemError(path, errno);
        return std::nullopt;
    }
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        *problem = systemError(path, errno);
        ::close(fd);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        *problem = path + QStringLiteral(": not a regular file");
        ::close(fd);
        return std::nullopt;
    }
    if (warning && (info.st_mode & (S_IRGRP | S_IROTH)) != 0)
        *warning = path
            + QStringLiteral(": other users of this machine may read this password file; "
                             "make it readable by its owner alone (chmod 600)");
    QByteArray content(maxBytes + 1, Qt::Uninitialized);
    qsizetype filled = 0;
    while (filled < content.size()) {
        const ssize_t count = ::read(fd, content.data() + filled, size_t(content.size() - filled));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            *problem = systemError(path, errno);
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0)
            break;
        filled += count;
    }
    ::close(fd);
    content.truncate(filled);
    return content;
}
#else
std::optional<QByteArray> readRegularFile(const QString &path, qint64 maxBytes, QString *problem,
                                          QString *)
{
    if (QFileInfo::exists(path) && !QFileInfo(path).isFile()) {
        *problem = path + QStringLiteral(": not a regular file");
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = path + QStringLiteral(": ") + file.errorString();
        return std::nullopt;
    }
    return file.read(maxBytes + 1);
}
#endif
