// The controls of the machine: injected faults and call counts, platform and code page, the
// journal, records of started programs, and running a program from a test.
#include "internal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

namespace fs = std::filesystem;

namespace hostwin {
namespace {

struct ActiveFault {
    Fault fault;
    unsigned base;  // calls made to the name before the fault was injected
};

std::mutex controlMutex;
std::map<std::string, unsigned> totals;  // every call since the process began, for the faults
std::map<std::string, unsigned> counts;  // calls since the last ResetCounts
std::vector<ActiveFault> faults;
bool environmentFaultsRead = false;
std::optional<Platform> platformOverride;
std::optional<unsigned> codePageOverride;
std::vector<std::string> startedCommands;

struct NamedNumber {
    const char *name;
    int64_t value;
};
const NamedNumber errorNames[] = {
    {"ERROR_SUCCESS", 0},
    {"ERROR_FILE_NOT_FOUND", 2},
    {"ERROR_PATH_NOT_FOUND", 3},
    {"ERROR_ACCESS_DENIED", 5},
    {"ERROR_INVALID_HANDLE", 6},
    {"ERROR_NOT_ENOUGH_MEMORY", 8},
    {"ERROR_BAD_FORMAT", 11},
    {"ERROR_NO_MORE_FILES", 18},
    {"ERROR_WRITE_FAULT", 29},
    {"ERROR_SHARING_VIOLATION", 32},
    {"ERROR_FILE_EXISTS", 80},
    {"ERROR_INVALID_PARAMETER", 87},
    {"ERROR_INSUFFICIENT_BUFFER", 122},
    {"ERROR_INVALID_NAME", 123},
    {"ERROR_DIR_NOT_EMPTY", 145},
    {"ERROR_ALREADY_EXISTS", 183},
    {"ERROR_MORE_DATA", 234},
    {"ERROR_CANTWRITE", 1013},
    {"E_FAIL", (int64_t)(uint32_t)0x80004005},
    {"E_OUTOFMEMORY", (int64_t)(uint32_t)0x8007000E},
    {"E_INVALIDARG", (int64_t)(uint32_t)0x80070057},
    {"E_NOINTERFACE", (int64_t)(uint32_t)0x80004002},
    {"STG_E_ACCESSDENIED", (int64_t)(uint32_t)0x80030005},
};

std::optional<int64_t> ParseNumber(const std::string &text)
{
    for (const NamedNumber &named : errorNames)
        if (text == named.name)
            return named.value;
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    long long value = text[0] == '-' ? std::strtoll(text.c_str(), &end, 0) : (long long)std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != 0)
        return std::nullopt;
    return value;
}

}  // namespace

std::vector<std::string> detail::Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

// One item of HOSTWIN_FAULTS: Name:when[:error[:result]].
std::optional<Fault> detail::ParseFault(const std::string &item)
{
    std::vector<std::string> fields = detail::Split(item, ':');
    if (fields.size() < 2 || fields.size() > 4 || fields[0].empty())
        return std::nullopt;
    Fault fault;
    fault.call = fields[0];
    const std::string &when = fields[1];
    if (when == "once") {
        fault.nth = 1;
        fault.count = 1;
    } else if (when == "always") {
        fault.nth = 1;
        fault.count = 0;
    } else {
        bool onward = !when.empty() && when.back() == '+';
        std::string digits = onward ? when.substr(0, when.size() - 1) : when;
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        unsigned long nth = std::strtoul(digits.c_str(), nullptr, 10);
        if (nth == 0)
            return std::nullopt;
        fault.nth = (unsigned)nth;
        fault.count = onward ? 0 : 1;
    }
    if (fields.size() >= 3 && !fields[2].empty()) {
        std::optional<int64_t> error = ParseNumber(fields[2]);
        if (!error)
            return std::nullopt;
        fault.error = (uint32_t)*error;
    }
    if (fields.size() == 4) {
        std::optional<int64_t> result = ParseNumber(fields[3]);
        if (!result)
            return std::nullopt;
        fault.result = *result;
    }
    return fault;
}

namespace {

void ReadEnvironmentFaultsLocked()
{
    if (environmentFaultsRead)
        return;
    environmentFaultsRead = true;
    const char *text = std::getenv("HOSTWIN_FAULTS");
    if (text == nullptr)
        return;
    for (const std::string &item : detail::Split(text, ';')) {
        if (item.find_first_not_of(" \t") == std::string::npos)
            continue;
        if (std::optional<Fault> fault = detail::ParseFault(item))
            faults.push_back({*fault, 0});
        else
            std::fprintf(stderr, "hostwin: HOSTWIN_FAULTS: cannot read \"%s\" (Name:when[:error[:result]])\n",
                         item.c_str());
    }
}

std::optional<Platform> ParsePlatform(const std::string &text)
{
    if (text == "95")
        return Platform::Windows95;
    if (detail::SameName(text, "nt"))
        return Platform::WindowsNT;
    if (detail::SameName(text, "win32s"))
        return Platform::Win32s;
    if (detail::SameName(text, "fail"))
        return Platform::Failing;
    return std::nullopt;
}

std::optional<unsigned> ParseCodePage(const std::string &text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return (unsigned)std::strtoul(text.c_str(), nullptr, 10);
}

}  // namespace

