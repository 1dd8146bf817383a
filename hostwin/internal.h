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
// One item of HOSTWIN_FAULTS, "Name:when[:error[:result]]"; nullopt when it cannot be read.
std::optional<Fault> ParseFault(const std::string &item);

// Resolves a Windows path handed to the API into the machine folder. On failure returns nullopt
// and leaves in *error the code Windows gives for such a path (ERROR_PATH_NOT_FOUND and so on).
// Succeeds when every folder above the last component exists; the last one may not exist yet.
// Wildcards are invalid names here (see ResolvePattern).
std::optional<std::filesystem::path> Resolve(const char *windowsPath, DWORD *error);
// The same against a given current directory (a Windows path; nullopt: none inside the machine).
std::optional<std::filesystem::path> ResolveFrom(const char *windowsPath,
                                                 const std::optional<std::string> &currentDirectory,
                                                 DWORD *error);
// For searches: resolves the folder part and leaves the last component, wildcards allowed, in
// *pattern ("" when the path ends in a backslash).
std::optional<std::filesystem::path> ResolvePattern(const char *windowsPattern, DWORD *error,
                                                    std::string *pattern);
// Does a file name match a search pattern (* and ?, case-insensitive, "*.*" matches every name)?
bool MatchesPattern(const std::string &name, const std::string &pattern);
// The Windows path of the process's current directory; nullopt when it lies outside the machine.
std::optional<std::string> CurrentDirectory();
// A setting of the machine's hostwin.ini, section [Machine].
std::optional<std::string> MachineSetting(const std::string &key);

// The exact command line GetCommandLineA reports; main sets it before the program starts.
void SetCommandLine(const std::string &commandLine);
// The Windows command line for host arguments: argv[0] and the arguments joined by blanks, an
// argument with blanks, tabs or quotes, or an empty one, quoted as Windows' own rules read back.
std::string CommandLineFromArguments(const std::vector<std::string> &arguments);

// The Windows directories of the machine.
std::string WindowsDirectory();   // "C:\\WINDOWS"
std::string SystemDirectory();    // "C:\\WINDOWS\\SYSTEM"
std::string TempDirectory();      // "C:\\WINDOWS\\TEMP\\"
std::string ProgramsDirectory();  // "C:\\WINDOWS\\Start Menu\\Programs"

// Profile (.ini) text: the value of a key in a section (nullopt when there is none), and the text
// as WritePrivateProfileStringA leaves it (a null key drops the section, a null value the key).
std::optional<std::string> ProfileValue(const std::string &content, const std::string &section, const std::string &key);
std::string EditProfile(const std::string &content, const std::string &section, const char *key, const char *value);

// Splits text at every separator; n separators give n + 1 parts.
std::vector<std::string> Split(const std::string &text, char separator);

// Platform and code page as set by control, environment or the machine's hostwin.ini.
Platform CurrentPlatform();
unsigned CurrentCodePage();
// Is the byte a lead byte of a double-byte character in that code page (932, 936, 949, 950)?
bool IsLeadByteIn(unsigned codePage, unsigned char byte);

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
// The same from a given host working directory (null: the caller's); *startError gets the errno
// of a start that failed.
int StartProcessIn(const std::filesystem::path &program, const std::string &commandLine,
                   const std::vector<std::string> &environment, const std::filesystem::path *workingDirectory,
                   int *startError);

// A program named by the first word of a command line, found as WinExec finds it, and the command
// line to start it with (a shell link's target and arguments in place of the link).
struct ProgramToStart {
    std::filesystem::path program;  // host path of an ELF executable or a #! script
    std::string commandLine;
    DWORD error = 0;                // when not found or not startable: the Win32 error
};
ProgramToStart FindProgram(const std::string &commandLine, const std::optional<std::string> &currentDirectory,
                           bool searchProgramDirectory);

// Each library file empties its own records for ResetControls.
void ResetUser32();
void ResetShell();

// Recorded for the controls.
void RecordMessageBox(const MessageBoxRecord &record);
std::optional<int> NextMessageBoxAnswer();
void RecordStartedCommand(const std::string &commandLine);

}  // namespace hostwin::detail
