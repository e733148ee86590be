#include "translation.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QtEndian>

namespace testsupport {

namespace {
constexpr int kLreleaseTimeout = 30000; // ms; a handful of messages compile in well under that
constexpr qsizetype kMagicLength = 16;
constexpr qsizetype kSectionHeader = 5; // tag and 32-bit length
constexpr qsizetype kHashEntry = 8; // 32-bit hash and 32-bit offset
constexpr quint32 kFarAway = 0x7ffffff0;
constexpr char kSourceTextTag = 0x06; // a field of a message record
constexpr qsizetype kFieldHeader = 5; // tag and 32-bit length
} // namespace

qsizetype catalogueSection(const QByteArray &catalogue, unsigned char tag, quint32 *length)
{
    qsizetype at = kMagicLength;
    while (at + kSectionHeader <= catalogue.size()) {
        const quint32 size = qFromBigEndian<quint32>(catalogue.constData() + at + 1);
        if (static_cast<unsigned char>(catalogue.at(at)) == tag) {
            if (length)
                *length = size;
            return at + kSectionHeader;
        }
        at += kSectionHeader + qsizetype(size);
    }
    return -1;
}

QByteArray withSourceTextsPastTheEnd(const QByteArray &catalogue, const QList<QByteArray> &sources)
{
    QByteArray damaged = catalogue;
    for (const QByteArray &source : sources) {
        QByteArray field(kFieldHeader, '\0');
        field[0] = kSourceTextTag;
        qToBigEndian(quint32(source.size()), field.data() + 1);
        const qsizetype at = damaged.indexOf(field + source);
        if (at >= 0)
            qToBigEndian(kFarAway, damaged.data() + at + 1);
    }
    return damaged;
}

QByteArray withHashesPastTheMessages(const QByteArray &catalogue)
{
    QByteArray damaged = catalogue;
    quint32 length = 0;
    const qsizetype hashes = catalogueSection(damaged, catalogueHashesTag, &length);
    for (qsizetype entry = hashes; hashes >= 0 && entry < hashes + qsizetype(length);
         entry += kHashEntry)
        qToBigEndian(kFarAway, damaged.data() + entry + kHashEntry / 2);
    return damaged;
}

bool compileCatalogue(const QString &lrelease, const QString &tsFile, const QString &qmFile,
                      QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!QFileInfo(tsFile).isReadable())
        return fail(QStringLiteral("catalogue source %1 is missing").arg(tsFile));

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(lrelease, {QStringLiteral("-silent"), tsFile, QStringLiteral("-qm"), qmFile});
    if (!process.waitForStarted())
        return fail(QStringLiteral("cannot start %1: %2").arg(lrelease, process.errorString()));
    if (!process.waitForFinished(kLreleaseTimeout))
        return fail(QStringLiteral("%1 did not finish").arg(lrelease));
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return fail(QStringLiteral("%1 failed: %2").arg(lrelease, output));
    // lrelease writes no file for a source it cannot parse, and says so only in its output.
    if (!QFileInfo(qmFile).isFile() || QFileInfo(qmFile).size() == 0)
        return fail(QStringLiteral("%1 wrote no catalogue: %2").arg(lrelease, output));
    return true;
}

} // namespace testsupport
