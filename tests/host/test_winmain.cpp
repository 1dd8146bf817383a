// The test program links the programs' start-up code to test it, but is no program itself:
// ProgramStart is never called here, so WinMain never runs.
#include "startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
