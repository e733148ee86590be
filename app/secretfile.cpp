#include "secretfile.h"

#include <QFile>

namespace {
constexpr qint64 kMaxSecretFile = 4096; // bytes: far more than any password's line
} // namespace

std::optional<QByteArray> readSecretFile(const QString &path, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = path + QStringLiteral(": ") + file.errorString();
        return std::nullopt;
    }
    const QByteArray content = file.read(kMaxSecretFile + 1);
    if (content.size() > kMaxSecretFile) {
        *problem = path + QStringLiteral(": longer than a password");
        return std::nullopt;
    }
    QByteArray secret = content.left(content.indexOf('\n'));
    if (secret.endsWith('\r'))
        secret.chop(1);
    if (secret.isEmpty()) {
        *problem = path + QStringLiteral(": no password in it");
        return std::nullopt;
    }
    return secret;
}
