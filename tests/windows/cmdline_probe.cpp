// Start-up probe, built exactly like the deliverables: records what WinMain was handed.
//
// Writes one file (PROBE_OUTPUT, else C:\cmdline_probe.txt): nCmdShow in decimal, a newline,
// then the bytes of lpCmdLine unchanged. Returns the signed decimal in PROBE_EXIT (else 0),
// so the exit-code hand-over can be checked as well.
#include "startup.h"

static const char DefaultOutput[] = "C:\\cmdline_probe.txt";

static int ParseDecimal(LPCSTR text)
{
    int sign = 1;
    int value = 0;
    if (*text == '-') {
        sign = -1;
        text++;
    }
    while (*text >= '0' && *text <= '9')
        value = value * 10 + (*text++ - '0');
    return sign * value;
}

// Formats a small signed number; buffer holds at least 12 bytes.
static DWORD FormatDecimal(int value, LPSTR buffer)
{
    char digits[12];
    DWORD count = 0;
    DWORD length = 0;
    unsigned int magnitude = value < 0 ? 0u - (unsigned int)value : (unsigned int)value;
    do {
        digits[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        buffer[length++] = '-';
    while (count != 0)
        buffer[length++] = digits[--count];
    return length;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int showCommand)
{
    char output[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("PROBE_OUTPUT", output, sizeof(output));
    if (length == 0 || length >= sizeof(output))
        lstrcpyA(output, DefaultOutput);

    char exitText[16];
    length = GetEnvironmentVariableA("PROBE_EXIT", exitText, sizeof(exitText));
    int exitCode = (length != 0 && length < sizeof(exitText)) ? ParseDecimal(exitText) : 0;

    HANDLE file = CreateFileA(output, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -2;
    char header[16];
    DWORD headerLength = FormatDecimal(showCommand, header);
    header[headerLength++] = '\n';
    DWORD written = 0;
    WriteFile(file, header, headerLength, &written, NULL);
    WriteFile(file, commandLine, (DWORD)lstrlenA(commandLine), &written, NULL);
    CloseHandle(file);
    return exitCode;
}
