// The process start-up that hands WinMain its arguments, in place of a C runtime's.
#pragma once
#include "platform.h"

// The command-line text after the program name and the blanks that follow it.
LPSTR SkipProgramName(LPSTR commandLine);

// The show state a program's first window gets: the start-up info's, or SW_SHOWDEFAULT.
int StartupShowCommand(void);

extern "C" void WINAPI ProgramStart(void);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);
