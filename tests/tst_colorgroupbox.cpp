// The status panel: where its fill lies, in which colour, and when a new colour shows.

#include "ui/colorgroupbox.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionComplex>
#include <QtTest>

namespace {

constexpr QSize kPanelSize(411, 60);
// Where the fill of a panel of that size must lie, inclusive.
constexpr QPair<int, int> kFillColumns(1, 409);
constexpr QPair<int, int> kFillRows(8, 58);
constexpr QPoint kMiddle(205, 30);
constexpr int kFillLeft = 1;
constexpr int kFillTop = 8;
const QColor neutral(200, 200, 0);
const QColor red(255, 0, 0);
const QColor green(0, 255, 0);

QImage snapshot(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool isColor(const QImage &image, int x, int y, const QColor &color)
{
    return image.pixelColor(x, y).rgb() == color.rgb();
}

// First and last coordinate of `color` along a row (horizontal) or a column, or -1.
QPair<int, int> extent(const QImage &image, Qt::Orientation orientation, int at,
                       const QColor &color)
{
    const int length = orientation == Qt::Horizontal ? image.width() : image.height();
    int first = -1, last = -1;
    for (int i = 0; i < length; ++i) {
        const bool hit = orientation == Qt::Horizontal ? isColor(image, i, at, color)
                                                       : isColor(image, at, i, color);
        if (hit) {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    return {first, last};
}

// Counts its repaints, to tell a scheduled repaint from a colour read at grab time.
class CountingPanel : public ColorGroupBox
{
public:
    using ColorGroupBox::ColorGroupBox;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        ++paints;
        ColorGroupBox::paintEvent(event);
    }
};

// Stands in for the style's group box frame and title: draws nothing, so that the fill's own
// edges can be seen (a real style draws its frame over them, Fusion even shades the whole
// interior), or a probe line across the middle, to see what is painted last.
class FrameProbeStyle : public QProxyStyle
{
public:
    static constexpr int probeRow = 30;
    bool drawsFrame = false;

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                            QPainter *painter, const QWidget *widget) const override
    {
        if (control != CC_GroupBox) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        if (drawsFrame)
            painter->fillRect(QRect(0, probeRow, option->rect.width(), 1), probe());
    }

    static QColor probe() { return Qt::magenta; }
};

} // namespace

class ColorGroupBoxTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void newPanelIsNeutral();
    void fillLeavesTheEdges();
    void frameDrawnOverTheFill();
    void setColorShowsFromTheNextPaint_data();
    void setColorShowsFromTheNextPaint();
    void setColorSchedulesARepaint();
    void resizingMovesTheFillEdges_data();
    void resizingMovesTheFillEdges();
    void noMetaObjectOfItsOwn();

private:
    FrameProbeStyle frameStyle;
};

void ColorGroupBoxTest::init()
{
    frameStyle.drawsFrame = false;
}

void ColorGroupBoxTest::newPanelIsNeutral()
{
    ColorGroupBox panel(nullptr);
    panel.setStyle(&frameStyle);
    panel.resize(kPanelSize);
    const QImage image = snapshot(panel);
    for (const QPoint &point : {QPoint(kFillLeft + 1, kFillTop + 1), kMiddle,
                                QPoint(kPanelSize.width() - 3, kPanelSize.height() - 3)})
        QVERIFY2(isColor(image, point.x(), point.y(), neutral),
                 qPrintable(QStringLiteral("at %1,%2: %3")
                                .arg(point.x())
                                .arg(point.y())
                                .arg(image.pixelColor(point).name())));
}

