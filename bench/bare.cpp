// The baselines: "window" is a bare main window with one push button that reports
// its first frame; "timer" is a bare program whose only work is a 100 ms timer.

#include "firstframe.h"

#include <QApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>

#include <cstring>

namespace {
constexpr int kTickInterval = 100; // ms, as the program's own timer
}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "timer") == 0) {
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, &application, [] {});
        timer.start(kTickInterval);
        return QApplication::exec();
    }
    QMainWindow window;
    window.setCentralWidget(new QPushButton(QStringLiteral("Button"), &window));
    FirstFrame firstFrame(&window);
    window.show();
    return QApplication::exec();
}
