#ifndef WINDOWPROGRAM_H
#define WINDOWPROGRAM_H

#include "ui/protocolchoice.h"

#include <QString>

#include <functional>
#include <optional>

class Lumivox;

// What the command line asks of the window for one run: the protocol to speak (else the
// one the settings keep) and the port opened first.
struct WindowStart
{
    std::optional<ProtocolChoice> protocol;
    QString port = QLatin1String("COM1");
};

// Lumivox with its window, as the program starts it: the translation catalogue of the
// working directory, the application, the system's requests to end, the window and its
// local channel. `beforeShow` sees the window just before it is shown (the benchmark
// watches for its first frame there). Returns when the window has closed.
int runWindowProgram(int argc, char *argv[], const std::function<void(Lumivox &)> &beforeShow = {},
                     const WindowStart &start = {});

#endif // WINDOWPROGRAM_H
