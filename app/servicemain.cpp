#include "app/commandline.h"

// The service's own program, which `lumivox --serve ...` becomes: the command line with
// the service in it.
int main(int argc, char *argv[])
{
    return runCommandLine(argc, argv);
}
