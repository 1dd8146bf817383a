// Reports what a program sees of the system it runs on, for tests of the test machine itself.
//
//   sysinfo           prints "name<TAB>value" lines: platform, major, minor, build, acp,
//                     windows, system, temp (the directories as the system reports them)
//   sysinfo --crash   dies of an access violation, to show how a crash ends a process
//   sysinfo --message STYLE TEXT CAPTION
//                     shows MessageBoxA without owner (STYLE in C notation, e.g. 0x24) and
//                     returns its result, to try out reading and answering message boxes
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc > 1 && strcmp(argv[1], "--crash") == 0) {
        volatile ULONG_PTR nowhere = 16;
        *(volatile int *)nowhere = 1;
        return 0;
    }
    if (argc == 5 && strcmp(argv[1], "--message") == 0)
        return MessageBoxA(NULL, argv[3], argv[4], (UINT)strtoul(argv[2], NULL, 0));
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version)) {
        fprintf(stderr, "GetVersionExA failed: %lu\n", GetLastError());
        return 1;
    }
    char windows[MAX_PATH], system[MAX_PATH], temp[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    GetSystemDirectoryA(system, sizeof(system));
    GetTempPathA(sizeof(temp), temp);
    printf("platform\t%lu\nmajor\t%lu\nminor\t%lu\nbuild\t%lu\nacp\t%u\n", version.dwPlatformId,
           version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber, GetACP());
    printf("windows\t%s\nsystem\t%s\ntemp\t%s\n", windows, system, temp);
    return 0;
}
