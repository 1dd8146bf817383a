// shellreg's entry: the whole program is one registration run.
#include "shellreg.h"
#include "startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    return RegisterDemo(commandLine);
}
