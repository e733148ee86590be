// The images compiled into the program: present, stored byte for byte, identical to the
// committed files and in the formats the window and the other platforms' loaders expect.

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QLineF>
#include <QPoint>
#include <QResource>
#include <QSet>
#include <QSize>
#include <QStringList>
#include <QtEndian>
#include <QtTest>

#include <climits>
#include <cmath>

namespace {

const QString resourcePrefix = QStringLiteral(":/Lumivox/Resources/");

const QStringList &imageNames()
{
    static const QStringList names {"proj.png", "connect.png", "disconnect.png", "up.bmp",
                                    "down.bmp", "left.bmp",    "right.bmp"};
    return names;
}

QByteArray committedFile(const QString &name)
{
    QFile file(QStringLiteral(LUMIVOX_SOURCE_DIR "/Resources/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray resourceBytes(const QString &name)
{
    QFile file(resourcePrefix + name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

quint32 be32(const QByteArray &data, int at)
{
    return qFromBigEndian<quint32>(data.constData() + at);
}

quint32 le32(const QByteArray &data, int at)
{
    return qFromLittleEndian<quint32>(data.constData() + at);
}

quint16 le16(const QByteArray &data, int at)
{
    return qFromLittleEndian<quint16>(data.constData() + at);
}

} // namespace

class tst_Resources : public QObject
{
    Q_OBJECT

private slots:
    void storedImage_data();
    void storedImage();
    void pngFormat_data();
    void pngFormat();
    void chevron_data();
    void chevron();
    void noOtherResources();
};

void tst_Resources::storedImage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");

    QTest::newRow("proj.png") << "proj.png" << QSize(32, 32);
    QTest::newRow("connect.png") << "connect.png" << QSize(256, 256);
    QTest::newRow("disconnect.png") << "disconnect.png" << QSize(256, 256);
    for (const char *name : {"up.bmp", "down.bmp", "left.bmp", "right.bmp"})
        QTest::newRow(name) << name << QSize(20, 20);
}

void tst_Resources::storedImage()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);

    QResource resource(resourcePrefix + name);
    QVERIFY2(resource.isValid(), qPrintable(resource.fileName() + " is not in the resources"));
    // Compressing already compressed PNGs only costs start-up time.
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);

    const QByteArray committed = committedFile(name);
    QVERIFY2(!committed.isEmpty(), qPrintable("cannot read Resources/" + name));
    const QByteArray stored(reinterpret_cast<const char *>(resource.data()), int(resource.size()));
    QVERIFY2(stored == committed, qPrintable(name + " differs from the committed file"));

    QImage image(resourcePrefix + name);
    QVERIFY2(!image.isNull(), qPrintable("QImage cannot load " + name));
    QCOMPARE(image.size(), size);
}

void tst_Resources::pngFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("side");
    QTest::addColumn<bool>("sparks");

    QTest::newRow("proj.png") << "proj.png" << 32u << false;
    QTest::newRow("connect.png") << "connect.png" << 256u << false;
    QTest::newRow("disconnect.png") << "disconnect.png" << 256u << true;
}

void tst_Resources::pngFormat()
{
    QFETCH(QString, name);
    QFETCH(quint32, side);
    QFETCH(bool, sparks);

    const QByteArray png = resourceBytes(name);
    QVERIFY(png.size() > 33);
    QCOMPARE(png.left(8), QByteArray("\x89PNG\r\n\x1a\n"));
    QCOMPARE(be32(png, 8), 13u);
    QCOMPARE(png.mid(12, 4), QByteArray("IHDR"));
    QCOMPARE(be32(png, 16), side);
    QCOMPARE(be32(png, 20), side);
    QCOMPARE(int(quint8(png[24])), 8); // bit depth
    QCOMPARE(int(quint8(png[25])), 6); // RGBA
    QCOMPARE(int(quint8(png[28])), 0); // not interlaced

    // Transparent background: the drawings never reach the top left corner.
    const QImage image = QImage::fromData(png).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);

    // Only the "disconnected" picture has red sparks, which tells the two apart.
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) > 200 && qRed(p) > 180 && qGreen(p) < 90 && qBlue(p) < 90)
                ++red;
        }
    if (sparks)
        QVERIFY2(red > 200, qPrintable(QString::number(red) + " red pixels"));
    else
        QCOMPARE(red, 0);
}

