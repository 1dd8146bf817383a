// The removal run: one question, then the installed directory, the Start-menu group and the keys.
#include "layout.h"
#include "paths.h"
#include "programs_folder.h"
#include "sweeper.h"

// The installed directory and its two closing NULs must fit the shell's source list.
#define LONGEST_DIRECTORY (MAX_PATH - 2)

static const LPCSTR startMenuEntries[] = {GAME_ENTRY, SETUP_ENTRY, README_ENTRY, UNINSTALLER_ENTRY};

static BOOL IsWindows95Family(void)
{
    OSVERSIONINFOA version;

    version.dwOSVersionInfoSize = sizeof(version);
    // A failing query is no reason to refuse: the run goes on as on Windows 95.
    if (!GetVersionExA(&version))
        return TRUE;
    return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

static void DeleteInstalledDirectory(LPCSTR directory)
{
    CHAR sourceList[MAX_PATH];
    SHFILEOPSTRUCTA operation;
    UINT i;

    for (i = 0; i < MAX_PATH; i++)
        sourceList[i] = 0;
    for (i = 0; directory[i] != 0; i++)
        sourceList[i] = directory[i];
    operation.hwnd = NULL;
    operation.wFunc = FO_DELETE;
    operation.pFrom = sourceList;
    operation.pTo = NULL;
    operation.fFlags = FOF_SIMPLEPROGRESS | FOF_NOCONFIRMATION;
    operation.fAnyOperationsAborted = FALSE;
    operation.hNameMappings = NULL;
    operation.lpszProgressTitle = "Removing Zarn-Hold Demo....";
    SHFileOperationA(&operation);
}

static void DeleteStartMenuGroup(LPCSTR programsFolder)
{
    CHAR path[MAX_PATH];

    // A path that does not fit is skipped: a cut one could name another file.
    for (UINT i = 0; i < sizeof(startMenuEntries) / sizeof(startMenuEntries[0]); i++)
        if (ComposePath(path, MAX_PATH, programsFolder, startMenuEntries[i]))
            DeleteFileA(path);
    if (ComposePath(path, MAX_PATH, programsFolder, COMPANY_FOLDER))
        RemoveDirectoryA(path);
}

static void DeleteSubkey(LPCSTR parent, LPCSTR subkey)
{
    HKEY key;

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegDeleteKeyA(key, subkey);
    RegCloseKey(key);
}

int RemoveDemo(LPCSTR commandLine)
{
    CHAR programsFolder[MAX_PATH];
    UINT length = TextLength(commandLine);

    if (length == 0 || length > LONGEST_DIRECTORY)
        return -1;
    if (!IsWindows95Family())
        return -1;
    if (MessageBoxA(NULL, "Are you sure you want to remove Zarn-Hold Demo from your system ?", DEMO_TITLE,
                    MB_ICONQUESTION | MB_YESNO) != IDYES)
        return -1;

    // A wrong or tampered uninstall entry must not turn this "Yes" into the loss of anything else.
    if (IsRemovableDirectory(commandLine))
        DeleteInstalledDirectory(commandLine);

    if (!GetProgramsFolder(programsFolder))
        return -1;
    DeleteStartMenuGroup(programsFolder);
    DeleteSubkey(COMPANY_KEY, DEMO_KEY_NAME);
    DeleteSubkey(UNINSTALL_ROOT, DEMO_TITLE);
    return ScheduleSelfRemoval();
}
