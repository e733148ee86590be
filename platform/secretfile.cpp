#include "platform/secretfile.h"

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
constexpr qint64 kMaxSecretFile = 4096; // bytes: far more than any password's line

#ifdef Q_OS_UNIX
QString systemError(const QString &path, int error)
{
    return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

// The file's first kMaxSecretFile + 1 bytes. Opened without blocking, so that a FIFO
// with no writer cannot hold the open, and refused unless it is a regular file, so that
// a FIFO or a device cannot hold a read.
std::optional<QByteArray> readRegularFile(const QString &path, QString *problem, QString *warning)
{
    const QByteArray name = QFile::encodeName(path);
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
    QByteArray content(kMaxSecretFile + 1, Qt::Uninitialized);
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
std::optional<QByteArray> readRegularFile(const QString &path, QString *problem, QString *)
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
    return file.read(kMaxSecretFile + 1);
}
#endif
} // namespace

std::optional<QByteArray> readSecretFile(const QString &path, QString *problem, QString *warning)
{
    const std::optional<QByteArray> content = readRegularFile(path, problem, warning);
    if (!content)
        return std::nullopt;
    if (content->size() > kMaxSecretFile) {
        *problem = path + QStringLiteral(": longer than a password");
        return std::nullopt;
    }
    const qsizetype end = content->indexOf('\n');
    const QByteArray secret = withoutLineEnd(end < 0 ? *content : content->left(end + 1));
    if (secret.isEmpty()) {
        *problem = path + QStringLiteral(": no password in it");
        return std::nullopt;
    }
    return secret;
}

QByteArray withoutLineEnd(QByteArray secret)
{
    if (secret.endsWith('\n'))
        secret.chop(1);
    if (secret.endsWith('\r'))
        secret.chop(1);
    return secret;
}
