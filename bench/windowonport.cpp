// The window program exactly as app/main.cpp runs it, on the port named in
// LUMIVOX_BENCH_PORT, for comparing its idle cost in contact with the service's.

#include "app/windowprogram.h"
#include "ui/lumivox.h"

int main(int argc, char *argv[])
{
    return runWindowProgram(argc, argv, [](Lumivox &window) {
        window.closePort();
        window.openPort(qEnvironmentVariable("LUMIVOX_BENCH_PORT"));
    });
}
