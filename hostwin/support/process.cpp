// Starting programs: finding the file a command line names as Windows does, and starting it as a
// host process that receives the exact Windows command line.
#include "internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char **environ;

namespace fs = std::filesystem;

namespace hostwin::detail {
namespace {

enum class FileKind { Missing, Directory, Executable, Link, Other };

// ELF programs and #! scripts start on the host; shell link files stand for their target.
FileKind Classify(const fs::path &file)
{
    struct stat info;
    if (::stat(file.c_str(), &info) != 0)
        return FileKind::Missing;
    if (S_ISDIR(info.st_mode))
        return FileKind::Directory;
    char head[4] = {};
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return FileKind::Other;
    ssize_t got = ::read(fd, head, sizeof head);
    ::close(fd);
    if (got == 4 && std::memcmp(head, "\x7f" "ELF", 4) == 0)
        return FileKind::Executable;
    if (got >= 2 && head[0] == '#' && head[1] == '!')
        return FileKind::Executable;
    if (ReadShellLink(file))
        return FileKind::Link;
    return FileKind::Other;
}

// The directory of the running program's file, as a Windows path, when it lies in the machine.
std::optional<std::string> ProgramDirectory()
{
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return std::nullopt;
    return WindowsPath(self.parent_path());
}

// The arguments after the program name, split by the rules Windows programs use to read them.
std::vector<std::string> SplitArguments(const std::string &text)
{
    std::vector<std::string> arguments;
    size_t i = 0;
    while (true) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            i++;
        if (i >= text.size())
            return arguments;
        std::string argument;
        bool quoted = false;
        while (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
            size_t backslashes = 0;
            while (i < text.size() && text[i] == '\\') {
                backslashes++;
                i++;
            }
            if (i < text.size() && text[i] == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1) {
                    argument += '"';
                } else {
                    quoted = !quoted;
                }
                i++;
            } else {
                argument.append(backslashes, '\\');
                if (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t')))
                    argument += text[i++];
            }
        }
        arguments.push_back(argument);
    }
}

// The program word of a command line: quoted up to the next quote, else up to a blank or tab.
std::string ProgramWord(const std::string &commandLine, size_t *end)
{
    if (!commandLine.empty() && commandLine[0] == '"') {
        size_t close = commandLine.find('"', 1);
        *end = close == std::string::npos ? commandLine.size() : close + 1;
        return commandLine.substr(1, (close == std::string::npos ? commandLine.size() : close) - 1);
    }
    size_t stop = commandLine.find_first_of(" \t");
    *end = stop == std::string::npos ? commandLine.size() : stop;
    return commandLine.substr(0, *end);
}

std::string VariableName(const std::string &entry) { return entry.substr(0, entry.find('=')); }

// Looks for one candidate program name: a path as given, else in the program's own folder, the
// current directory, the system directory and the Windows directory; ".exe" when it has no
// extension. Gives the host file, or the error for the name.
std::optional<fs::path> LookFor(std::string name, const std::optional<std::string> &currentDirectory,
                                bool searchProgramDirectory, DWORD *error)
{
    size_t lastSeparator = name.find_last_of("\\/:");
    std::string lastComponent = lastSeparator == std::string::npos ? name : name.substr(lastSeparator + 1);
    if (lastComponent.find('.') == std::string::npos)
        name += ".exe";

    std::vector<std::string> candidates;
    bool givenPath = lastSeparator != std::string::npos;
    if (givenPath) {
        candidates.push_back(name);
    } else {
        std::optional<std::string> programDirectory = searchProgramDirectory ? ProgramDirectory() : std::nullopt;
        for (const std::optional<std::string> &folder :
             {programDirectory, currentDirectory, std::optional<std::string>(SystemDirectory()),
              std::optional<std::string>(WindowsDirectory())}) {
            if (!folder)
                continue;
            std::string directory = *folder;
            if (directory.empty() || directory.back() != '\\')
                directory += '\\';
            candidates.push_back(directory + name);
        }
    }
    *error = ERROR_FILE_NOT_FOUND;
    for (const std::string &candidate : candidates) {
        DWORD pathError = 0;
        std::optional<fs::path> host = ResolveFrom(candidate.c_str(), currentDirectory, &pathError);
        if (!host) {
            if (givenPath)
                *error = pathError;
            continue;
        }
        FileKind kind = Classify(*host);
        if (kind != FileKind::Missing && kind != FileKind::Directory)
            return host;
    }
    return std::nullopt;
}

}  // namespace

