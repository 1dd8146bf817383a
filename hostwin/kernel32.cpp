// kernel32: the process, its errors and code page, files and folders of the machine, profiles,
// memory, and starting programs; each as Windows 95 behaves, on the machine folder.
#include "internal.h"
#include "support/ansi_text.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <type_traits>
#include <variant>

namespace fs = std::filesystem;
using hostwin::Fault;
using hostwin::Platform;
namespace detail = hostwin::detail;

namespace {

thread_local DWORD lastError = 0;

void SetError(DWORD error) { lastError = error; }

// A faulted call fails with the fault's error (or the call's usual one) and result.
template <class T>
T FaultResult(const Fault &fault, DWORD usualError, T failure)
{
    SetError(fault.error != 0 ? fault.error : usualError);
    if (!fault.result)
        return failure;
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>((intptr_t)*fault.result);
    else
        return static_cast<T>(*fault.result);
}

// ---- Journal -------------------------------------------------------------------------------

// Journal fields are written as the other libraries write them (tabs and line ends escaped).
std::string Field(const char *text) { return text == nullptr ? "NULL" : detail::JournalField(text); }

std::string Number(uint64_t value) { return std::to_string(value); }

std::string Hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", (unsigned long long)value);
    return text;
}

// "Name<TAB>arg...<TAB>=> result", the result followed by " error N" when the call failed.
void JournalCall(const char *name, std::initializer_list<std::string> arguments, const std::string &result,
                 bool failed)
{
    std::string line = name;
    for (const std::string &argument : arguments)
        line += "\t" + argument;
    line += "\t=> " + result;
    if (failed)
        line += " error " + Number(lastError);
    detail::Journal(line);
}

BOOL JournalBool(const char *name, std::initializer_list<std::string> arguments, BOOL result)
{
    JournalCall(name, arguments, Number(result ? 1 : 0), !result);
    return result;
}

// ---- Host errors and files -----------------------------------------------------------------

