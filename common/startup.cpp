// Process entry for every program: derives WinMain's arguments as a C runtime would, without one.
#include "startup.h"

LPSTR SkipProgramName(LPSTR commandLine)
{
    BYTE *p = (BYTE *)commandLine;

    if (*p == '"') {
        // A quoted name runs to the next quote; a lead byte carries its trail byte past a quote.
        p++;
        while (*p != 0 && *p != '"') {
            if (IsDBCSLeadByte(*p) && p[1] != 0)
                p++;
            p++;
        }
        if (*p == '"')
            p++;
    } else {
        while (*p > ' ')
            p++;
    }
    while (*p != 0 && *p <= ' ')
        p++;
    return (LPSTR)p;
}

int StartupShowCommand(void)
{
    STARTUPINFOA startup;

    startup.dwFlags = 0;
    startup.wShowWindow = 0;
    startup.cb = sizeof(startup);
    GetStartupInfoA(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW)
        return startup.wShowWindow;
    return SW_SHOWDEFAULT;
}

extern "C" void WINAPI ProgramStart(void)
{
    LPSTR commandLine = SkipProgramName(GetCommandLineA());
    int showCommand = StartupShowCommand();

    ExitProcess((UINT)WinMain(GetModuleHandleA(NULL), NULL, commandLine, showCommand));
}
