// The program's start-up exactly as app/main.cpp runs it, reporting its first frame.

#include "app/windowprogram.h"
#include "firstframe.h"
#include "ui/lumivox.h"

int main(int argc, char *argv[])
{
    return runWindowProgram(argc, argv, [](Lumivox &window) { new FirstFrame(&window); });
}
