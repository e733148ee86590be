#ifndef COLORGROUPBOX_H
#define COLORGROUPBOX_H

#include <QColor>
#include <QGroupBox>

// A group box whose interior is filled with one colour under its frame and title:
// the status panel that shows the projector's lamp state.
class ColorGroupBox : public QGroupBox
{
public:
    explicit ColorGroupBox(QWidget *parent = nullptr);
    ~ColorGroupBox() override;

    // Repaints even when the colour is unchanged.
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor fillColor;
};

#endif // COLORGROUPBOX_H
