// kernel32: process start-up, files and directories, the system's folders, version, memory, profiles.
#pragma once
#include "types.h"

struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
};
typedef STARTUPINFOA *LPSTARTUPINFOA;
#define STARTF_USESHOWWINDOW 0x00000001

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};
typedef OSVERSIONINFOA *LPOSVERSIONINFOA;
#define VER_PLATFORM_WIN32s 0
#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD nFileSizeHigh, nFileSizeLow;
    DWORD dwReserved0, dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAA *LPWIN32_FIND_DATAA;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
typedef SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

#define GENERIC_READ 0x80000000
#define GENERIC_WRITE 0x40000000
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

#define PAGE_READONLY 0x02
#define FILE_MAP_READ 0x0004

struct OVERLAPPED;
typedef OVERLAPPED *LPOVERLAPPED;

#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0000
#define LMEM_MOVEABLE 0x0002
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

#define CP_ACP 0
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008

extern "C" {
// Process.
LPSTR WINAPI GetCommandLineA(void);
void WINAPI GetStartupInfoA(LPSTARTUPINFOA startupInfo);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
[[noreturn]] void WINAPI ExitProcess(UINT exitCode);
UINT WINAPI WinExec(LPCSTR commandLine, UINT showCommand);

// Errors.
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);

// Code pages.
UINT WINAPI GetACP(void);
BOOL WINAPI IsDBCSLeadByte(BYTE testChar);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength,
                               LPWSTR wideChar, int wideCharLength);

// The system's folders.
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size);
DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR pathName);

// Environment.
DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);

// Strings.
int WINAPI lstrlenA(LPCSTR text);
LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source);
LPSTR WINAPI lstrcatA(LPSTR destination, LPCSTR source);
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);

// Version.
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA versionInfo);

// Files and directories.
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creation, DWORD flags, HANDLE templateFile);
BOOL WINAPI CloseHandle(HANDLE object);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh);
HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD maximumSizeHigh,
                                 DWORD maximumSizeLow, LPCSTR name);
LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes);
BOOL WINAPI UnmapViewOfFile(LPCVOID view);
DWORD WINAPI GetFileAttributesA(LPCSTR fileName);
BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName);
BOOL WINAPI DeleteFileA(LPCSTR fileName);
BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI RemoveDirectoryA(LPCSTR pathName);
HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData);
BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData);
BOOL WINAPI FindClose(HANDLE findFile);

// Profiles.
BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);

// Memory.
HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
HGLOBAL WINAPI GlobalFree(HGLOBAL memory);
HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes);
HLOCAL WINAPI LocalFree(HLOCAL memory);
}
