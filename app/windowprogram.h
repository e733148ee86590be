#ifndef WINDOWPROGRAM_H
#define WINDOWPROGRAM_H

#include <functional>

class Lumivox;

// Lumivox with its window, as the program starts it: the translation catalogue of the
// working directory, the application, the system's requests to end, the window and its
// local channel. `beforeShow` sees the window just before it is shown (the benchmark
// watches for its first frame there). Returns when the window has closed.
int runWindowProgram(int argc, char *argv[], const std::function<void(Lumivox &)> &beforeShow = {});

#endif // WINDOWPROGRAM_H