void InjectFault(const Fault &fault)
{
    std::lock_guard<std::mutex> lock(controlMutex);
    ReadEnvironmentFaultsLocked();
    faults.push_back({fault, totals[fault.call]});
}

void ClearFaults()
{
    std::lock_guard<std::mutex> lock(controlMutex);
    ReadEnvironmentFaultsLocked();
    faults.clear();
}

unsigned CallCount(const std::string &call)
{
    std::lock_guard<std::mutex> lock(controlMutex);
    auto it = counts.find(call);
    return it == counts.end() ? 0 : it->second;
}

void ResetCounts()
{
    std::lock_guard<std::mutex> lock(controlMutex);
    counts.clear();
}

void SetPlatform(Platform platform)
{
    std::lock_guard<std::mutex> lock(controlMutex);
    platformOverride = platform;
}

void SetCodePage(unsigned codePage)
{
    std::lock_guard<std::mutex> lock(controlMutex);
    codePageOverride = codePage;
}

std::vector<std::string> StartedCommands()
{
    std::lock_guard<std::mutex> lock(controlMutex);
    return startedCommands;
}

int RunProgram(const std::string &commandLine, const fs::path &workingDirectory,
               const std::vector<std::string> &environment)
{
    std::optional<std::string> current = WindowsPath(workingDirectory);
    detail::ProgramToStart start = detail::FindProgram(commandLine, current, false);
    if (start.error != 0)
        return -1000;
    // The show state is the caller's to give: none unless the extra environment names one.
    std::vector<std::string> variables = {"HOSTWIN_SHOW"};
    variables.insert(variables.end(), environment.begin(), environment.end());
    int startError = 0;
    int pid = detail::StartProcessIn(start.program, start.commandLine, variables, &workingDirectory, &startError);
    if (pid < 0)
        return -1000;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1000;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1000;
}

void ResetControls()
{
    {
        std::lock_guard<std::mutex> lock(controlMutex);
        environmentFaultsRead = true;
        faults.clear();
        counts.clear();
        platformOverride.reset();
        codePageOverride.reset();
        startedCommands.clear();
    }
    detail::ResetUser32();
    detail::ResetShell();
}

namespace detail {

std::optional<Fault> Enter(const char *call)
{
    std::lock_guard<std::mutex> lock(controlMutex);
    ReadEnvironmentFaultsLocked();
    unsigned total = ++totals[call];
    ++counts[call];
    for (const ActiveFault &active : faults) {
        if (active.fault.call != call)
            continue;
        unsigned nth = total - active.base;  // this call's number counted from the injection
        if (nth >= active.fault.nth && (active.fault.count == 0 || nth < active.fault.nth + active.fault.count))
            return active.fault;
    }
    return std::nullopt;
}

Platform CurrentPlatform()
{
    {
        std::lock_guard<std::mutex> lock(controlMutex);
        if (platformOverride)
            return *platformOverride;
    }
    const char *text = std::getenv("HOSTWIN_PLATFORM");
    if (text != nullptr && *text != 0) {
        if (std::optional<Platform> platform = ParsePlatform(text))
            return *platform;
    }
    if (std::optional<std::string> setting = MachineSetting("Platform")) {
        if (std::optional<Platform> platform = ParsePlatform(*setting))
            return *platform;
    }
    return Platform::Windows95;
}

unsigned CurrentCodePage()
{
    {
        std::lock_guard<std::mutex> lock(controlMutex);
        if (codePageOverride)
            return *codePageOverride;
    }
    const char *text = std::getenv("HOSTWIN_ACP");
    if (text != nullptr && *text != 0) {
        if (std::optional<unsigned> codePage = ParseCodePage(text))
            return *codePage;
    }
    if (std::optional<std::string> setting = MachineSetting("CodePage")) {
        if (std::optional<unsigned> codePage = ParseCodePage(*setting))
            return *codePage;
    }
    return 1252;
}

void Journal(const std::string &line)
{
    const char *file = std::getenv("HOSTWIN_JOURNAL");
    if (file == nullptr || *file == 0)
        return;
    // One line per call, whatever the arguments held.
    std::string text;
    text.reserve(line.size() + 1);
    for (char c : line) {
        if (c == '\n')
            text += "\\n";
        else if (c == '\r')
            text += "\\r";
        else
            text += c;
    }
    text += '\n';
    int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        done += (size_t)written;
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

void RecordStartedCommand(const std::string &commandLine)
{
    std::lock_guard<std::mutex> lock(controlMutex);
    startedCommands.push_back(commandLine);
}

// The user32 and shell32 files replace these with the ones that empty their records.
__attribute__((weak)) void ResetUser32() {}
__attribute__((weak)) void ResetShell() {}

}  // namespace detail
}  // namespace hostwin
