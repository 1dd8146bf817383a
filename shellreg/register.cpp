// The registration run, step by step in the order the rest of the system relies on.
#include "layout.h"
#include "paths.h"
#include "programs_folder.h"
#include "shellreg.h"

#define EXPLORER_PREFIX "Explorer "
#define UNINSTALL_COMMAND_SIZE (2 * MAX_PATH)

// The four Start-menu entries, in the order they are written.
struct StartMenuEntry {
    LPCSTR linkName;            // below the Programs folder
    BOOL targetInSystemDirectory;
    LPCSTR targetName;          // below the installed or the system directory
    LPCSTR description;
    LPCSTR iconName;            // below the installed directory; NULL for none
    BOOL installedDirectoryAsArguments;
};

static const StartMenuEntry startMenuEntries[] = {
    {GAME_ENTRY, FALSE, GAME_FILE, "Zarn_Hold Demo", GAME_ICON, FALSE},
    {SETUP_ENTRY, FALSE, SETUP_FILE, "Setup utility for Zarn-Hold Demo", SETUP_ICON, FALSE},
    {README_ENTRY, FALSE, README_FILE, "Readme for Zarn-Hold Demo", NULL, FALSE},
    {UNINSTALLER_ENTRY, TRUE, UNINSTALLER_INSTALLED_NAME, "Uninstaller for Zarn-Hold Demo", UNINSTALLER_ICON, TRUE},
};

static BOOL AcceptCommandLine(LPCSTR commandLine)
{
    if (SameBytes(commandLine, REGISTER_TOKEN))
        return TRUE;
    MessageBoxA(NULL, "Run 'Install' to install this demo", PRODUCT_NAME, MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
}

static void MoveUninstaller(LPCSTR installedDirectory, LPCSTR systemDirectory)
{
    CHAR source[MAX_PATH], destination[MAX_PATH];
    DWORD error;

    if (!ComposePath(source, MAX_PATH, installedDirectory, UNINSTALLER_SHIPPED_NAME) ||
        !ComposePath(destination, MAX_PATH, systemDirectory, UNINSTALLER_INSTALLED_NAME))
        return;
    if (MoveFileA(source, destination))
        return;
    // Windows 95 says ERROR_FILE_EXISTS, the NT family and Wine ERROR_ALREADY_EXISTS: either way
    // an uninstaller of an earlier installation is in the way and is replaced.
    error = GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
        DeleteFileA(destination);
        MoveFileA(source, destination);
    }
}

static void WriteStartMenuEntry(const StartMenuEntry *entry, LPCSTR programsFolder, LPCSTR installedDirectory,
                                LPCSTR systemDirectory)
{
    CHAR linkFile[MAX_PATH], target[MAX_PATH], iconFile[MAX_PATH];
    LPCSTR targetDirectory = entry->targetInSystemDirectory ? systemDirectory : installedDirectory;

    // An entry whose paths do not fit is left out rather than written with a cut path.
    if (!ComposePath(linkFile, MAX_PATH, programsFolder, entry->linkName) ||
        !ComposePath(target, MAX_PATH, targetDirectory, entry->targetName))
        return;
    if (entry->iconName != NULL && !ComposePath(iconFile, MAX_PATH, installedDirectory, entry->iconName))
        return;
    if (entry->installedDirectoryAsArguments && installedDirectory == NULL)
        return;
    CreateShortcut(target, linkFile, entry->description, entry->iconName != NULL ? iconFile : NULL,
                   entry->installedDirectoryAsArguments ? installedDirectory : NULL);
}

static void WriteDemoKey(void)
{
    HKEY key;
    DWORD version = 0;

    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, DEMO_KEY, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key,
                        NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, INSTALLED_VERSION_VALUE, 0, REG_DWORD, (const BYTE *)&version, sizeof(version));
    RegCloseKey(key);
}

// What RegSetValueExA is told of a string: its length and the terminating NUL.
static DWORD TextSize(LPCSTR text)
{
    return TextLength(text) + 1;
}

static void WriteUninstallEntry(LPCSTR installedDirectory, LPCSTR systemDirectory)
{
    CHAR command[UNINSTALL_COMMAND_SIZE];
    HKEY key;

    // Without its command line the entry would list a program that cannot be removed.
    if (installedDirectory == NULL ||
        !ComposePath(command, sizeof(command), systemDirectory, UNINSTALLER_INSTALLED_NAME) ||
        !AppendText(command, sizeof(command), " ") || !AppendText(command, sizeof(command), installedDirectory))
        return;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                        &key, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, DISPLAY_NAME_VALUE, 0, REG_SZ, (const BYTE *)DEMO_TITLE, TextSize(DEMO_TITLE));
    RegSetValueExA(key, UNINSTALL_STRING_VALUE, 0, REG_SZ, (const BYTE *)command, TextSize(command));
    RegCloseKey(key);
}

static void OpenGroup(LPCSTR groupFolder)
{
    CHAR command[sizeof(EXPLORER_PREFIX) + MAX_PATH];

    if (ComposePath(command, sizeof(command), EXPLORER_PREFIX, groupFolder))
        WinExec(command, SW_SHOWDEFAULT);
}

int RegisterDemo(LPCSTR commandLine)
{
    CHAR programsFolder[MAX_PATH], installedBuffer[MAX_PATH], systemBuffer[MAX_PATH], groupFolder[MAX_PATH];
    LPCSTR installedDirectory, systemDirectory;
    BOOL haveGroup;

    if (!AcceptCommandLine(commandLine))
        return -1;
    if (!GetProgramsFolder(programsFolder))
        return -1;

    // A directory query that fails or does not fit gives no directory; every step that needs it is skipped.
    installedDirectory = DirectoryFits(GetCurrentDirectoryA(MAX_PATH, installedBuffer), MAX_PATH) ? installedBuffer : NULL;
    systemDirectory = DirectoryFits(GetSystemDirectoryA(systemBuffer, MAX_PATH), MAX_PATH) ? systemBuffer : NULL;

    MoveUninstaller(installedDirectory, systemDirectory);
    haveGroup = ComposePath(groupFolder, MAX_PATH, programsFolder, COMPANY_FOLDER);
    if (haveGroup)
        CreateDirectoryA(groupFolder, NULL);
    CoInitialize(NULL);
    for (UINT i = 0; i < sizeof(startMenuEntries) / sizeof(startMenuEntries[0]); i++)
        WriteStartMenuEntry(&startMenuEntries[i], programsFolder, installedDirectory, systemDirectory);
    WriteDemoKey();
    WriteUninstallEntry(installedDirectory, systemDirectory);
    if (haveGroup)
        OpenGroup(groupFolder);
    return 0;
}
