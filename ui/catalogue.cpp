#include "ui/catalogue.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <vector>

// The layout, as lrelease writes it and the translator of Qt 6.4 reads it: a 16-byte magic
// number, then sections of a tag byte, a 32-bit big-endian length and that many bytes.
// The hash table is a sorted list of (32-bit hash, 32-bit offset into the messages);
// a message record is a list of fields (a tag byte, most with a 32-bit length and that
// many bytes) closed by an end tag. The context table is a 16-bit bucket count, the
// buckets' 16-bit offsets, and chains of length-prefixed names closed by a zero length.

namespace {
constexpr uchar kMagic[] = {0x3c, 0xb8, 0x64, 0x18, 0xca, 0xef, 0x9c, 0x95,
                            0xcd, 0x21, 0x1c, 0xbf, 0x60, 0xa1, 0xbd, 0xdd};
constexpr qsizetype kMagicLength = sizeof kMagic;
constexpr qsizetype kSectionHeader = 5; // tag and 32-bit length
constexpr qsizetype kLengthSize = 4;
constexpr qsizetype kHashEntry = 8; // 32-bit hash and 32-bit offset
constexpr qsizetype kBucketSize = 2;
// A translation of this length is a null string (lrelease writes it for an empty
// translation): being odd, it makes the translator give up on the record at once.
constexpr quint32 kNullLength = 0xffffffff;
// Far beyond a catalogue of this program's few hundred texts; not worth reading.
constexpr qint64 kMaxCatalogueSize = 16 * 1024 * 1024;

enum Section : uchar {
    Contexts = 0x2f,
    Hashes = 0x42,
    Messages = 0x69,
    NumerusRules = 0x88,
    Dependencies = 0x96,
    Language = 0xa7,
};

// The fields the translator understands; it stops at any other tag.
enum Field : uchar {
    End = 1,
    Translation = 3,
    Obsolete = 5, // a 32-bit value, skipped
    SourceText = 6,
    Context = 7,
    Comment = 8,
};

// Plural rules: an operator byte with one or two operands, joined by and, or, next rule.
constexpr uchar kOperatorMask = 0x07;
constexpr uchar kInvalidBit = 0x80;
constexpr uchar kEqual = 0x01;
constexpr uchar kLess = 0x02;
constexpr uchar kLessOrEqual = 0x03;
constexpr uchar kBetween = 0x04;
constexpr uchar kAnd = 0xfd;
constexpr uchar kOr = 0xfe;
constexpr uchar kNextRule = 0xff;

struct Block
{
    const uchar *data = nullptr;
    quint32 size = 0;
    bool present = false;
};

quint32 read32(const uchar *at)
{
    return qFromBigEndian<quint32>(at);
}

quint16 read16(const uchar *at)
{
    return qFromBigEndian<quint16>(at);
}

QString hex(qsizetype value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

// Walks the message records one after the other; each must close inside the block.
QString checkMessages(const Block &messages, std::vector<quint32> *recordStarts)
{
    const uchar *data = messages.data;
    const quint32 size = messages.size;
    quint32 at = 0;
    while (at < size) {
        const quint32 record = at;
        recordStarts->push_back(record);
        for (;;) {
            if (at >= size)
                return QStringLiteral("message record at %1 has no end").arg(hex(record));
            const uchar tag = data[at++];
            if (tag == End)
                break;
            if (tag != Translation && tag != Obsolete && tag != SourceText && tag != Context
                && tag != Comment)
                return QStringLiteral("unknown field %1 in the message record at %2")
                    .arg(hex(tag), hex(record));
            if (size - at < kLengthSize)
                return QStringLiteral("field at %1 cut off").arg(hex(at - 1));
            const quint32 length = read32(data + at);
            at += kLengthSize;
            if (tag == Obsolete || (tag == Translation && length == kNullLength))
                continue;
            if (length > size - at)
                return QStringLiteral("field at %1 claims %2 bytes, %3 are left in the messages")
                    .arg(hex(at - kLengthSize - 1))
                    .arg(length)
                    .arg(size - at);
            if (tag == Translation && length % 2 != 0)
                return QStringLiteral("translation at %1 is not UTF-16 (odd length)")
                    .arg(hex(at - kLengthSize - 1));
            at += length;
        }
    }
    return {};
}

QString checkHashes(const Block &hashes, const std::vector<quint32> &recordStarts)
{
    if (hashes.size % kHashEntry != 0)
        return QStringLiteral("hash table of %1 bytes is no whole number of entries")
            .arg(hashes.size);
    quint32 previous = 0;
    for (quint32 at = 0; at < hashes.size; at += kHashEntry) {
        const quint32 hash = read32(hashes.data + at);
        const quint32 offset = read32(hashes.data + at + kLengthSize);
        if (hash < previous)
            return QStringLiteral("hash table out of order at entry %1").arg(at / kHashEntry);
        previous = hash;
        if (!std::binary_search(recordStarts.begin(), recordStarts.end(), offset))
            return QStringLiteral("hash table entry %1 points at %2, not at a message record")
                .arg(at / kHashEntry)
                .arg(hex(offset));
    }
    return {};
}

QString checkContexts(const Block &contexts)
{
    const uchar *data = contexts.data;
    const qsizetype size = contexts.size;
    if (size < kBucketSize)
        return QStringLiteral("context table cut off");
    const quint16 buckets = read16(data);
    // The translator divides by the bucket count.
    if (buckets == 0)
        return QStringLiteral("context table without buckets");
    const qsizetype names = kBucketSize + qsizetype(buckets) * kBucketSize;
    if (names > size)
        return QStringLiteral("context table's %1 buckets run past its end").arg(buckets);
    for (quint16 bucket = 0; bucket < buckets; ++bucket) {
        const quint16 offset = read16(data + kBucketSize + qsizetype(bucket) * kBucketSize);
        if (offset == 0)
            continue;
        qsizetype at = names + qsizetype(offset) * kBucketSize;
        for (;;) {
            if (at >= size)
                return QStringLiteral("context bucket %1 runs past the table").arg(bucket);
            const uchar length = data[at++];
            if (length == 0)
                break;
            if (length > size - at)
                return QStringLiteral("context name in bucket %1 runs past the table").arg(bucket);
            at += length;
        }
    }
    return {};
}

// The translator's own test of plural rules, which it applies at loading as well.
QString checkNumerusRules(const Block &rules)
{
    const uchar *data = rules.data;
    const quint32 size = rules.size;
    if (size == 0)
        return {};
    const QString bad = QStringLiteral("malformed plural rules");
    quint32 at = 0;
    for (;;) {
        const uchar code = data[at];
        if (code & kInvalidBit)
            return bad;
        if (++at == size)
            return bad; // no operand
        ++at;
        switch (code & kOperatorMask) {
        case kEqual:
        case kLess:
        case kLessOrEqual:
            break;
        case kBetween:
            if (at == size)
                return bad; // no second operand
            ++at;
            break;
        default:
            return bad;
        }
        if (at == size)
            return {};
        const uchar join = data[at];
        if ((join != kAnd && join != kOr && join != kNextRule) || ++at == size)
            return bad;
    }
}
} // namespace

QString catalogueDefect(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    if (size < kMagicLength || std::memcmp(data, kMagic, kMagicLength) != 0)
        return QStringLiteral("no compiled catalogue (magic number missing)");

    Block contexts, hashes, messages, numerusRules;
    bool language = false;
    qsizetype at = kMagicLength;
    while (at < size) {
        if (size - at < kSectionHeader)
            return QStringLiteral("section header at %1 cut off").arg(hex(at));
        const uchar tag = data[at];
        const quint32 length = read32(data + at + 1);
        at += kSectionHeader;
        if (length > size - at)
            return QStringLiteral("section %1 at %2 claims %3 bytes, %4 are left in the file")
                .arg(hex(tag), hex(at - kSectionHeader))
                .arg(length)
                .arg(size - at);
        Block *block = nullptr;
        switch (tag) {
        case Contexts:
            block = &contexts;
            break;
        case Hashes:
            block = &hashes;
            break;
        case Messages:
            block = &messages;
            break;
        case NumerusRules:
            block = &numerusRules;
            break;
        case Language:
            if (language)
                return QStringLiteral("two language sections");
            language = true; // any bytes make a language name
            break;
        case Dependencies:
            return QStringLiteral("the catalogue names other catalogues");
        default:
            return QStringLiteral("unknown section %1 at %2")
                .arg(hex(tag), hex(at - kSectionHeader));
        }
        if (block) {
            if (block->present)
                return QStringLiteral("two sections %1").arg(hex(tag));
            *block = Block {data + at, length, true};
        }
        at += length;
    }

    std::vector<quint32> recordStarts;
    QString defect = checkMessages(messages, &recordStarts);
    if (defect.isEmpty())
        defect = checkHashes(hashes, recordStarts);
    if (defect.isEmpty() && contexts.present)
        defect = checkContexts(contexts);
    if (defect.isEmpty())
        defect = checkNumerusRules(numerusRules);
    return defect;
}

QByteArray readCatalogue(const QString &fileName, QString *defect)
{
    defect->clear();
    const QFileInfo info(fileName);
    if (!info.exists())
        return {};
    if (!info.isFile()) {
        *defect = QStringLiteral("not a file");
        return {};
    }
    const QString tooLarge = QStringLiteral("larger than %1 bytes").arg(kMaxCatalogueSize);
    if (info.size() > kMaxCatalogueSize) {
        *defect = tooLarge;
        return {};
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *defect = file.errorString();
        return {};
    }
    QByteArray bytes = file.readAll();
    if (bytes.size() > kMaxCatalogueSize) { // it grew meanwhile
        *defect = tooLarge;
        return {};
    }
    *defect = catalogueDefect(bytes);
    if (!defect->isEmpty())
        return {};
    return bytes;
}
