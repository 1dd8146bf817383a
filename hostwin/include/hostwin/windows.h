// hostwin's Win32: the subset the programs call, one header per system library.
#pragma once
#include "types.h"
#include "kernel32.h"
#include "user32.h"
#include "advapi32.h"
#include "ole32.h"
#include "shell32.h"
