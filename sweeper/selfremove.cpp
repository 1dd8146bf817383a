// The uninstaller cannot delete its own running file: a wininit.ini line has Windows do it at its next start.
#include "layout.h"
#include "paths.h"
#include "sweeper.h"

#define PROFILE_NAME "\\wininit.ini"
#define RENAME_SECTION "rename"
#define DELETE_KEY "NUL"

BOOL ScheduleSelfRemoval(void)
{
    CHAR directory[MAX_PATH], profileFile[MAX_PATH], fileToRemove[MAX_PATH], parkedPath[MAX_PATH];
    WIN32_FIND_DATAA found;
    HANDLE search;
    LPCSTR key;

    // No line is written from a directory that could not be had whole.
    if (!DirectoryFits(GetWindowsDirectoryA(directory, MAX_PATH), MAX_PATH) ||
        !ComposePath(profileFile, MAX_PATH, directory, PROFILE_NAME))
        return FALSE;
    // The line names the file shellreg actually put in the system directory.
    if (!DirectoryFits(GetSystemDirectoryA(directory, MAX_PATH), MAX_PATH) ||
        !ComposePath(fileToRemove, MAX_PATH, directory, UNINSTALLER_INSTALLED_NAME))
        return FALSE;
    if (!DirectoryFits(GetTempPathA(MAX_PATH, directory), MAX_PATH) ||
        !ComposePath(parkedPath, MAX_PATH, directory, UNINSTALLER_PARKED_NAME))
        return FALSE;

    key = parkedPath;
    search = FindFirstFileA(profileFile, &found);
    if (search == INVALID_HANDLE_VALUE)
        key = DELETE_KEY;
    else
        FindClose(search);
    return WritePrivateProfileStringA(RENAME_SECTION, key, fileToRemove, profileFile);
}
