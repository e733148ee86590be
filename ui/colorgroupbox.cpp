#include "ui/colorgroupbox.h"

#include <QPainter>

namespace {
// The fill leaves one pixel at the sides and the bottom, and the top rows for the title.
constexpr int kFillLeft = 1;
constexpr int kFillTop = 8;
constexpr int kFillSides = 2;
constexpr int kFillTopAndBottom = 9;
} // namespace

ColorGroupBox::ColorGroupBox(QWidget *parent)
    : QGroupBox(parent)
    , fillColor(200, 200, 0, 255)
{ }

ColorGroupBox::~ColorGroupBox() = default;

void ColorGroupBox::setColor(const QColor &color)
{
    fillColor = color;
    update();
}

void ColorGroupBox::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(this);
        painter.fillRect(
            QRect(kFillLeft, kFillTop, width() - kFillSides, height() - kFillTopAndBottom),
            fillColor);
    }
    // Frame and title on top of the fill.
    QGroupBox::paintEvent(event);
}