void tst_Resources::chevron_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("direction");

    QTest::newRow("up") << "up.bmp" << QPoint(0, -1);
    QTest::newRow("down") << "down.bmp" << QPoint(0, 1);
    QTest::newRow("left") << "left.bmp" << QPoint(-1, 0);
    QTest::newRow("right") << "right.bmp" << QPoint(1, 0);
}

void tst_Resources::chevron()
{
    QFETCH(QString, name);
    QFETCH(QPoint, direction);

    const QByteArray bmp = resourceBytes(name);
    QCOMPARE(bmp.size(), 1478);
    QCOMPARE(bmp.left(2), QByteArray("BM"));
    QCOMPARE(le32(bmp, 2), 1478u); // file size
    QCOMPARE(le32(bmp, 10), 1078u); // pixel data offset
    QCOMPARE(le32(bmp, 14), 40u); // BITMAPINFOHEADER
    QCOMPARE(le32(bmp, 18), 20u); // width
    QCOMPARE(le32(bmp, 22), 20u); // height, positive: bottom-up
    QCOMPARE(le16(bmp, 26), quint16(1));
    QCOMPARE(le16(bmp, 28), quint16(8));
    QCOMPARE(le32(bmp, 30), 0u); // BI_RGB
    const quint32 paletteSize = le32(bmp, 46);
    QVERIFY2(paletteSize == 256 || paletteSize == 0, qPrintable(QString::number(paletteSize)));

    const QImage image = QImage::fromData(bmp, "BMP");
    QCOMPARE(image.size(), QSize(20, 20));
    QSet<QRgb> colours;
    QList<QPoint> black;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y) | 0xff000000u;
            colours.insert(p);
            if (p == qRgb(0, 0, 0))
                black.append(QPoint(x, y));
        }
    QCOMPARE(colours, (QSet<QRgb> {qRgb(0, 0, 0), qRgb(255, 255, 255)}));
    QCOMPARE(black.size(), 42);

    // The tip: the black pixels furthest along the pointing direction. It has to be a
    // point on the centre line, not the two ends of the arms, and the edge midpoint it
    // lies closest to has to be the one of the edge it points to.
    const double centre = 9.5;
    int reach = INT_MIN;
    for (const QPoint &p : black)
        reach = qMax(reach, QPoint::dotProduct(p, direction));
    const QPoint across(std::abs(direction.y()), std::abs(direction.x()));
    double tipAlong = 0;
    for (const QPoint &p : black) {
        if (QPoint::dotProduct(p, direction) != reach)
            continue;
        const double offset = QPoint::dotProduct(p, across) - centre;
        QVERIFY2(
            std::abs(offset) <= 1.5,
            qPrintable(
                QStringLiteral("tip pixel (%1, %2) is off the centre line").arg(p.x()).arg(p.y())));
        tipAlong = p.x() * std::abs(direction.x()) + p.y() * std::abs(direction.y());
    }
    const QPointF tip = direction.x() != 0 ? QPointF(tipAlong, centre) : QPointF(centre, tipAlong);
    const QList<QPoint> edges {{0, -1}, {0, 1}, {-1, 0}, {1, 0}};
    QPoint nearest;
    double nearestDistance = 1e9;
    for (const QPoint &edge : edges) {
        const QPointF midpoint(centre + edge.x() * 10.0, centre + edge.y() * 10.0);
        const double distance = QLineF(tip, midpoint).length();
        if (distance < nearestDistance) {
            nearestDistance = distance;
            nearest = edge;
        }
    }
    QCOMPARE(nearest, direction);
}

void tst_Resources::noOtherResources()
{
    QStringList found;
    QDirIterator it(QStringLiteral(":/Lumivox"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    found.sort();

    QStringList expected;
    for (const QString &name : imageNames())
        expected.append(resourcePrefix + name);
    expected.sort();
    QCOMPARE(found, expected);
}

QTEST_GUILESS_MAIN(tst_Resources)
#include "tst_resources.moc"