void ColorGroupBoxTest::fillLeavesTheEdges()
{
    ColorGroupBox panel(nullptr);
    panel.setStyle(&frameStyle);
    panel.resize(kPanelSize);
    const QImage image = snapshot(panel);
    const int width = kPanelSize.width(), height = kPanelSize.height();

    // The outermost column on each side, the bottom row and the top 8 rows stay unfilled.
    for (int y = 0; y < height; ++y) {
        QVERIFY2(!isColor(image, 0, y, neutral), qPrintable(QString::number(y)));
        QVERIFY2(!isColor(image, width - 1, y, neutral), qPrintable(QString::number(y)));
    }
    for (int x = 0; x < width; ++x) {
        QVERIFY2(!isColor(image, x, height - 1, neutral), qPrintable(QString::number(x)));
        for (int y = 0; y < kFillTop; ++y)
            QVERIFY2(!isColor(image, x, y, neutral),
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
    }
    // And the fill reaches right up to them.
    QCOMPARE(extent(image, Qt::Horizontal, height / 2, neutral), kFillColumns);
    QCOMPARE(extent(image, Qt::Vertical, width / 2, neutral), kFillRows);
}

void ColorGroupBoxTest::frameDrawnOverTheFill()
{
    ColorGroupBox panel(nullptr);
    frameStyle.drawsFrame = true;
    panel.setStyle(&frameStyle);
    panel.resize(kPanelSize);
    const QImage image = snapshot(panel);
    // The group box's own drawing comes last: its line lies on top of the fill.
    QCOMPARE(extent(image, Qt::Horizontal, FrameProbeStyle::probeRow, FrameProbeStyle::probe()),
             qMakePair(0, kPanelSize.width() - 1));
    QVERIFY(isColor(image, kPanelSize.width() / 2, FrameProbeStyle::probeRow + 1, neutral));
}

void ColorGroupBoxTest::setColorShowsFromTheNextPaint_data()
{
    QTest::addColumn<QColor>("color");
    QTest::newRow("red") << red;
    QTest::newRow("green") << green;
    QTest::newRow("neutral") << neutral;
}

void ColorGroupBoxTest::setColorShowsFromTheNextPaint()
{
    QFETCH(QColor, color);
    ColorGroupBox panel(nullptr);
    panel.setStyle(&frameStyle);
    panel.resize(kPanelSize);
    // Start from another colour, so the neutral row shows a change too.
    panel.setColor(color == neutral ? red : neutral);
    panel.setColor(color);
    const QImage image = snapshot(panel);
    QCOMPARE(extent(image, Qt::Horizontal, kPanelSize.height() / 2, color), kFillColumns);
    QCOMPARE(extent(image, Qt::Vertical, kPanelSize.width() / 2, color), kFillRows);
}

void ColorGroupBoxTest::setColorSchedulesARepaint()
{
    CountingPanel panel(nullptr);
    panel.setStyle(&frameStyle);
    panel.resize(kPanelSize);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QTRY_VERIFY(panel.paints > 0);

    // setColor paints nothing itself: the repaint comes from the event loop.
    int before = panel.paints;
    panel.setColor(red);
    panel.setColor(green);
    QCOMPARE(panel.paints, before);
    QTRY_VERIFY(panel.paints > before);
    QVERIFY(isColor(snapshot(panel), kMiddle.x(), kMiddle.y(), green));

    // Even an unchanged colour asks for a repaint.
    before = panel.paints;
    panel.setColor(green);
    QTRY_VERIFY(panel.paints > before);
}

void ColorGroupBoxTest::resizingMovesTheFillEdges_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("wider and taller") << QSize(500, 120);
    QTest::newRow("narrower") << QSize(150, 60);
    QTest::newRow("small") << QSize(40, 20);
}

void ColorGroupBoxTest::resizingMovesTheFillEdges()
{
    QFETCH(QSize, size);
    ColorGroupBox panel(nullptr);
    panel.setStyle(&frameStyle);
    panel.resize(kPanelSize);
    (void)snapshot(panel);
    panel.resize(size);
    const QImage image = snapshot(panel);
    QCOMPARE(image.size(), size);
    QCOMPARE(extent(image, Qt::Horizontal, (kFillTop + size.height()) / 2, neutral),
             qMakePair(kFillLeft, size.width() - 2));
    QCOMPARE(extent(image, Qt::Vertical, size.width() / 2, neutral),
             qMakePair(kFillTop, size.height() - 2));
}

void ColorGroupBoxTest::noMetaObjectOfItsOwn()
{
    ColorGroupBox panel(nullptr);
    QCOMPARE(panel.metaObject(), &QGroupBox::staticMetaObject);
    QVERIFY(panel.title().isEmpty());
}

QTEST_MAIN(ColorGroupBoxTest)
#include "tst_colorgroupbox.moc"
