// Test controls of the hostwin machine, apart from the Win32 names: faults, counts, platform,
// answers for message boxes, and read access to the machine's registry and records.
// Out-of-process tests steer the same controls through the HOSTWIN_* variables in hostwin/README.md.
#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace hostwin {

// The machine folder: $HOSTWIN_ROOT, else ~/.hostwin; laid out as a fresh Windows 95 on first use.
std::filesystem::path MachineRoot();
// Points this process (and the programs it starts) at another machine folder.
void UseMachine(const std::filesystem::path &root);
// The host path a Windows path names inside the machine; nullopt where Windows would fail the path
// or where it would leave the machine folder.
std::optional<std::filesystem::path> HostPath(const std::string &windowsPath);
// The Windows path of a host path inside the machine; nullopt outside it.
std::optional<std::string> WindowsPath(const std::filesystem::path &hostPath);
// Copies a host file (a built program, a fixture) into the machine at a Windows path, making the
// folders above it and keeping its permission bits; false where the path fails.
bool PlaceFile(const std::filesystem::path &hostFile, const std::string &windowsPath);

// Fault injection. Call names are the Win32 names ("RegCreateKeyExA") and, for COM methods,
// "Interface.Method" ("IPersistFile.Save", "IShellLinkA.QueryInterface", "IMalloc.Free").
struct Fault {
    std::string call;
    unsigned nth = 1;    // the first call (counted from now) that fails
    unsigned count = 1;  // how many calls in a row fail from there; 0 = every one
    uint32_t error = 0;  // the error: last error, LONG result or HRESULT as the call reports errors
    std::optional<int64_t> result;  // the call's result, where it differs from its usual failure value
};
void InjectFault(const Fault &fault);
void ClearFaults();
// Calls made to a name since the last ResetCounts (faulted calls included).
unsigned CallCount(const std::string &call);
void ResetCounts();

// What GetVersionExA reports.
enum class Platform { Windows95, WindowsNT, Win32s, Failing };
void SetPlatform(Platform platform);
// The ANSI code page (1252 unless set; 932 makes IsDBCSLeadByte know Shift-JIS lead bytes).
void SetCodePage(unsigned codePage);

// Message boxes: answers used in turn; when none are queued a box is answered as a person who
// dismisses it would (IDOK, or IDNO for Yes/No), or asked on an interactive terminal.
struct MessageBoxRecord {
    uintptr_t owner;
    std::string text;
    std::string caption;
    unsigned style;
    int answer;
};
void QueueMessageBoxAnswers(const std::vector<int> &answers);
std::vector<MessageBoxRecord> MessageBoxes();

// Programs started by WinExec in this process, with their command lines as given.
std::vector<std::string> StartedCommands();

// Blocks from GlobalAlloc and LocalAlloc in this process not freed yet.
unsigned LiveMemoryBlocks();

// COM objects of hostwin alive now (link objects and their interfaces' owners).
int LiveComObjects();

// The shell allocator since the last reset: the item-ID lists SHGetSpecialFolderLocation handed
// out and every block given to IMalloc.Free, in order; and how many of its blocks are allocated now.
struct ShellAllocatorRecord {
    std::vector<uintptr_t> itemLists;
    std::vector<uintptr_t> freed;
    size_t liveBlocks = 0;
};
ShellAllocatorRecord ShellAllocations();

// Registry of the machine, read directly. Key paths start with the root's name,
// as "HKEY_LOCAL_MACHINE\\Software\\Halvane".
bool RegistryKeyExists(const std::string &key);
std::optional<std::string> RegistryString(const std::string &key, const std::string &value);
std::optional<uint32_t> RegistryDword(const std::string &key, const std::string &value);

// Runs a hostwin program with an exact Windows command line, from a host working directory,
// waits for it and returns its exit code (the low 8 bits, as a host process reports it), or -1000
// when it cannot be started. Extra environment entries are "NAME=value".
int RunProgram(const std::string &commandLine, const std::filesystem::path &workingDirectory,
               const std::vector<std::string> &environment = {});

// Back to the machine's own settings: no faults, counts zero, no answers, records emptied.
void ResetControls();

}  // namespace hostwin