DWORD ErrorFromErrno(int error, DWORD missing = ERROR_FILE_NOT_FOUND)
{
    switch (error) {
    case ENOENT:
        return missing;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC:
    case EIO:
        return ERROR_WRITE_FAULT;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// The read-only attribute is the owner's write permission. Checked by hand: the host user may be
// one whom permissions do not stop.
bool IsReadOnly(const struct stat &info) { return (info.st_mode & S_IWUSR) == 0; }

DWORD Attributes(const struct stat &info)
{
    DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (IsReadOnly(info))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

FILETIME FileTime(const struct timespec &time)
{
    // 100-nanosecond ticks since 1601-01-01.
    uint64_t ticks = ((uint64_t)time.tv_sec + 11644473600ULL) * 10000000ULL + (uint64_t)time.tv_nsec / 100;
    return FILETIME{(DWORD)ticks, (DWORD)(ticks >> 32)};
}

// The drive folder a resolved host path lies in (its first component below the machine folder).
std::string DriveOf(const fs::path &host)
{
    fs::path relative = host.lexically_relative(hostwin::MachineRoot());
    return relative.empty() ? std::string() : relative.begin()->native();
}

bool IsDriveRoot(const fs::path &host)
{
    std::error_code ec;
    fs::path parent = fs::canonical(host, ec).parent_path();
    return !ec && parent == hostwin::MachineRoot();
}

// The last component of a Windows path as the path names it (case kept, trailing dots and blanks
// gone), for renames that only change the case of a name.
std::string LastComponent(const char *windowsPath)
{
    std::string text = windowsPath;
    size_t at = text.find_last_of("\\/:");
    std::string last = at == std::string::npos ? text : text.substr(at + 1);
    while (!last.empty() && (last.back() == '.' || last.back() == ' '))
        last.pop_back();
    return last;
}

// ---- Handles -------------------------------------------------------------------------------

struct FileObject {
    int fd;
};
struct FindObject {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};
struct MappingObject {
    int fd;
    uint64_t size;
};
using Object = std::variant<FileObject, FindObject, MappingObject>;

std::mutex handleMutex;
std::map<uintptr_t, Object> handles;
uintptr_t nextHandle = 0x100;
std::map<uintptr_t, size_t> views;  // mapped views: address and length

HANDLE AddHandle(Object object)
{
    std::lock_guard<std::mutex> lock(handleMutex);
    uintptr_t value = nextHandle;
    nextHandle += 4;
    handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

template <class T>
std::optional<T> Lookup(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(handleMutex);
    auto it = handles.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles.end() || !std::holds_alternative<T>(it->second))
        return std::nullopt;
    return std::get<T>(it->second);
}

// ---- Memory --------------------------------------------------------------------------------

std::mutex memoryMutex;
std::set<void *> blocks;

void *Allocate(UINT flags, SIZE_T bytes)
{
    // Moveable memory needs the lock/unlock calls, which the programs do not use.
    const UINT supported = GMEM_ZEROINIT | 0x0010 /*NOCOMPACT*/ | 0x0020 /*NODISCARD*/ | 0x2000 /*SHARE*/;
    if ((flags & ~supported) != 0) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (bytes > 0x7FFFFFFF) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void *block = (flags & GMEM_ZEROINIT) ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    if (block == nullptr) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(memoryMutex);
    blocks.insert(block);
    return block;
}

void *Release(void *block)
{
    if (block == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> lock(memoryMutex);
    if (blocks.erase(block) == 0) {
        SetError(ERROR_INVALID_HANDLE);
        return block;
    }
    std::free(block);
    return nullptr;
}

// ---- Code pages ----------------------------------------------------------------------------

// Code page 1252's bytes 0x80-0x9F; the five it leaves undefined stand for the C1 controls.
const char16_t cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

const char16_t DEFAULT_932 = 0x30FB;  // the katakana middle dot Windows puts for what 932 lacks

// Shift-JIS pairs this machine knows: the ideographic space, full-width digits and Latin
// letters, hiragana and katakana. Other valid pairs become the default character.
char16_t Pair932(unsigned lead, unsigned trail)
{
    unsigned code = lead << 8 | trail;
    if (code == 0x8140)
        return 0x3000;
    if (code >= 0x824F && code <= 0x8258)
        return (char16_t)(0xFF10 + code - 0x824F);
    if (code >= 0x8260 && code <= 0x8279)
        return (char16_t)(0xFF21 + code - 0x8260);
    if (code >= 0x8281 && code <= 0x829A)
        return (char16_t)(0xFF41 + code - 0x8281);
    if (code >= 0x829F && code <= 0x82F1)
        return (char16_t)(0x3041 + code - 0x829F);
    if (code >= 0x8340 && code <= 0x837E)
        return (char16_t)(0x30A1 + code - 0x8340);
    if (code >= 0x8380 && code <= 0x8396)
        return (char16_t)(0x30E0 + code - 0x8380);
    return DEFAULT_932;
}

// Converts; false when a byte sequence is invalid and invalid ones are refused.
bool ToWide(unsigned codePage, const unsigned char *text, size_t length, bool refuseInvalid, std::u16string *out)
{
    for (size_t i = 0; i < length; i++) {
        unsigned char c = text[i];
        if (codePage == 1252) {
            *out += c >= 0x80 && c <= 0x9F ? cp1252High[c - 0x80] : (char16_t)c;
            continue;
        }
        // 932
        if (c < 0x80) {
            *out += (char16_t)c;
        } else if (c >= 0xA1 && c <= 0xDF) {
            *out += (char16_t)(0xFF61 + c - 0xA1);
        } else if (detail::IsLeadByteIn(932, c)) {
            unsigned char trail = i + 1 < length ? text[i + 1] : 0;
            bool validTrail = (trail >= 0x40 && trail <= 0x7E) || (trail >= 0x80 && trail <= 0xFC);
            if (!validTrail) {
                if (refuseInvalid)
                    return false;
                *out += DEFAULT_932;
                continue;
            }
            *out += Pair932(c, trail);
            i++;
        } else if (c == 0x80) {
            *out += (char16_t)0x0080;
        } else {
            // 0xA0 and 0xFD-0xFF stand for private-use characters.
            *out += (char16_t)(c == 0xA0 ? 0xF8F0 : 0xF8F1 + (c - 0xFD));
        }
    }
    return true;
}

// ---- Command line --------------------------------------------------------------------------

std::mutex commandLineMutex;
std::vector<char> commandLineText;

std::vector<char> TextOf(const std::string &text)
{
    std::vector<char> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

// Directories and environment texts: the length on success, or the size needed (NUL included)
// when the buffer is too small, in which case nothing is written.
DWORD CopyOut(const std::string &text, LPSTR buffer, DWORD size)
{
    if (buffer == nullptr || size < text.size() + 1)
        return (DWORD)text.size() + 1;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return (DWORD)text.size();
}

// ---- Finding files -------------------------------------------------------------------------

bool ValidWindowsName(const std::string &name)
{
    if (name.empty() || name.size() >= MAX_PATH)
        return false;
    for (unsigned char c : name)
        if (c < 32 || std::strchr("<>|\":*?\\", c) != nullptr)
            return false;
    return true;
}

// The 8.3 alias a long name gets; empty when the name is a valid short name already.
std::string ShortAlias(const std::string &name)
{
    if (name == "." || name == "..")
        return std::string();
    size_t dot = name.rfind('.');
    std::string base = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    std::string extension = dot == std::string::npos || dot == 0 ? std::string() : name.substr(dot + 1);
    auto shortChar = [](unsigned char c) { return c > 32 && std::strchr(" .\"/\\[]:;=,+*?<>|", c) == nullptr; };
    bool valid = !base.empty() && base.size() <= 8 && extension.size() <= 3 &&
                 std::all_of(base.begin(), base.end(), shortChar) &&
                 std::all_of(extension.begin(), extension.end(), shortChar);
    if (valid)
        return std::string();
    auto squeeze = [&](const std::string &text, size_t limit) {
        std::string out;
        for (unsigned char c : text)
            if (shortChar(c) && out.size() < limit)
                out += (char)std::toupper(c);
        return out;
    };
    std::string alias = squeeze(base, 6) + "~1";
    std::string shortExtension = squeeze(extension, 3);
    if (!shortExtension.empty())
        alias += "." + shortExtension;
    return alias;
}

std::optional<WIN32_FIND_DATAA> FindData(const fs::path &folder, const std::string &name)
{
    if (!ValidWindowsName(name))
        return std::nullopt;
    fs::path entry = folder / name;
    struct stat info;
    if (::lstat(entry.c_str(), &info) != 0)
        return std::nullopt;
    if (S_ISLNK(info.st_mode)) {
        // A link that leads out of the machine does not exist for Windows.
        std::error_code ec;
        fs::path target = fs::canonical(entry, ec);
        if (ec || !hostwin::WindowsPath(target) || ::stat(target.c_str(), &info) != 0)
            return std::nullopt;
    }
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = Attributes(info);
    data.ftCreationTime = FileTime(info.st_mtim);
    data.ftLastAccessTime = FileTime(info.st_atim);
    data.ftLastWriteTime = FileTime(info.st_mtim);
    if (!S_ISDIR(info.st_mode)) {
        data.nFileSizeHigh = (DWORD)((uint64_t)info.st_size >> 32);
        data.nFileSizeLow = (DWORD)info.st_size;
    }
    std::memcpy(data.cFileName, name.c_str(), name.size() + 1);
    std::string alias = ShortAlias(name);
    std::memcpy(data.cAlternateFileName, alias.c_str(), alias.size() + 1);
    return data;
}

// ---- Programs started ----------------------------------------------------------------------

std::mutex childMutex;
std::vector<int> children;

// Programs started with WinExec are never waited for; the ones that have ended are reaped here.
void ReapChildren()
{
    std::lock_guard<std::mutex> lock(childMutex);
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [](int pid) {
                                      int status;
                                      return ::waitpid(pid, &status, WNOHANG) != 0;
                                  }),
                   children.end());
}

}  // namespace

namespace hostwin {

unsigned LiveMemoryBlocks()
{
    std::lock_guard<std::mutex> lock(memoryMutex);
    return (unsigned)blocks.size();
}

namespace detail {

void SetCommandLine(const std::string &commandLine)
{
    std::lock_guard<std::mutex> lock(commandLineMutex);
    commandLineText = TextOf(commandLine);
}

std::string CommandLineFromArguments(const std::vector<std::string> &arguments)
{
    std::string line;
    for (size_t n = 0; n < arguments.size(); n++) {
        const std::string &argument = arguments[n];
        if (n > 0)
            line += ' ';
        if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += argument;
            continue;
        }
        // Quoted so that Windows' reading of arguments gives the same text back: backslashes are
        // doubled where a quote follows them, and inner quotes escaped.
        line += '"';
        size_t backslashes = 0;
        for (char c : argument) {
            if (c == '\\') {
                backslashes++;
                continue;
            }
            if (c == '"') {
                line.append(backslashes * 2 + 1, '\\');
            } else {
                line.append(backslashes, '\\');
            }
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, '\\');
        line += '"';
    }
    return line;
}

}  // namespace detail
}  // namespace hostwin

extern "C" {

// ---- Process -------------------------------------------------------------------------------

LPSTR WINAPI GetCommandLineA(void)
{
    if (auto fault = detail::Enter("GetCommandLineA"))
        return FaultResult<LPSTR>(*fault, 0, nullptr);
    std::lock_guard<std::mutex> lock(commandLineMutex);
    if (commandLineText.empty()) {
        // Not entered through hostwin's main: the host arguments stand for the command line.
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::vector<std::string> arguments;
        size_t start = 0;
        while (start < raw.size()) {
            size_t end = raw.find('\0', start);
            if (end == std::string::npos)
                end = raw.size();
            arguments.push_back(raw.substr(start, end - start));
            start = end + 1;
        }
        commandLineText = TextOf(detail::CommandLineFromArguments(arguments));
    }
    return commandLineText.data();
}

void WINAPI GetStartupInfoA(LPSTARTUPINFOA startupInfo)
{
    if (auto fault = detail::Enter("GetStartupInfoA")) {
        SetError(fault->error);
        return;
    }
    std::memset(startupInfo, 0, sizeof *startupInfo);
    startupInfo->cb = sizeof *startupInfo;
    // HOSTWIN_SHOW is the show state the starting program asked for, as WinExec passes it.
    const char *show = std::getenv("HOSTWIN_SHOW");
    if (show != nullptr && *show != 0) {
        char *end = nullptr;
        unsigned long value = std::strtoul(show, &end, 10);
        if (end != nullptr && *end == 0 && value <= 0xFFFF) {
            startupInfo->dwFlags = STARTF_USESHOWWINDOW;
            startupInfo->wShowWindow = (WORD)value;
        }
    }
}

// Windows 95 loads programs at 0x400000; the value is the program's module handle.
static HMODULE const OWN_MODULE = reinterpret_cast<HMODULE>((uintptr_t)0x400000);

static std::string OwnFileName()
{
    std::error_code ec;
    return fs::read_symlink("/proc/self/exe", ec).filename().native();
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    if (auto fault = detail::Enter("GetModuleHandleA"))
        return FaultResult<HMODULE>(*fault, ERROR_MOD_NOT_FOUND, nullptr);
    if (moduleName == nullptr)
        return OWN_MODULE;
    std::string own = OwnFileName();
    std::string name = LastComponent(moduleName);
    if (detail::SameName(name, own) || detail::SameName(name + ".exe", own) || detail::SameName(name, own + ".exe"))
        return OWN_MODULE;
    SetError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    if (auto fault = detail::Enter("GetModuleFileNameA"))
        return FaultResult<DWORD>(*fault, ERROR_INVALID_PARAMETER, 0);
    if (module != nullptr && module != OWN_MODULE) {
        SetError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    std::optional<std::string> path = ec ? std::nullopt : hostwin::WindowsPath(self);
    if (!path) {
        // A program that does not lie in the machine has no Windows name.
        SetError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    if (size == 0 || fileName == nullptr) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path->size() + 1 > size) {
        std::memcpy(fileName, path->c_str(), size - 1);
        fileName[size - 1] = 0;
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(fileName, path->c_str(), path->size() + 1);
    return (DWORD)path->size();
}

void WINAPI ExitProcess(UINT exitCode)
{
    detail::Enter("ExitProcess");
    // The journal is written line by line, unbuffered; the host streams are flushed by exit.
    std::fflush(nullptr);
    std::exit((int)exitCode);
}

UINT WINAPI WinExec(LPCSTR commandLine, UINT showCommand)
{
    auto finish = [&](UINT result) {
        JournalCall("WinExec", {Field(commandLine), Number(showCommand)}, Number(result), result < 32);
        return result;
    };
    if (auto fault = detail::Enter("WinExec")) {
        DWORD error = fault->error != 0 ? fault->error : ERROR_FILE_NOT_FOUND;
        SetError(error);
        return finish(fault->result ? (UINT)*fault->result : (error < 32 ? (UINT)error : 0));
    }
    if (commandLine == nullptr) {
        SetError(ERROR_FILE_NOT_FOUND);
        return finish(ERROR_FILE_NOT_FOUND);
    }
    ReapChildren();
    detail::ProgramToStart start = detail::FindProgram(commandLine, detail::CurrentDirectory(), true);
    if (start.error != 0) {
        SetError(start.error);
        // WinExec reports its failures as values below 32.
        UINT result = start.error < 32 ? (UINT)start.error
                                       : (start.error == ERROR_BAD_NETPATH ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return finish(result);
    }
    int startError = 0;
    int pid = detail::StartProcessIn(start.program, start.commandLine, {"HOSTWIN_SHOW=" + Number(showCommand)},
                                     nullptr, &startError);
    if (pid < 0) {
        UINT result = startError == ENOEXEC ? ERROR_BAD_FORMAT
                      : startError == ENOENT ? ERROR_FILE_NOT_FOUND
                      : startError == EACCES ? ERROR_ACCESS_DENIED
                                             : 0;  // out of system resources
        SetError(result != 0 ? result : ERROR_NOT_ENOUGH_MEMORY);
        return finish(result);
    }
    {
        std::lock_guard<std::mutex> lock(childMutex);
        children.push_back(pid);
    }
    detail::RecordStartedCommand(commandLine);
    return finish(33);
}

// ---- Errors --------------------------------------------------------------------------------

DWORD WINAPI GetLastError(void)
{
    if (auto fault = detail::Enter("GetLastError"))
        return fault->result ? (DWORD)*fault->result : fault->error;
    return lastError;
}

void WINAPI SetLastError(DWORD error)
{
    if (auto fault = detail::Enter("SetLastError"))
        return;
    lastError = error;
}

// ---- Code pages ----------------------------------------------------------------------------

UINT WINAPI GetACP(void)
{
    if (auto fault = detail::Enter("GetACP"))
        return FaultResult<UINT>(*fault, 0, 0);
    return detail::CurrentCodePage();
}

BOOL WINAPI IsDBCSLeadByte(BYTE testChar)
{
    if (auto fault = detail::Enter("IsDBCSLeadByte"))
        return FaultResult<BOOL>(*fault, 0, FALSE);
    return detail::IsLeadByteIn(detail::CurrentCodePage(), testChar) ? TRUE : FALSE;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength, LPWSTR wideChar,
                               int wideCharLength)
{
    if (auto fault = detail::Enter("MultiByteToWideChar"))
        return FaultResult<int>(*fault, ERROR_INVALID_PARAMETER, 0);
    unsigned page = codePage == CP_ACP ? detail::CurrentCodePage() : codePage;
    if (page != 1252 && page != 932) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD knownFlags = MB_PRECOMPOSED | 0x2 /*MB_COMPOSITE*/ | 0x4 /*MB_USEGLYPHCHARS*/ | MB_ERR_INVALID_CHARS;
    if ((flags & ~knownFlags) != 0) {
        SetError(1004);  // ERROR_INVALID_FLAGS
        return 0;
    }
    if (multiByte == nullptr || multiByteLength == 0 || multiByteLength < -1 || wideCharLength < 0 ||
        (wideChar == nullptr && wideCharLength != 0)) {
        SetError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = multiByteLength == -1 ? std::strlen(multiByte) + 1 : (size_t)multiByteLength;
    std::u16string wide;
    if (!ToWide(page, (const unsigned char *)multiByte, length, (flags & MB_ERR_INVALID_CHARS) != 0, &wide)) {
        SetError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (wideCharLength == 0)
        return (int)wide.size();
    if (wide.size() > (size_t)wideCharLength) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(wideChar, wide.data(), wide.size() * sizeof(WCHAR));
    return (int)wide.size();
}

// ---- The system's folders ------------------------------------------------------------------

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer)
{
    if (auto fault = detail::Enter("GetCurrentDirectoryA"))
        return FaultResult<DWORD>(*fault, ERROR_PATH_NOT_FOUND, 0);
    std::optional<std::string> current = detail::CurrentDirectory();
    if (!current) {
        // The host process stands in a folder outside the machine: it has no Windows name.
        SetError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    return CopyOut(*current, buffer, size);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    if (auto fault = detail::Enter("GetSystemDirectoryA"))
        return FaultResult<UINT>(*fault, ERROR_INVALID_PARAMETER, 0);
    return CopyOut(detail::SystemDirectory(), buffer, size);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    if (auto fault = detail::Enter("GetWindowsDirectoryA"))
        return FaultResult<UINT>(*fault, ERROR_INVALID_PARAMETER, 0);
    return CopyOut(detail::WindowsDirectory(), buffer, size);
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer)
{
    if (auto fault = detail::Enter("GetTempPathA"))
        return FaultResult<DWORD>(*fault, ERROR_INVALID_PARAMETER, 0);
    return CopyOut(detail::TempDirectory(), buffer, size);
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR pathName)
{
    if (auto fault = detail::Enter("SetCurrentDirectoryA"))
        return FaultResult<BOOL>(*fault, ERROR_PATH_NOT_FOUND, FALSE);
    DWORD error = 0;
    std::optional<fs::path> host = detail::Resolve(pathName, &error);
    if (!host) {
        SetError(error);
        return FALSE;
    }
    struct stat info;
    if (::stat(host->c_str(), &info) != 0) {
        SetError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (!S_ISDIR(info.st_mode)) {
        SetError(ERROR_DIRECTORY);
        return FALSE;
    }
    if (::chdir(host->c_str()) != 0) {
        SetError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

// ---- Environment and strings ---------------------------------------------------------------

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    if (auto fault = detail::Enter("GetEnvironmentVariableA"))
        return FaultResult<DWORD>(*fault, ERROR_ENVVAR_NOT_FOUND, 0);
    const char *value = name != nullptr ? std::getenv(name) : nullptr;
    if (value == nullptr) {
        SetError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    return CopyOut(value, buffer, size);
}

int WINAPI lstrlenA(LPCSTR text)
{
    if (auto fault = detail::Enter("lstrlenA"))
        return FaultResult<int>(*fault, 0, 0);
    return text == nullptr ? 0 : (int)std::strlen(text);
}

LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source)
{
    if (auto fault = detail::Enter("lstrcpyA"))
        return FaultResult<LPSTR>(*fault, 0, nullptr);
    if (destination == nullptr || source == nullptr)
        return nullptr;
    return std::strcpy(destination, source);
}

LPSTR WINAPI lstrcatA(LPSTR destination, LPCSTR source)
{
    if (auto fault = detail::Enter("lstrcatA"))
        return FaultResult<LPSTR>(*fault, 0, nullptr);
    if (destination == nullptr || source == nullptr)
        return nullptr;
    return std::strcat(destination, source);
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b)
{
    if (auto fault = detail::Enter("lstrcmpiA"))
        return FaultResult<int>(*fault, 0, 0);
    if (a == nullptr || b == nullptr)
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    for (;; a++, b++) {
        int x = std::tolower((unsigned char)*a), y = std::tolower((unsigned char)*b);
        if (x != y)
            return x < y ? -1 : 1;
        if (x == 0)
            return 0;
    }
}

// ---- Version -------------------------------------------------------------------------------

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA versionInfo)
{
    if (auto fault = detail::Enter("GetVersionExA"))
        return FaultResult<BOOL>(*fault, ERROR_INVALID_PARAMETER, FALSE);
    if (versionInfo == nullptr) {
        SetError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (versionInfo->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
        SetError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    switch (detail::CurrentPlatform()) {
    case Platform::Windows95:
        // Windows 95 repeats its version in the high word of the build number: 4.00.950.
        versionInfo->dwMajorVersion = 4;
        versionInfo->dwMinorVersion = 0;
        versionInfo->dwBuildNumber = 0x04000000 | 950;
        versionInfo->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        break;
    case Platform::WindowsNT:
        versionInfo->dwMajorVersion = 4;
        versionInfo->dwMinorVersion = 0;
        versionInfo->dwBuildNumber = 1381;
        versionInfo->dwPlatformId = VER_PLATFORM_WIN32_NT;
        break;
    case Platform::Win32s:
        versionInfo->dwMajorVersion = 3;
        versionInfo->dwMinorVersion = 10;
        versionInfo->dwBuildNumber = 0;
        versionInfo->dwPlatformId = VER_PLATFORM_WIN32s;
        break;
    case Platform::Failing:
        SetError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    std::memset(versionInfo->szCSDVersion, 0, sizeof versionInfo->szCSDVersion);
    return TRUE;
}

// ---- Files ---------------------------------------------------------------------------------

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creation, DWORD flags, HANDLE templateFile)
{
    (void)shareMode;  // no sharing violations on this machine
    (void)security;
    (void)templateFile;
    bool writing = (access & GENERIC_WRITE) != 0;
    bool creating = creation == CREATE_NEW || creation == CREATE_ALWAYS || creation == OPEN_ALWAYS;
    auto finish = [&](HANDLE handle) {
        if (writing || creating)
            JournalCall("CreateFileA", {Field(fileName), Hex(access), Number(creation)},
                        handle == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : Hex((uintptr_t)handle),
                        handle == INVALID_HANDLE_VALUE);
        return handle;
    };
    if (auto fault = detail::Enter("CreateFileA"))
        return finish(FaultResult<HANDLE>(*fault, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE));
    if (creation < CREATE_NEW || creation > TRUNCATE_EXISTING || (creation == TRUNCATE_EXISTING && !writing)) {
        SetError(ERROR_INVALID_PARAMETER);
        return finish(INVALID_HANDLE_VALUE);
    }
    DWORD error = 0;
    std::optional<fs::path> host = detail::Resolve(fileName, &error);
    if (!host) {
        SetError(error);
        return finish(INVALID_HANDLE_VALUE);
    }
    struct stat info;
    bool exists = ::stat(host->c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        SetError(ERROR_ACCESS_DENIED);
        return finish(INVALID_HANDLE_VALUE);
    }
    if (!exists && (creation == OPEN_EXISTING || creation == TRUNCATE_EXISTING)) {
        SetError(ERROR_FILE_NOT_FOUND);
        return finish(INVALID_HANDLE_VALUE);
    }
    if (exists && creation == CREATE_NEW) {
        SetError(ERROR_FILE_EXISTS);
        return finish(INVALID_HANDLE_VALUE);
    }
    bool truncating = exists && (creation == CREATE_ALWAYS || creation == TRUNCATE_EXISTING);
    if (exists && IsReadOnly(info) && (writing || truncating)) {
        SetError(ERROR_ACCESS_DENIED);
        return finish(INVALID_HANDLE_VALUE);
    }
    int mode = (access & GENERIC_READ) && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
    int openFlags = mode | O_CLOEXEC;
    if (!exists)
        openFlags |= O_CREAT | O_EXCL;
    if (truncating)
        openFlags |= O_TRUNC;
    // A file created read-only keeps its write access for this handle, as on Windows.
    mode_t permissions = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    if (truncating && mode == O_RDONLY)
        openFlags = (openFlags & ~O_ACCMODE) | O_RDWR;
    int fd = ::open(host->c_str(), openFlags, permissions);
    if (fd < 0) {
        SetError(ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
        return finish(INVALID_HANDLE_VALUE);
    }
    HANDLE handle = AddHandle(FileObject{fd});
    if (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS)
        SetError(exists ? ERROR_ALREADY_EXISTS : 0);
    return finish(handle);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped)
{
    (void)overlapped;
    if (read != nullptr)
        *read = 0;
    if (auto fault = detail::Enter("ReadFile"))
        return FaultResult<BOOL>(*fault, ERROR_ACCESS_DENIED, FALSE);
    std::optional<FileObject> object = Lookup<FileObject>(file);
    if (!object) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD done = 0;
    while (done < toRead) {
        ssize_t got = ::read(object->fd, (char *)buffer + done, toRead - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            SetError(ErrorFromErrno(errno));
            return FALSE;
        }
        if (got == 0)
            break;
        done += (DWORD)got;
    }
    if (read != nullptr)
        *read = done;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped)
{
    (void)overlapped;
    if (written != nullptr)
        *written = 0;
    auto finish = [&](BOOL result) {
        return JournalBool("WriteFile", {Hex((uintptr_t)file), Number(toWrite)}, result);
    };
    if (auto fault = detail::Enter("WriteFile"))
        return finish(FaultResult<BOOL>(*fault, ERROR_WRITE_FAULT, FALSE));
    std::optional<FileObject> object = Lookup<FileObject>(file);
    if (!object) {
        SetError(ERROR_INVALID_HANDLE);
        return finish(FALSE);
    }
    DWORD done = 0;
    while (done < toWrite) {
        ssize_t put = ::write(object->fd, (const char *)buffer + done, toWrite - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            SetError(put < 0 && errno == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
            if (written != nullptr)
                *written = done;
            return finish(FALSE);
        }
        done += (DWORD)put;
    }
    if (written != nullptr)
        *written = done;
    return finish(TRUE);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD sizeHigh)
{
    if (auto fault = detail::Enter("GetFileSize"))
        return FaultResult<DWORD>(*fault, ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
    std::optional<FileObject> object = Lookup<FileObject>(file);
    struct stat info;
    if (!object || ::fstat(object->fd, &info) != 0) {
        SetError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (sizeHigh != nullptr)
        *sizeHigh = (DWORD)((uint64_t)info.st_size >> 32);
    SetError(NO_ERROR);
    return (DWORD)info.st_size;
}

BOOL WINAPI CloseHandle(HANDLE object)
{
    if (auto fault = detail::Enter("CloseHandle"))
        return FaultResult<BOOL>(*fault, ERROR_INVALID_HANDLE, FALSE);
    std::lock_guard<std::mutex> lock(handleMutex);
    auto it = handles.find(reinterpret_cast<uintptr_t>(object));
    // Searches are closed with FindClose only.
    if (it == handles.end() || std::holds_alternative<FindObject>(it->second)) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (auto *file = std::get_if<FileObject>(&it->second))
        ::close(file->fd);
    if (auto *mapping = std::get_if<MappingObject>(&it->second))
        ::close(mapping->fd);
    handles.erase(it);
    return TRUE;
}

HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES security, DWORD protect, DWORD maximumSizeHigh,
                                 DWORD maximumSizeLow, LPCSTR name)
{
    (void)security;
    (void)name;
    if (auto fault = detail::Enter("CreateFileMappingA"))
        return FaultResult<HANDLE>(*fault, ERROR_ACCESS_DENIED, nullptr);
    std::optional<FileObject> object = Lookup<FileObject>(file);
    if (!object) {
        SetError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Read-only views of files are what this machine maps.
    if (protect != PAGE_READONLY) {
        SetError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    struct stat info;
    if (::fstat(object->fd, &info) != 0) {
        SetError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    uint64_t size = (uint64_t)maximumSizeHigh << 32 | maximumSizeLow;
    if (size == 0)
        size = (uint64_t)info.st_size;
    if (size == 0) {
        SetError(ERROR_FILE_INVALID);  // an empty file cannot be mapped
        return nullptr;
    }
    if (size > (uint64_t)info.st_size) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);  // a read-only mapping cannot grow its file
        return nullptr;
    }
    int fd = ::fcntl(object->fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return AddHandle(MappingObject{fd, size});
}

LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, SIZE_T bytes)
{
    if (auto fault = detail::Enter("MapViewOfFile"))
        return FaultResult<LPVOID>(*fault, ERROR_ACCESS_DENIED, nullptr);
    std::optional<MappingObject> object = Lookup<MappingObject>(mapping);
    if (!object) {
        SetError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((access & ~(DWORD)FILE_MAP_READ) != 0) {
        SetError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    uint64_t offset = (uint64_t)offsetHigh << 32 | offsetLow;
    if (offset % 65536 != 0) {
        SetError(1132);  // ERROR_MAPPED_ALIGNMENT: views start at the allocation granularity
        return nullptr;
    }
    if (offset >= object->size || (bytes != 0 && offset + bytes > object->size)) {
        SetError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    size_t length = bytes != 0 ? bytes : (size_t)(object->size - offset);
    void *view = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, object->fd, (off_t)offset);
    if (view == MAP_FAILED) {
        SetError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(handleMutex);
    views[(uintptr_t)view] = length;
    return view;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID view)
{
    if (auto fault = detail::Enter("UnmapViewOfFile"))
        return FaultResult<BOOL>(*fault, ERROR_INVALID_ADDRESS, FALSE);
    std::lock_guard<std::mutex> lock(handleMutex);
    auto it = views.find((uintptr_t)view);
    if (it == views.end()) {
        SetError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    ::munmap(const_cast<void *>(view), it->second);
    views.erase(it);
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName)
{
    if (auto fault = detail::Enter("GetFileAttributesA"))
        return FaultResult<DWORD>(*fault, ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    DWORD error = 0;
    std::optional<fs::path> host = detail::Resolve(fileName, &error);
    if (!host) {
        SetError(error);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat info;
    if (::stat(host->c_str(), &info) != 0) {
        SetError(ErrorFromErrno(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    return Attributes(info);
}

BOOL WINAPI MoveFileA(LPCSTR existingFileName, LPCSTR newFileName)
{
    auto finish = [&](BOOL result) {
        return JournalBool("MoveFileA", {Field(existingFileName), Field(newFileName)}, result);
    };
    if (auto fault = detail::Enter("MoveFileA"))
        return finish(FaultResult<BOOL>(*fault, ERROR_ACCESS_DENIED, FALSE));
    DWORD error = 0;
    std::optional<fs::path> source = detail::Resolve(existingFileName, &error);
    if (!source) {
        SetError(error);
        return finish(FALSE);
    }
    std::optional<fs::path> target = detail::Resolve(newFileName, &error);
    if (!target) {
        SetError(error);
        return finish(FALSE);
    }
    struct stat sourceInfo, targetInfo;
    if (::lstat(source->c_str(), &sourceInfo) != 0) {
        SetError(ERROR_FILE_NOT_FOUND);
        return finish(FALSE);
    }
    if (IsDriveRoot(*source)) {
        SetError(ERROR_ACCESS_DENIED);
        return finish(FALSE);
    }
    if (*source == *target) {
        // The same entry: a rename that changes only the case of its name.
        std::string name = LastComponent(newFileName);
        if (name != source->filename().native() && ::rename(source->c_str(), (source->parent_path() / name).c_str()) != 0) {
            SetError(ErrorFromErrno(errno));
            return finish(FALSE);
        }
        return finish(TRUE);
    }
    if (::lstat(target->c_str(), &targetInfo) == 0) {
        SetError(ERROR_FILE_EXISTS);
        return finish(FALSE);
    }
    bool directory = S_ISDIR(sourceInfo.st_mode);
    if (directory) {
        const std::string &from = source->native();
        if (target->native().compare(0, from.size() + 1, from + "/") == 0) {
            SetError(ERROR_ACCESS_DENIED);  // into itself
            return finish(FALSE);
        }
    }
    bool sameDrive = detail::SameName(DriveOf(*source), DriveOf(*target));
    if (sameDrive && ::rename(source->c_str(), target->c_str()) == 0)
        return finish(TRUE);
    if (sameDrive && errno != EXDEV) {
        SetError(ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
        return finish(FALSE);
    }
    // To another drive: files are copied and the original deleted; folders cannot go.
    if (directory) {
        SetError(ERROR_NOT_SAME_DEVICE);
        return finish(FALSE);
    }
    std::error_code ec;
    if (!fs::copy_file(*source, *target, fs::copy_options::none, ec) || ec) {
        fs::remove(*target, ec);
        SetError(ERROR_ACCESS_DENIED);
        return finish(FALSE);
    }
    if (::unlink(source->c_str()) != 0) {
        int saved = errno;
        fs::remove(*target, ec);
        SetError(ErrorFromErrno(saved));
        return finish(FALSE);
    }
    return finish(TRUE);
}

BOOL WINAPI DeleteFileA(LPCSTR fileName)
{
    auto finish = [&](BOOL result) { return JournalBool("DeleteFileA", {Field(fileName)}, result); };
    if (auto fault = detail::Enter("DeleteFileA"))
        return finish(FaultResult<BOOL>(*fault, ERROR_ACCESS_DENIED, FALSE));
    DWORD error = 0;
    std::optional<fs::path> host = detail::Resolve(fileName, &error);
    if (!host) {
        SetError(error);
        return finish(FALSE);
    }
    struct stat info;
    if (::lstat(host->c_str(), &info) != 0) {
        SetError(ERROR_FILE_NOT_FOUND);
        return finish(FALSE);
    }
    struct stat target = info;
    if (S_ISLNK(info.st_mode))
        ::stat(host->c_str(), &target);
    // Folders are not files, and read-only files are refused.
    if (S_ISDIR(target.st_mode) || (!S_ISLNK(info.st_mode) && IsReadOnly(info))) {
        SetError(ERROR_ACCESS_DENIED);
        return finish(FALSE);
    }
    if (::unlink(host->c_str()) != 0) {
        SetError(ErrorFromErrno(errno));
        return finish(FALSE);
    }
    return finish(TRUE);
}

BOOL WINAPI CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security)
{
    (void)security;
    auto finish = [&](BOOL result) { return JournalBool("CreateDirectoryA", {Field(pathName)}, result); };
    if (auto fault = detail::Enter("CreateDirectoryA"))
        return finish(FaultResult<BOOL>(*fault, ERROR_ACCESS_DENIED, FALSE));
    DWORD error = 0;
    std::optional<fs::path> host = detail::Resolve(pathName, &error);
    if (!host) {
        SetError(error);
        return finish(FALSE);
    }
    struct stat info;
    if (::lstat(host->c_str(), &info) == 0) {
        SetError(ERROR_ALREADY_EXISTS);
        return finish(FALSE);
    }
    if (::mkdir(host->c_str(), 0777) != 0) {
        SetError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
        return finish(FALSE);
    }
    return finish(TRUE);
}

BOOL WINAPI RemoveDirectoryA(LPCSTR pathName)
{
    auto finish = [&](BOOL result) { return JournalBool("RemoveDirectoryA", {Field(pathName)}, result); };
    if (auto fault = detail::Enter("RemoveDirectoryA"))
        return finish(FaultResult<BOOL>(*fault, ERROR_ACCESS_DENIED, FALSE));
    // Windows 95 removes folders through DOS, whose errors it passes on: a missing folder or a
    // file is "path not found", a folder that is not empty or is in use "access denied".
    bool nt = detail::CurrentPlatform() == Platform::WindowsNT;
    DWORD error = 0;
    std::optional<fs::path> host = detail::Resolve(pathName, &error);
    if (!host) {
        SetError(error);
        return finish(FALSE);
    }
    struct stat info;
    if (::lstat(host->c_str(), &info) != 0) {
        SetError(nt ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return finish(FALSE);
    }
    if (S_ISLNK(info.st_mode)) {
        struct stat target;
        if (::stat(host->c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
            SetError(nt ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
            return finish(FALSE);
        }
        // A link to a folder goes as a link; what it points at stays.
        if (::unlink(host->c_str()) != 0) {
            SetError(ErrorFromErrno(errno));
            return finish(FALSE);
        }
        return finish(TRUE);
    }
    if (!S_ISDIR(info.st_mode)) {
        SetError(nt ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
        return finish(FALSE);
    }
    char cwd[4096];
    std::error_code ec;
    bool current = ::getcwd(cwd, sizeof cwd) != nullptr && fs::equivalent(cwd, *host, ec);
    if (IsDriveRoot(*host) || IsReadOnly(info) || current) {
        SetError(current && nt ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED);
        return finish(FALSE);
    }
    if (::rmdir(host->c_str()) != 0) {
        int saved = errno;
        SetError(saved == ENOTEMPTY || saved == EEXIST ? (nt ? ERROR_DIR_NOT_EMPTY : ERROR_ACCESS_DENIED)
                                                        : ErrorFromErrno(saved));
        return finish(FALSE);
    }
    return finish(TRUE);
}

HANDLE WINAPI FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData)
{
    if (auto fault = detail::Enter("FindFirstFileA"))
        return FaultResult<HANDLE>(*fault, ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    DWORD error = 0;
    std::string pattern;
    std::optional<fs::path> folder = detail::ResolvePattern(fileName, &error, &pattern);
    if (!folder) {
        SetError(error);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (::stat(folder->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        SetError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (pattern.empty()) {
        SetError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (pattern.find_first_of("*?") == std::string::npos) {
        // A plain name fails as a path naming it would (a link that leads out is refused).
        if (!detail::ResolveFrom((hostwin::WindowsPath(*folder).value_or("") + "\\" + pattern).c_str(),
                                 std::nullopt, &error)) {
            SetError(error);
            return INVALID_HANDLE_VALUE;
        }
    }
    // Names in a stable order: a folder other than a drive's root begins with "." and "..".
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(*folder, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().native());
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        std::string x = a, y = b;
        for (char &c : x)
            c = (char)std::toupper((unsigned char)c);
        for (char &c : y)
            c = (char)std::toupper((unsigned char)c);
        return x != y ? x < y : a < b;
    });
    if (!IsDriveRoot(*folder))
        names.insert(names.begin(), {".", ".."});

    FindObject search;
    for (const std::string &name : names) {
        if (!detail::MatchesPattern(name, pattern))
            continue;
        std::optional<WIN32_FIND_DATAA> data =
            name == "." || name == ".." ? FindData(*folder, ".") : FindData(*folder, name);
        if (!data)
            continue;
        std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
        search.entries.push_back(*data);
    }
    if (search.entries.empty()) {
        SetError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *findData = search.entries[0];
    search.next = 1;
    return AddHandle(std::move(search));
}

BOOL WINAPI FindNextFileA(HANDLE findFile, LPWIN32_FIND_DATAA findData)
{
    if (auto fault = detail::Enter("FindNextFileA"))
        return FaultResult<BOOL>(*fault, ERROR_NO_MORE_FILES, FALSE);
    std::lock_guard<std::mutex> lock(handleMutex);
    auto it = handles.find(reinterpret_cast<uintptr_t>(findFile));
    FindObject *search = it == handles.end() ? nullptr : std::get_if<FindObject>(&it->second);
    if (search == nullptr) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (search->next >= search->entries.size()) {
        SetError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    *findData = search->entries[search->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE findFile)
{
    if (auto fault = detail::Enter("FindClose"))
        return FaultResult<BOOL>(*fault, ERROR_INVALID_HANDLE, FALSE);
    std::lock_guard<std::mutex> lock(handleMutex);
    auto it = handles.find(reinterpret_cast<uintptr_t>(findFile));
    if (it == handles.end() || !std::holds_alternative<FindObject>(it->second)) {
        SetError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    handles.erase(it);
    return TRUE;
}

// ---- Profiles ------------------------------------------------------------------------------

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName)
{
    auto finish = [&](BOOL result) {
        return JournalBool("WritePrivateProfileStringA", {Field(section), Field(key), Field(value), Field(fileName)},
                           result);
    };
    if (auto fault = detail::Enter("WritePrivateProfileStringA"))
        return finish(FaultResult<BOOL>(*fault, ERROR_ACCESS_DENIED, FALSE));
    if (section == nullptr) {
        // All three null asks to flush the profile cache; this machine writes through at once.
        if (key == nullptr && value == nullptr)
            return finish(TRUE);
        SetError(ERROR_INVALID_PARAMETER);
        return finish(FALSE);
    }
    // A bare file name lives in the Windows directory.
    std::string name = fileName != nullptr ? fileName : "win.ini";
    if (name.find_first_of("\\/:") == std::string::npos)
        name = detail::WindowsDirectory() + "\\" + name;
    DWORD error = 0;
    std::optional<fs::path> host = detail::Resolve(name.c_str(), &error);
    if (!host) {
        SetError(error);
        return finish(FALSE);
    }
    struct stat info;
    bool exists = ::stat(host->c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        SetError(ERROR_ACCESS_DENIED);
        return finish(FALSE);
    }
    std::string content;
    if (exists) {
        std::ifstream in(*host, std::ios::binary);
        if (!in) {
            SetError(ERROR_ACCESS_DENIED);
            return finish(FALSE);
        }
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string edited = detail::EditProfile(content, section, key, value);
    if (edited == content && (exists || key == nullptr || value == nullptr))
        return finish(TRUE);  // nothing to delete, or the line is there already
    if (exists && IsReadOnly(info)) {
        SetError(ERROR_ACCESS_DENIED);
        return finish(FALSE);
    }
    int fd = ::open(host->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetError(ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND));
        return finish(FALSE);
    }
    size_t done = 0;
    while (done < edited.size()) {
        ssize_t put = ::write(fd, edited.data() + done, edited.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            ::close(fd);
            SetError(ERROR_WRITE_FAULT);
            return finish(FALSE);
        }
        done += (size_t)put;
    }
    ::close(fd);
    return finish(TRUE);
}

// ---- Memory --------------------------------------------------------------------------------

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes)
{
    if (auto fault = detail::Enter("GlobalAlloc"))
        return FaultResult<HGLOBAL>(*fault, ERROR_NOT_ENOUGH_MEMORY, nullptr);
    return Allocate(flags, bytes);
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory)
{
    if (auto fault = detail::Enter("GlobalFree"))
        return FaultResult<HGLOBAL>(*fault, ERROR_INVALID_HANDLE, memory);
    return Release(memory);
}

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes)
{
    if (auto fault = detail::Enter("LocalAlloc"))
        return FaultResult<HLOCAL>(*fault, ERROR_NOT_ENOUGH_MEMORY, nullptr);
    return Allocate(flags, bytes);
}

HLOCAL WINAPI LocalFree(HLOCAL memory)
{
    if (auto fault = detail::Enter("LocalFree"))
        return FaultResult<HLOCAL>(*fault, ERROR_INVALID_HANDLE, memory);
    return Release(memory);
}

}  // extern "C"
