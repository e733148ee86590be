#include "app/commandline.h"
#include "app/windowprogram.h"

int main(int argc, char *argv[])
{
    // From scripts and schedules: no window and no display.
    if (wantsCommandLine(argc, argv)) {
        // --protocol or --baud alone start the window, speaking so for this run.
        std::optional<WindowStart> window;
        const int status = runCommandLine(argc, argv, &window);
        if (!window)
            return status;
        return runWindowProgram(argc, argv, {}, *window);
    }
    return runWindowProgram(argc, argv);
}
