// Test launcher: starts one program with an exact command line and reports its exit code.
//
// Everything comes from the environment, so no quoting by the caller's shell or by Wine's
// argv-to-command-line conversion can alter the bytes under test:
//   LAUNCH_CMDLINE_HEX  the command line as hex digit pairs (any bytes but zero), or
//   LAUNCH_CMDLINE      the command line as plain text (used when the hex form is absent)
//   LAUNCH_APP          optional lpApplicationName (lets a command line name any program)
//   LAUNCH_CWD          optional working directory of the child (and of the launcher)
//   LAUNCH_SHOW         optional decimal wShowWindow; sets STARTF_USESHOWWINDOW
//   LAUNCH_RESULT       optional file that receives the exit code as unsigned decimal,
//                       or "error <stage> <GetLastError>" when the child could not be run
// The child's exit code is also this process's exit code (a Unix parent sees its low byte).
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const DWORD LaunchFailed = 0xC0DE0001;

// Returns a heap copy of an environment variable, or NULL when it is not set.
static char *GetVariable(const char *name)
{
    DWORD size = GetEnvironmentVariableA(name, NULL, 0);
    if (size == 0)
        return NULL;
    char *value = (char *)calloc(size + 1, 1);
    if (value == NULL)
        return NULL;
    // An empty value reads back as length 0; anything else must fit.
    DWORD length = GetEnvironmentVariableA(name, value, size + 1);
    if (length > size || (length == 0 && size > 1)) {
        free(value);
        return NULL;
    }
    return value;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes hex pairs in place; FALSE on an odd length, a bad digit or a zero byte.
static BOOL DecodeHex(char *text)
{
    size_t length = strlen(text);
    if (length % 2 != 0)
        return FALSE;
    for (size_t i = 0; i < length; i += 2) {
        int high = HexDigit(text[i]);
        int low = HexDigit(text[i + 1]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return FALSE;
        text[i / 2] = (char)(high * 16 + low);
    }
    text[length / 2] = 0;
    return TRUE;
}

static void WriteResult(const char *resultFile, const char *text)
{
    if (resultFile == NULL)
        return;
    // Written to a new name and renamed, so a reader never sees half a result.
    char temporary[MAX_PATH + 8];
    if (strlen(resultFile) + 5 > sizeof(temporary))
        return;
    strcpy(temporary, resultFile);
    strcat(temporary, ".new");
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "launch: cannot write %s (error %lu)\n", temporary, GetLastError());
        return;
    }
    DWORD written = 0;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
    MoveFileExA(temporary, resultFile, MOVEFILE_REPLACE_EXISTING);
}

static int Fail(const char *resultFile, const char *stage, DWORD error)
{
    char text[128];
    snprintf(text, sizeof(text), "error %s %lu", stage, error);
    fprintf(stderr, "launch: %s\n", text);
    WriteResult(resultFile, text);
    return (int)LaunchFailed;
}

int main(void)
{
    char *resultFile = GetVariable("LAUNCH_RESULT");
    char *commandLine = GetVariable("LAUNCH_CMDLINE_HEX");
    if (commandLine != NULL) {
        if (!DecodeHex(commandLine))
            return Fail(resultFile, "hex", ERROR_INVALID_DATA);
    } else {
        commandLine = GetVariable("LAUNCH_CMDLINE");
        if (commandLine == NULL)
            return Fail(resultFile, "cmdline", ERROR_ENVVAR_NOT_FOUND);
    }
    char *application = GetVariable("LAUNCH_APP");
    char *directory = GetVariable("LAUNCH_CWD");
    char *show = GetVariable("LAUNCH_SHOW");

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    if (show != NULL && show[0] != 0) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = (WORD)strtoul(show, NULL, 10);
    }

    // The launcher's settings are no business of the child's.
    static const char *const settings[] = {"LAUNCH_CMDLINE_HEX", "LAUNCH_CMDLINE", "LAUNCH_APP",
                                           "LAUNCH_CWD", "LAUNCH_SHOW", "LAUNCH_RESULT"};
    for (const char *setting : settings)
        SetEnvironmentVariableA(setting, NULL);

    // The launcher moves there too: CreateProcessA looks for a program named without a path in
    // the caller's current directory, as a program started from that directory would be.
    if (directory != NULL && directory[0] != 0 && !SetCurrentDirectoryA(directory))
        return Fail(resultFile, "SetCurrentDirectoryA", GetLastError());

    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof(process));
    if (!CreateProcessA(application && application[0] ? application : NULL, commandLine, NULL, NULL, FALSE, 0, NULL,
                        directory && directory[0] ? directory : NULL, &startup, &process))
        return Fail(resultFile, "CreateProcessA", GetLastError());
    CloseHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0)
        return Fail(resultFile, "WaitForSingleObject", GetLastError());
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.hProcess, &exitCode))
        return Fail(resultFile, "GetExitCodeProcess", GetLastError());
    CloseHandle(process.hProcess);

    char text[32];
    snprintf(text, sizeof(text), "%lu", (unsigned long)exitCode);
    printf("%s\n", text);
    fflush(stdout);
    WriteResult(resultFile, text);
    return (int)exitCode;
}
