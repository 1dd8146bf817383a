// Where the Start menu's Programs folder is; looked up afresh at every use.
#pragma once
#include "platform.h"

// The shell's allocator, refreshed by every lookup and never released.
extern IMalloc *shellAllocator;

// Fills path (MAX_PATH bytes) with the Programs folder; FALSE when there is none.
BOOL GetProgramsFolder(LPSTR path);
