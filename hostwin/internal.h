// What hostwin's library files share among themselves: the machine, fault checks, records.
#pragma once
#include <hostwin/control.h>
#include <hostwin/windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace hostwin::detail {

// Counts a call and tells whether an injected fault makes it fail this time.
std::optional<Fault> Enter(const char *call);

// Resolves a Windows path handed to the API into the machine folder. On failure returns nullopt
// and leaves in *error the code Windows gives for such a path (ERROR_PATH_NOT_FOUND and so on).
std::optional<std::filesystem::path> Resolve(const char *windowsPath, DWORD *error);

// The Windows directories of the machine.
std::string WindowsDirectory();   // "C:\\WINDOWS"
std::string SystemDirectory();    // "C:\\WINDOWS\\SYSTEM"
std::string TempDirectory();      // "C:\\WINDOWS\\TEMP\\"
std::string ProgramsDirectory();  // "C:\\WINDOWS\\Start Menu\\Programs"

// Platform and code page as set by control, environment or the machine's hostwin.ini.
Platform CurrentPlatform();
unsigned CurrentCodePage();

// Appends one tab-separated line to $HOSTWIN_JOURNAL, if set, under a lock.
void Journal(const std::string &line);

// Windows-style case-insensitive comparison of names (ASCII letters fold).
bool SameName(const std::string &a, const std::string &b);

// COM object bookkeeping for LiveComObjects.
void ComObjectCreated();
void ComObjectDestroyed();

// A shell link file as the link object saves it (the binary shell link format).
struct ShellLink {
    std::string target;       // the link target's path
    std::string description;  // empty when none
    std::string arguments;    // empty when none
    std::string iconLocation; // empty when none
    int iconIndex = 0;
    std::string workingDirectory;
};
// Writes and reads the format; ReadShellLink gives nullopt for a file that is not a shell link.
bool WriteShellLink(const std::filesystem::path &file, const ShellLink &link);
std::optional<ShellLink> ReadShellLink(const std::filesystem::path &file);

// Starts a host process for a Windows command line whose program is already resolved, with the
// exact command line handed over through HOSTWIN_CMDLINE; returns the host pid, or -1.
int StartProcess(const std::filesystem::path &program, const std::string &commandLine,
                 const std::vector<std::string> &environment);

// Each library file empties its own records for ResetControls.
void ResetUser32();
void ResetShell();

// Recorded for the controls.
void RecordMessageBox(const MessageBoxRecord &record);
std::optional<int> NextMessageBoxAnswer();
void RecordStartedCommand(const std::string &commandLine);

}  // namespace hostwin::detail
