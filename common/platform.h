// The one door to the platform: the real Win32 headers on Windows, our hostwin stand-in elsewhere.
#pragma once
#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#else
#include <hostwin/windows.h>
#endif