ProgramToStart FindProgram(const std::string &commandLine, const std::optional<std::string> &currentDirectory,
                           bool searchProgramDirectory)
{
    ProgramToStart start;
    // A quoted name is one candidate. An unquoted one with blanks is tried as Windows does: up to
    // the first blank, then up to the next, and so on, so "C:\Start Menu\x.lnk" is found whole.
    std::vector<std::string> names;
    size_t end = 0;
    std::string word = ProgramWord(commandLine, &end);
    if (!commandLine.empty() && commandLine[0] == '"') {
        names.push_back(word);
    } else {
        for (size_t at = end; true; at = commandLine.find_first_of(" \t", at + 1)) {
            names.push_back(commandLine.substr(0, at == std::string::npos ? std::string::npos : at));
            if (at == std::string::npos || at >= commandLine.size())
                break;
        }
    }
    if (word.empty()) {
        start.error = ERROR_FILE_NOT_FOUND;
        return start;
    }
    std::optional<fs::path> found;
    DWORD firstError = 0;
    for (const std::string &name : names) {
        if (name.empty() || name.back() == ' ' || name.back() == '\t')
            continue;
        DWORD error = 0;
        found = LookFor(name, currentDirectory, searchProgramDirectory, &error);
        if (found)
            break;
        if (firstError == 0)
            firstError = error;
    }
    if (!found) {
        start.error = firstError != 0 ? firstError : ERROR_FILE_NOT_FOUND;
        return start;
    }

    switch (Classify(*found)) {
    case FileKind::Executable:
        start.program = *found;
        start.commandLine = commandLine;
        return start;
    case FileKind::Link: {
        std::optional<ShellLink> link = ReadShellLink(*found);
        DWORD error = 0;
        std::optional<fs::path> target =
            link && !link->target.empty() ? ResolveFrom(link->target.c_str(), currentDirectory, &error) : std::nullopt;
        if (!target) {
            start.error = error != 0 ? error : ERROR_FILE_NOT_FOUND;
            return start;
        }
        FileKind targetKind = Classify(*target);
        if (targetKind == FileKind::Missing || targetKind == FileKind::Directory) {
            start.error = ERROR_FILE_NOT_FOUND;
            return start;
        }
        if (targetKind != FileKind::Executable) {
            start.error = ERROR_BAD_FORMAT;
            return start;
        }
        start.program = *target;
        start.commandLine = link->target.find_first_of(" \t") == std::string::npos ? link->target
                                                                                   : "\"" + link->target + "\"";
        if (!link->arguments.empty())
            start.commandLine += " " + link->arguments;
        return start;
    }
    default:
        start.error = ERROR_BAD_FORMAT;
        return start;
    }
}

int StartProcessIn(const fs::path &program, const std::string &commandLine, const std::vector<std::string> &environment,
                   const fs::path *workingDirectory, int *startError)
{
    int ignored;
    if (startError == nullptr)
        startError = &ignored;
    *startError = 0;

    // Windows needs no execute permission; a program copied in without one still runs.
    struct stat info;
    if (::stat(program.c_str(), &info) == 0 && (info.st_mode & S_IXUSR) == 0)
        ::chmod(program.c_str(), (info.st_mode & 07777) | S_IXUSR);

    size_t end = 0;
    std::vector<std::string> arguments = {ProgramWord(commandLine, &end)};
    if (arguments[0].empty())
        arguments[0] = program.native();
    for (const std::string &argument : SplitArguments(commandLine.substr(end)))
        arguments.push_back(argument);

    // The caller's environment, less the hand-over of its own start, with the given entries; an
    // entry without '=' removes that variable.
    std::vector<std::string> variables;
    auto overridden = [&](const std::string &name) {
        if (name == "HOSTWIN_CMDLINE" || name == "HOSTWIN_CMDLINE_PID")
            return true;
        for (const std::string &entry : environment)
            if (VariableName(entry) == name)
                return true;
        return false;
    };
    for (char **entry = environ; *entry != nullptr; entry++)
        if (!overridden(VariableName(*entry)))
            variables.push_back(*entry);
    bool rootGiven = false;
    for (const std::string &entry : environment) {
        if (entry.find('=') != std::string::npos)
            variables.push_back(entry);
        rootGiven = rootGiven || VariableName(entry) == "HOSTWIN_ROOT";
    }
    if (!rootGiven) {
        for (auto it = variables.begin(); it != variables.end(); ++it)
            if (VariableName(*it) == "HOSTWIN_ROOT") {
                variables.erase(it);
                break;
            }
        variables.push_back("HOSTWIN_ROOT=" + MachineRoot().native());
    }
    variables.push_back("HOSTWIN_CMDLINE=" + commandLine);
    // The child writes its own pid here before it executes the program.
    variables.push_back("HOSTWIN_CMDLINE_PID=                    ");

    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (std::string &variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    char *pidText = variables.back().data() + std::strlen("HOSTWIN_CMDLINE_PID=");
    std::string directory = workingDirectory != nullptr ? workingDirectory->native() : std::string();

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        *startError = errno;
        return -1;
    }
    pid_t pid = ::fork();
    if (pid < 0) {
        *startError = errno;
        ::close(report[0]);
        ::close(report[1]);
        return -1;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here on.
        char digits[20];
        int count = 0;
        for (pid_t self = ::getpid(); self > 0; self /= 10)
            digits[count++] = (char)('0' + self % 10);
        for (int i = 0; i < count; i++)
            pidText[i] = digits[count - 1 - i];
        pidText[count] = 0;
        int error = 0;
        if (!directory.empty() && ::chdir(directory.c_str()) != 0)
            error = errno;
        if (error == 0) {
            ::execve(program.c_str(), argv.data(), envp.data());
            error = errno;
        }
        ssize_t unused = ::write(report[1], &error, sizeof error);
        (void)unused;
        ::_exit(127);
    }
    ::close(report[1]);
    int childError = 0;
    ssize_t got;
    do {
        got = ::read(report[0], &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    ::close(report[0]);
    if (got == (ssize_t)sizeof childError) {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        *startError = childError;
        return -1;
    }
    return pid;
}

int StartProcess(const fs::path &program, const std::string &commandLine, const std::vector<std::string> &environment)
{
    return StartProcessIn(program, commandLine, environment, nullptr, nullptr);
}

}  // namespace hostwin::detail
