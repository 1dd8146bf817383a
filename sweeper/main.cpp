// sweeper's entry: the whole program is one removal run.
#include "startup.h"
#include "sweeper.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    return RemoveDemo(commandLine);
}
