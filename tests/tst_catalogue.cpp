// The check in front of the translator. Catalogues from lrelease pass and translate;
// damaged ones are refused, whichever part is damaged; and whatever single byte of a
// catalogue is changed, the result is refused or the translator reads it safely.

#include "translation.h"
#include "ui/catalogue.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtEndian>
#include <QtTest>

namespace {

constexpr qsizetype kSectionHeader = 5;
constexpr quint32 kTooLong = 0x7fffffff;
constexpr char kNumerusRulesTag = char(0x88);
constexpr char kUnknownFieldTag = 0x02; // an old form of source text the translator drops
const QByteArray dependencies = QByteArray::fromHex("96000000080000000461626364");
const QByteArray noContextBuckets = QByteArray::fromHex("2f000000020000");
const QByteArray contextChainPastTable = QByteArray::fromHex("2f00000004000100ff");

struct Text
{
    const char *context;
    const char *source;
    const char *comment;
};

// The texts of both test catalogues, and one that is in neither.
const Text texts[] = {
    {"LumivoxClass", "Lumivox V 1.2", ""},
    {"LumivoxClass", "Brightness", ""},
    {"Lumivox", "Failed to initialize Com port 1!\r", ""},
    {"Lumivox", "No Contact", ""},
    {"Lumivox", "Contact", "connection indicator"},
    {"Lumivox", "%n lines", ""},
    {"Lumivox", "About", ""},
    {"Lumivox", "Error!", ""},
    {"SettingsClass", "COM1", ""},
    {"SettingsClass", "Apply", ""},
    {"Nowhere", "Not in any catalogue", ""},
};
constexpr int kCounts[] = {-1, 0, 1, 2, 5, 11, 21, 112};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put32(QByteArray &bytes, qsizetype at, quint32 value)
{
    qToBigEndian(value, bytes.data() + at);
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void soundCataloguesTranslate_data();
    void soundCataloguesTranslate();
    void damagedCataloguesRefused_data();
    void damagedCataloguesRefused();
    void everySingleByteChangeRefusedOrSafe_data();
    void everySingleByteChangeRefusedOrSafe();
    void readsOnlySoundFiles_data();
    void readsOnlySoundFiles();

private:
    QTemporaryDir directory;
    QByteArray testCatalogue; // lrelease's output for tests/fixtures/lumivox_test.ts
    QByteArray variety; // and for tests/fixtures/catalogue_variety.ts
};

void TestCatalogue::initTestCase()
{
    QVERIFY(directory.isValid());
    QString error;
    const QString test = testsupport::buildTestCatalogue(directory.path(), &error);
    QVERIFY2(!test.isEmpty(), qPrintable(error));
    testCatalogue = readAll(test);
    const QString varietyFile = directory.filePath(QStringLiteral("variety.qm"));
    QVERIFY2(testsupport::compileCatalogue(
                 QStringLiteral(LUMIVOX_LRELEASE),
                 QStringLiteral(LUMIVOX_SOURCE_DIR "/tests/fixtures/catalogue_variety.ts"),
                 varietyFile, &error),
             qPrintable(error));
    variety = readAll(varietyFile);
    QVERIFY(!testCatalogue.isEmpty() && !variety.isEmpty());
}

void TestCatalogue::soundCataloguesTranslate_data()
{
    QTest::addColumn<bool>("isVariety");
    QTest::addColumn<QString>("context");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("translation");
    QTest::newRow("form text") << false << "LumivoxClass"
                               << "Lumivox V 1.2" << QString() << -1
                               << "Projektorfernbedienung 1.2";
    QTest::newRow("window message") << false << "Lumivox"
                                    << "No Contact" << QString() << -1 << "Kein Kontakt";
    QTest::newRow("settings form") << false << "SettingsClass"
                                   << "COM1" << QString() << -1 << "COM7";
    QTest::newRow("not in it") << false << "Lumivox"
                               << "Contact" << QString() << -1 << QString();
    QTest::newRow("beyond Latin-1") << true << "Lumivox"
                                    << "No Contact" << QString() << -1 << "Нет связи";
    QTest::newRow("plural, one") << true << "Lumivox"
                                 << "%n lines" << QString() << 1 << "%n строка";
    QTest::newRow("plural, few") << true << "Lumivox"
                                 << "%n lines" << QString() << 3 << "%n строки";
    QTest::newRow("plural, many") << true << "Lumivox"
                                  << "%n lines" << QString() << 11 << "%n строк";
    QTest::newRow("unfinished") << true << "Lumivox"
                                << "About" << QString() << -1 << "О программе";
    QTest::newRow("empty translation") << true << "Lumivox"
                                       << "Error!" << QString() << -1 << QString();
}

void TestCatalogue::soundCataloguesTranslate()
{
    QFETCH(bool, isVariety);
    QFETCH(QString, context);
    QFETCH(QString, source);
    QFETCH(QString, comment);
    QFETCH(int, n);
    QFETCH(QString, translation);
    const QByteArray &catalogue = isVariety ? variety : testCatalogue;

    QCOMPARE(catalogueDefect(catalogue), QString());
    QTranslator translator;
    QVERIFY(translator.load(reinterpret_cast<const uchar *>(catalogue.constData()),
                            int(catalogue.size())));
    QCOMPARE(translator.translate(qPrintable(context), qPrintable(source),
                                  comment.isEmpty() ? nullptr : qPrintable(comment), n),
             translation);
}

void TestCatalogue::damagedCataloguesRefused_data()
{
    QTest::addColumn<QByteArray>("damaged");
    const QByteArray &sound = testCatalogue;
    quint32 hashLength = 0, messageLength = 0;
    const qsizetype hashes
        = testsupport::catalogueSection(sound, testsupport::catalogueHashesTag, &hashLength);
    const qsizetype messages
        = testsupport::catalogueSection(sound, testsupport::catalogueMessagesTag, &messageLength);
    const qsizetype rules = testsupport::catalogueSection(sound, quint8(kNumerusRulesTag));
    QVERIFY(hashes > 0 && messages > 0 && rules > 0 && hashLength >= 2 * 8);
    const auto changed = [&sound](const std::function<void(QByteArray &)> &change) {
        QByteArray bytes = sound;
        change(bytes);
        return bytes;
    };

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("cut in the magic number") << sound.left(8);
    QTest::newRow("cut in the hash table") << sound.left(hashes + 4);
    QTest::newRow("cut in a message") << sound.left(messages + 10);
    QTest::newRow("last byte missing") << sound.chopped(1);
    QTest::newRow("messages longer than the file") << changed(
        [&](QByteArray &b) { put32(b, messages - 4, quint32(b.size() - messages + 1)); });
    QTest::newRow("translation longer than the messages")
        << changed([&](QByteArray &b) { put32(b, messages + 1, kTooLong); });
    QTest::newRow("source text longer than the file")
        << testsupport::withSourceTextsPastTheEnd(sound, {"No Contact"});
    QTest::newRow("hash entries past the messages")
        << testsupport::withHashesPastTheMessages(sound);
    QTest::newRow("hash entry inside a record") << changed([&](QByteArray &b) {
        put32(b, hashes + 4, qFromBigEndian<quint32>(b.constData() + hashes + 4) + 1);
    });
    QTest::newRow("hash table out of order")
        << changed([&](QByteArray &b) { b[hashes] = char(0xff); });
    QTest::newRow("magic number, one byte")
        << changed([](QByteArray &b) { b[3] = char(b[3] ^ 1); });
    QTest::newRow("unknown section tag")
        << changed([&](QByteArray &b) { b[hashes - kSectionHeader] = 0x43; });
    QTest::newRow("unknown field tag")
        << changed([&](QByteArray &b) { b[messages] = kUnknownFieldTag; });
    QTest::newRow("record without end")
        << changed([&](QByteArray &b) { b[messages + qsizetype(messageLength) - 1] = 0x08; });
    QTest::newRow("plural rule with an unknown operator")
        << changed([&](QByteArray &b) { b[rules] = 0x05; });
    QTest::newRow("names another catalogue") << sound + dependencies;
    QTest::newRow("context table without buckets") << sound + noContextBuckets;
    QTest::newRow("context chain past its table") << sound + contextChainPastTable;
}

void TestCatalogue::damagedCataloguesRefused()
{
    QFETCH(QByteArray, damaged);
    const QString defect = catalogueDefect(damaged);
    qInfo("%s", qPrintable(defect));
    QVERIFY(!defect.isEmpty());
}

void TestCatalogue::everySingleByteChangeRefusedOrSafe_data()
{
    QTest::addColumn<bool>("isVariety");
    QTest::newRow("test catalogue") << false;
    QTest::newRow("plurals and more") << true;
}

void TestCatalogue::everySingleByteChangeRefusedOrSafe()
{
    QFETCH(bool, isVariety);
    const QByteArray &sound = isVariety ? variety : testCatalogue;
    int refused = 0, tried = 0;
    for (qsizetype at = 0; at < sound.size(); ++at) {
        const char original = sound.at(at);
        for (const char replacement :
             {char(original ^ 0x01), char(original ^ 0x80), '\0', '\xff'}) {
            if (replacement == original)
                continue;
            QByteArray bytes = sound;
            bytes[at] = replacement;
            ++tried;
            if (!catalogueDefect(bytes).isEmpty()) {
                ++refused;
                continue;
            }
            // Accepted: the translator must take it and find, or not find, every text.
            QTranslator translator;
            QVERIFY2(translator.load(reinterpret_cast<const uchar *>(bytes.constData()),
                                     int(bytes.size())),
                     qPrintable(QStringLiteral("byte %1 changed").arg(at)));
            for (const Text &text : texts) {
                for (const int n : kCounts)
                    (void)translator.translate(text.context, text.source, text.comment, n);
            }
        }
    }
    qInfo("%d of %d single-byte changes refused", refused, tried);
    QVERIFY(refused > 0 && refused < tried);
}

void TestCatalogue::readsOnlySoundFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("read");
    QTest::addColumn<bool>("told");
    QTest::newRow("sound") << "sound" << true << false;
    QTest::newRow("damaged") << "damaged" << false << true;
    QTest::newRow("missing") << "missing" << false << false;
    QTest::newRow("a directory") << "directory" << false << true;
}

void TestCatalogue::readsOnlySoundFiles()
{
    QFETCH(QString, kind);
    QFETCH(bool, read);
    QFETCH(bool, told);
    QTemporaryDir here;
    QVERIFY(here.isValid());
    const QString path = here.filePath(QStringLiteral("Lumivox.qm"));
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir(here.path()).mkdir(QStringLiteral("Lumivox.qm")));
    } else if (kind != QLatin1String("missing")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kind == QLatin1String("sound")
                       ? testCatalogue
                       : testsupport::withSourceTextsPastTheEnd(testCatalogue, {"No Contact"}));
    }
    QString defect = QStringLiteral("stale");
    const QByteArray bytes = readCatalogue(path, &defect);
    QCOMPARE(bytes, read ? testCatalogue : QByteArray());
    QCOMPARE(!defect.isEmpty(), told);
}

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
