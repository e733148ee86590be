#ifndef FIRSTFRAME_H
#define FIRSTFRAME_H

#include <QObject>

class QWidget;

// Waits for the first paint of a window and its children (and lives as long as it); once that frame
// is done, prints "painted <resident KiB>" on standard output and quits the application. The
// benchmark takes the time from starting the process to that line.
class FirstFrame : public QObject
{
public:
    explicit FirstFrame(QWidget *window);
    ~FirstFrame() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void report();

    QWidget *window;
    bool painted = false;
};

#endif // FIRSTFRAME_H
