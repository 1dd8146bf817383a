// A program for the host tests to place inside the machine: writes the Windows file name of its
// own module, and, when its command line names a program, the result of starting that one with
// WinExec, to the Windows file named by PROBE_OUTPUT ("name\nresult").
#include "startup.h"

static void Append(LPSTR buffer, LPCSTR text)
{
    lstrcatA(buffer, text);
}

static void AppendNumber(LPSTR buffer, UINT value)
{
    char digits[12];
    int count = 0;
    do {
        digits[count++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char text[12];
    for (int i = 0; i < count; i++)
        text[i] = digits[count - 1 - i];
    text[count] = 0;
    Append(buffer, text);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    char output[MAX_PATH];
    if (GetEnvironmentVariableA("PROBE_OUTPUT", output, sizeof output) == 0)
        return 1;
    char report[3 * MAX_PATH] = "";
    char name[MAX_PATH];
    if (GetModuleFileNameA(NULL, name, sizeof name) == 0)
        Append(report, "(none)");
    else
        Append(report, name);
    Append(report, instance == GetModuleHandleA(NULL) ? "\n" : "\nwrong module handle\n");
    if (*commandLine != 0)
        AppendNumber(report, WinExec(commandLine, SW_SHOWNORMAL));
    HANDLE file = CreateFileA(output, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written;
    WriteFile(file, report, (DWORD)lstrlenA(report), &written, NULL);
    CloseHandle(file);
    return 0;
}
