// shellreg: takes the copied demo into the shell (uninstaller, Start-menu group, registry, Explorer).
#pragma once
#include "platform.h"

int RegisterDemo(LPCSTR commandLine);
HRESULT CreateShortcut(LPCSTR target, LPCSTR linkFile, LPCSTR description, LPCSTR iconFile, LPCSTR arguments);
