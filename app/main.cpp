#include "app/commandline.h"
#include "app/windowprogram.h"

int main(int argc, char *argv[])
{
    // From scripts and schedules: no window and no display.
    if (wantsCommandLine(argc, argv))
        return runCommandLine(argc, argv);
    return runWindowProgram(argc, argv);
}
