// The Windows executable's resources (icon, manifest, version block): compiled with
// x86_64-w64-mingw32-windres into a .res file, which is then read back entry by entry.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtEndian>
#include <QtTest>

namespace {

const quint16 rtIcon = 3;
const quint16 rtGroupIcon = 14;
const quint16 rtVersion = 16;
const quint16 rtManifest = 24;
const quint16 swedish = 0x041D;
const quint16 englishUS = 0x0409;

quint32 le32(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

quint16 le16(const QByteArray &data, qsizetype at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

qsizetype align4(qsizetype at)
{
    return (at + 3) & ~qsizetype(3);
}

// Zero-terminated UTF-16LE text starting at `at`; `end` receives the offset past the zero.
QString utf16At(const QByteArray &data, qsizetype at, qsizetype *end = nullptr)
{
    QString text;
    while (at + 1 < data.size()) {
        const quint16 unit = le16(data, at);
        at += 2;
        if (unit == 0)
            break;
        text.append(QChar(unit));
    }
    if (end)
        *end = at;
    return text;
}

struct ResourceEntry
{
    quint16 type = 0; // 0 when the type is a string
    QString typeName;
    quint16 id = 0; // 0 when the name is a string
    QString name;
    quint16 language = 0;
    QByteArray data;
};

// A TYPE or NAME field: 0xFFFF followed by a number, or a zero-terminated string.
bool readNameOrId(const QByteArray &res, qsizetype *at, quint16 *id, QString *name)
{
    if (*at + 4 > res.size())
        return false;
    if (le16(res, *at) == 0xFFFF) {
        *id = le16(res, *at + 2);
        *at += 4;
    } else {
        *name = utf16At(res, *at, at);
    }
    return true;
}

QList<ResourceEntry> parseRes(const QByteArray &res, QString *error)
{
    QList<ResourceEntry> entries;
    qsizetype at = 0;
    while (at < res.size()) {
        if (at + 32 > res.size()) {
            *error = QStringLiteral("truncated header at %1").arg(at);
            return {};
        }
        const quint32 dataSize = le32(res, at);
        const quint32 headerSize = le32(res, at + 4);
        ResourceEntry entry;
        qsizetype field = at + 8;
        if (!readNameOrId(res, &field, &entry.type, &entry.typeName)
            || !readNameOrId(res, &field, &entry.id, &entry.name)) {
            *error = QStringLiteral("bad type or name at %1").arg(at);
            return {};
        }
        field = align4(field);
        // DataVersion (4), MemoryFlags (2), LanguageId (2), Version (4), Characteristics (4)
        if (field + 16 != at + qsizetype(headerSize)
            || at + qsizetype(headerSize) + qsizetype(dataSize) > res.size()) {
            *error = QStringLiteral("inconsistent sizes in the header at %1").arg(at);
            return {};
        }
        entry.language = le16(res, field + 6);
        entry.data = res.mid(at + headerSize, dataSize);
        // A .res file starts with an empty entry that only marks the format.
        if (!(entry.type == 0 && entry.typeName.isEmpty() && dataSize == 0))
            entries.append(entry);
        at = align4(at + headerSize + dataSize);
    }
    return entries;
}

// One node of a VS_VERSIONINFO tree: wLength, wValueLength, wType, szKey, Value, Children.
struct VersionNode
{
    QString key;
    QByteArray value;
    bool text = false;
    QList<VersionNode> children;

    const VersionNode *child(const QString &name) const
    {
        for (const VersionNode &node : children)
            if (node.key == name)
                return &node;
        return nullptr;
    }
};

bool parseVersionNode(const QByteArray &data, qsizetype at, VersionNode *node)
{
    if (at + 6 > data.size())
        return false;
    const quint16 length = le16(data, at);
    const quint16 valueLength = le16(data, at + 2);
    node->text = le16(data, at + 4) == 1;
    const qsizetype end = at + length;
    if (length < 6 || end > data.size())
        return false;
    qsizetype pos = 0;
    node->key = utf16At(data, at + 6, &pos);
    pos = align4(pos);
    // Text values count UTF-16 units, binary ones bytes.
    const qsizetype valueBytes = node->text ? 2 * qsizetype(valueLength) : valueLength;
    if (pos + valueBytes > end)
        return false;
    node->value = data.mid(pos, valueBytes);
    pos = align4(pos + valueBytes);
    while (pos < end) {
        VersionNode childNode;
        if (!parseVersionNode(data, pos, &childNode))
            return false;
        const quint16 childLength = le16(data, pos);
        node->children.append(childNode);
        pos = align4(pos + childLength);
    }
    return true;
}

} // namespace

class tst_WinResources : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void resourceList_data();
    void resourceList();
    void noOtherResources();
    void icon_data();
    void icon();
    void manifest();
    void fixedFileInfo();
    void versionStrings_data();
    void versionStrings();

private:
    const ResourceEntry *find(quint16 type, quint16 id) const;

    QTemporaryDir workDir;
    QList<ResourceEntry> entries;
    VersionNode version;
};

const ResourceEntry *tst_WinResources::find(quint16 type, quint16 id) const
{
    for (const ResourceEntry &entry : entries)
        if (entry.type == type && entry.id == id && entry.typeName.isEmpty()
            && entry.name.isEmpty())
            return &entry;
    return nullptr;
}

void tst_WinResources::initTestCase()
{
    const QString windres = QStandardPaths::findExecutable("x86_64-w64-mingw32-windres");
    if (windres.isEmpty())
        QFAIL("x86_64-w64-mingw32-windres not found in PATH (Debian package "
              "binutils-mingw-w64-x86-64); it is needed to compile Resources/lumivox.rc");
    QVERIFY(workDir.isValid());

    const QString resources = QStringLiteral(LUMIVOX_SOURCE_DIR "/Resources");
    const QString output = workDir.filePath("lumivox.res");
    const QString rc = resources + "/lumivox.rc";
    QStringList arguments {
        "--input-format=rc", "-i", rc, "-O", "res", "-o", output, "-I", resources};
    // windres preprocesses with the cross compiler; without one the host's C preprocessor
    // does the same job, as the file includes no Windows headers.
    if (QStandardPaths::findExecutable("x86_64-w64-mingw32-gcc").isEmpty()) {
        const QString cpp = QStandardPaths::findExecutable("cpp");
        if (cpp.isEmpty())
            QFAIL("neither x86_64-w64-mingw32-gcc nor cpp found to preprocess lumivox.rc");
        arguments.prepend("--preprocessor=" + cpp);
    }

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(windres, arguments);
    QVERIFY2(process.waitForFinished(60000), "windres did not finish");
    const QByteArray messages = process.readAll();
    QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
             messages.constData());

