// sweeper: removes the installed demo and schedules its own file for the next start of Windows.
#pragma once
#include "platform.h"

int RemoveDemo(LPCSTR commandLine);
BOOL ScheduleSelfRemoval(void);

// TRUE when the text names a directory of this installation that is safe to delete whole,
// or one that does not exist (then the shell has nothing to delete).
BOOL IsRemovableDirectory(LPCSTR directory);
