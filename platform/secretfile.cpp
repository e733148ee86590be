#include "platform/secretfile.h"

#include "platform/regularfile.h"

namespace {
constexpr qint64 kMaxSecretFile = 4096; // bytes: far more than any password's line
} // namespace

std::optional<QByteArray> readSecretFile(const QString &path, QString *problem, QString *warning)
{
    const std::optional<QByteArray> content
        = readRegularFile(path, kMaxSecretFile, problem, warning);
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