    QFile file(output);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QString error;
    entries = parseRes(file.readAll(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const ResourceEntry *versionEntry = find(rtVersion, 1);
    QVERIFY2(versionEntry, "no version resource 1");
    QVERIFY2(parseVersionNode(versionEntry->data, 0, &version), "malformed version resource");
}

void tst_WinResources::resourceList_data()
{
    QTest::addColumn<quint16>("type");
    QTest::addColumn<quint16>("id");
    QTest::addColumn<quint16>("language");

    QTest::newRow("icon group") << rtGroupIcon << quint16(102) << swedish;
    QTest::newRow("manifest") << rtManifest << quint16(1) << englishUS;
    QTest::newRow("version") << rtVersion << quint16(1) << swedish;
}

void tst_WinResources::resourceList()
{
    QFETCH(quint16, type);
    QFETCH(quint16, id);
    QFETCH(quint16, language);

    const ResourceEntry *entry = find(type, id);
    QVERIFY2(entry, qPrintable(QStringLiteral("no resource %1 of type %2").arg(id).arg(type)));
    QCOMPARE(QString::number(entry->language, 16), QString::number(language, 16));
}

void tst_WinResources::noOtherResources()
{
    // The group icon, its two images, the manifest and the version block.
    QStringList found;
    for (const ResourceEntry &entry : entries)
        found.append(QStringLiteral("%1/%2").arg(entry.type).arg(entry.id));
    found.sort();
    QCOMPARE(found, (QStringList {"14/102", "16/1", "24/1", "3/1", "3/2"}));
}

void tst_WinResources::icon_data()
{
    QTest::addColumn<int>("size");

    QTest::newRow("16x16") << 16;
    QTest::newRow("32x32") << 32;
}

void tst_WinResources::icon()
{
    QFETCH(int, size);

    const ResourceEntry *group = find(rtGroupIcon, 102);
    QVERIFY(group);
    const QByteArray &dir = group->data;
    QVERIFY(dir.size() >= 6);
    QCOMPARE(le16(dir, 0), quint16(0));
    QCOMPARE(le16(dir, 2), quint16(1)); // icons, not cursors
    const int count = le16(dir, 4);
    QCOMPARE(count, 2);
    QCOMPARE(dir.size(), 6 + 14 * count);

    // GRPICONDIRENTRY: width, height, colours, reserved, planes, bit count, bytes, id
    qsizetype at = -1;
    for (int i = 0; i < count; ++i)
        if (quint8(dir[6 + 14 * i]) == size)
            at = 6 + 14 * i;
    QVERIFY2(at >= 0, "no entry of this size in the icon group");
    QCOMPARE(int(quint8(dir[at + 1])), size);
    QCOMPARE(int(quint8(dir[at + 2])), 16);
    QCOMPARE(le16(dir, at + 6), quint16(4));
    const quint32 bytes = le32(dir, at + 8);
    const quint16 imageId = le16(dir, at + 12);

    const ResourceEntry *image = find(rtIcon, imageId);
    QVERIFY2(image, "the icon group names an image that is not there");
    QCOMPARE(QString::number(image->language, 16), QString::number(swedish, 16));
    const QByteArray &bits = image->data;
    QCOMPARE(quint32(bits.size()), bytes);
    QVERIFY(bits.size() >= 40);
    QCOMPARE(le32(bits, 0), 40u);
    QCOMPARE(int(le32(bits, 4)), size);
    QCOMPARE(int(le32(bits, 8)), 2 * size); // colour bitmap plus the mask below it
    QCOMPARE(le16(bits, 12), quint16(1));
    QCOMPARE(le16(bits, 14), quint16(4));
    QCOMPARE(le32(bits, 16), 0u);

    const int xorStride = (size * 4 + 31) / 32 * 4;
    const int andStride = (size + 31) / 32 * 4;
    const int xorStart = 40 + 16 * 4;
    const int andStart = xorStart + xorStride * size;
    QCOMPARE(bits.size(), andStart + andStride * size);

    // Rows are stored bottom-up; a set mask bit means transparent.
    const auto transparent = [&](int x, int y) {
        const quint8 byte = quint8(bits[andStart + (size - 1 - y) * andStride + x / 8]);
        return (byte & (0x80 >> (x % 8))) != 0;
    };
    QVERIFY2(transparent(0, 0), "the corner should be transparent");
    QVERIFY2(!transparent(size / 2, size / 2), "the middle should be opaque");

    int opaque = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            opaque += transparent(x, y) ? 0 : 1;
    // The projector's body fills about half of the square.
    QVERIFY2(opaque > size * size / 3, qPrintable(QString::number(opaque) + " opaque pixels"));
}

void tst_WinResources::manifest()
{
    const ResourceEntry *entry = find(rtManifest, 1);
    QVERIFY(entry);

    QFile committed(QStringLiteral(LUMIVOX_SOURCE_DIR "/Resources/lumivox.manifest"));
    QVERIFY(committed.open(QIODevice::ReadOnly));
    QCOMPARE(entry->data, committed.readAll());

    QXmlStreamReader xml(entry->data);
    QString level;
    QString uiAccess;
    QStringList assemblies;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("requestedExecutionLevel")) {
            level = xml.attributes().value("level").toString();
            uiAccess = xml.attributes().value("uiAccess").toString();
        } else if (xml.name() == QLatin1String("assemblyIdentity")) {
            assemblies.append(xml.attributes().value("name").toString());
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(level, QStringLiteral("asInvoker"));
    QCOMPARE(uiAccess, QStringLiteral("false"));
    // The program links its C runtime normally; a side-by-side runtime would fail to load.
    for (const QString &name : assemblies)
        QVERIFY2(!name.startsWith("Microsoft.VC", Qt::CaseInsensitive), qPrintable(name));
    QVERIFY(!entry->data.contains("Microsoft.VC"));
}

void tst_WinResources::fixedFileInfo()
{
    QCOMPARE(version.key, QStringLiteral("VS_VERSION_INFO"));
    const QByteArray &fixed = version.value;
    QCOMPARE(fixed.size(), 52);
    QCOMPARE(le32(fixed, 0), 0xFEEF04BDu);
    QCOMPARE(le32(fixed, 8), 0x00010002u); // file version 1.2
    QCOMPARE(le32(fixed, 12), 0u); // .0.0
    QCOMPARE(le32(fixed, 16), 0x00010002u); // product version 1.2
    QCOMPARE(le32(fixed, 20), 0u);
    QCOMPARE(le32(fixed, 28), 0u); // no flags: not a debug, pre-release or patched build
    QCOMPARE(le32(fixed, 32), 0x4u); // VOS__WINDOWS32
    QCOMPARE(le32(fixed, 36), 0x1u); // VFT_APP

    const VersionNode *vars = version.child("VarFileInfo");
    QVERIFY(vars);
    const VersionNode *translation = vars->child("Translation");
    QVERIFY(translation);
    QCOMPARE(translation->value.size(), 4);
    QCOMPARE(le16(translation->value, 0), swedish);
    QCOMPARE(le16(translation->value, 2), quint16(1200)); // UTF-16
}

void tst_WinResources::versionStrings_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("exact");

    QTest::newRow("FileVersion") << "FileVersion"
                                 << "1, 2, 0, 0" << true;
    QTest::newRow("ProductVersion") << "ProductVersion"
                                    << "1, 2, 0, 0" << true;
    QTest::newRow("InternalName") << "InternalName"
                                  << "Lumivox" << true;
    QTest::newRow("OriginalFilename") << "OriginalFilename"
                                      << "Lumivox.exe" << true;
    QTest::newRow("ProductName") << "ProductName"
                                 << "Lumivox" << true;
    QTest::newRow("FileDescription") << "FileDescription"
                                     << "Lumivox" << false;
    QTest::newRow("LegalCopyright") << "LegalCopyright"
                                    << "the Lumivox developers" << false;
}

void tst_WinResources::versionStrings()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, exact);

    const VersionNode *strings = version.child("StringFileInfo");
    QVERIFY(strings);
    // The block's name has to match the Translation entry, or Windows finds no strings.
    const VersionNode *table = strings->child("041D04B0");
    QVERIFY2(table, "no string table 041D04B0");
    const VersionNode *entry = table->child(key);
    QVERIFY2(entry, qPrintable("no " + key));
    QVERIFY(entry->text);
    const QString text = utf16At(entry->value, 0);
    if (exact)
        QCOMPARE(text, value);
    else
        QVERIFY2(text.contains(value), qPrintable(text));
}

QTEST_GUILESS_MAIN(tst_WinResources)
#include "tst_winresources.moc"
