// The machine: one folder that holds a whole Windows 95 system, its drives as one-letter folders,
// and the translation of Windows paths into it. Nothing a Windows path names may lie outside it.
#include "internal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#ifndef HOSTWIN_EXPLORER_PATH
#define HOSTWIN_EXPLORER_PATH ""
#endif

namespace fs = std::filesystem;

namespace hostwin {
namespace {

std::mutex machineMutex;
fs::path laidOutRoot;  // the root whose layout this process has checked

struct SettingsCache {
    fs::path file;
    struct timespec modified = {};
    off_t size = -1;
    std::string content;
} settings;

const char SETTINGS_FILE[] = "hostwin.ini";

fs::path ConfiguredRoot()
{
    const char *root = std::getenv("HOSTWIN_ROOT");
    fs::path path;
    if (root != nullptr && *root != 0) {
        path = root;
    } else {
        const char *home = std::getenv("HOME");
        path = fs::path(home != nullptr && *home != 0 ? home : "/") / ".hostwin";
    }
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return (ec ? path : absolute).lexically_normal();
}

bool WriteWhole(const fs::path &file, const std::string &text, fs::perms permissions)
{
    fs::path temporary = file;
    temporary += ".new" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    fs::permissions(temporary, permissions, ec);
    fs::rename(temporary, file, ec);
    if (ec)
        fs::remove(temporary, ec);
    return !ec;
}

// A fresh machine: the folders of a Windows 95 installation on drive C, the settings file and the
// shell's file manager. A machine that already has its settings file is left as it is, so a test
// may take parts of it away.
void LayOut(const fs::path &root)
{
    std::error_code ec;
    if (fs::exists(root / SETTINGS_FILE, ec))
        return;
    fs::path windows = root / "C" / "WINDOWS";
    for (const fs::path &folder : {windows / "SYSTEM", windows / "TEMP", windows / "Start Menu" / "Programs"})
        fs::create_directories(folder, ec);

    // Explorer is hostwin's explorer tool; the script keeps the process (exec), so the command
    // line handed to EXPLORER.EXE reaches the tool.
    std::string explorer = HOSTWIN_EXPLORER_PATH;
    std::string quoted = "'";
    for (char c : explorer)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    WriteWhole(windows / "EXPLORER.EXE",
               "#!/bin/sh\n# The shell's file manager on this machine: hostwin's explorer tool.\nexec " + quoted +
                   " \"$@\"\n",
               fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                   fs::perms::others_exec);
    WriteWhole(root / SETTINGS_FILE, "[Machine]\r\nPlatform=95\r\nCodePage=1252\r\n",
               fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}

fs::path RootLocked()
{
    fs::path root = ConfiguredRoot();
    if (root != laidOutRoot) {
        std::error_code ec;
        fs::create_directories(root, ec);
        LayOut(root);
        laidOutRoot = root;
    }
    std::error_code ec;
    fs::path canonical = fs::canonical(root, ec);
    return ec ? root : canonical;
}

// Where a link finally leads, also when what it names does not exist (yet).
std::optional<fs::path> FinalTarget(const fs::path &link)
{
    fs::path current = link;
    for (int hops = 0; hops < 40; hops++) {
        std::error_code ec;
        fs::path target = fs::read_symlink(current, ec);
        if (ec)
            return std::nullopt;
        if (target.is_relative())
            target = current.parent_path() / target;
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (ec)
            return std::nullopt;
        struct stat info;
        if (::lstat(resolved.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return resolved;
        current = resolved;  // a dangling link at the end of the chain: follow it by hand
    }
    return std::nullopt;
}

bool IsInside(const fs::path &path, const fs::path &root)
{
    const std::string &p = path.native();
    const std::string &r = root.native();
    if (p.compare(0, r.size(), r) != 0)
        return false;
    return p.size() == r.size() || p[r.size()] == '/';
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// A Windows path taken apart: its drive letter and its components after "." and ".." are gone.
struct Parsed {
    char drive = 'C';
    std::vector<std::string> parts;
};

std::optional<Parsed> Parse(const char *input, const std::optional<std::string> &currentDirectory, DWORD *error,
                            bool allowWildcardsLast);

// Splits at backslashes, minding double-byte characters whose trail byte is a backslash.
std::vector<std::string> SplitComponents(const std::string &text)
{
    unsigned codePage = detail::CurrentCodePage();
    std::vector<std::string> parts;
    std::string current;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = (unsigned char)text[i];
        if (detail::IsLeadByteIn(codePage, c) && i + 1 < text.size()) {
            current += text[i];
            current += text[++i];
            continue;
        }
        if (c == '\\') {
            parts.push_back(current);
            current.clear();
        } else {
            current += text[i];
        }
    }
    parts.push_back(current);
    return parts;
}

bool ValidComponent(const std::string &part, bool wildcards)
{
    unsigned codePage = detail::CurrentCodePage();
    for (size_t i = 0; i < part.size(); i++) {
        unsigned char c = (unsigned char)part[i];
        if (detail::IsLeadByteIn(codePage, c) && i + 1 < part.size()) {
            i++;
            continue;
        }
        if (c < 32 || std::strchr("<>|\":", c) != nullptr)
            return false;
        if (!wildcards && (c == '*' || c == '?'))
            return false;
    }
    return true;
}

std::optional<Parsed> Parse(const char *input, const std::optional<std::string> &currentDirectory, DWORD *error,
                            bool allowWildcardsLast)
{
    if (input == nullptr || *input == 0) {
        *error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    std::string text = input;
    if (text.size() >= MAX_PATH) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return std::nullopt;
    }
    std::replace(text.begin(), text.end(), '/', '\\');
    if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
        *error = ERROR_BAD_NETPATH;
        return std::nullopt;
    }

    Parsed parsed;
    std::string rest;
    std::optional<Parsed> current;
    auto currentParsed = [&]() -> std::optional<Parsed> {
        if (!currentDirectory)
            return std::nullopt;
        DWORD ignored;
        return Parse(currentDirectory->c_str(), std::nullopt, &ignored, false);
    };
    bool hasDrive = text.size() >= 2 && text[1] == ':' &&
                    ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
    if (hasDrive) {
        parsed.drive = UpperAscii(text[0]);
        rest = text.substr(2);
        if (rest.empty() || rest[0] != '\\') {
            // Drive-relative: against the current directory when it is on that drive, else its root.
            current = currentParsed();
            if (current && current->drive == parsed.drive)
                parsed.parts = current->parts;
        }
    } else if (text[0] == '\\') {
        current = currentParsed();
        parsed.drive = current ? current->drive : 'C';
        rest = text;
    } else {
        current = currentParsed();
        if (!current) {
            *error = ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
        parsed = *current;
        rest = text;
    }

    std::vector<std::string> parts = SplitComponents(rest);
    for (size_t i = 0; i < parts.size(); i++) {
        std::string part = parts[i];
        bool last = i + 1 == parts.size();
        if (part.empty())
            continue;
        if (!ValidComponent(part, allowWildcardsLast && last)) {
            *error = ERROR_INVALID_NAME;
            return std::nullopt;
        }
        if (part == ".")
            continue;
        if (part == "..") {
            if (!parsed.parts.empty())
                parsed.parts.pop_back();
            continue;
        }
        // Windows drops trailing dots and blanks of a name ("name. " is "name").
        while (!part.empty() && (part.back() == '.' || part.back() == ' '))
            part.pop_back();
        if (!part.empty())
            parsed.parts.push_back(part);
    }

    size_t length = 3;
    for (size_t i = 0; i < parsed.parts.size(); i++)
        length += parsed.parts[i].size() + (i > 0 ? 1 : 0);
    if (length >= MAX_PATH) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return std::nullopt;
    }
    return parsed;
}

// The host name of an entry of a folder that matches a Windows name: the same bytes if present,
// else the first entry (in name order) equal but for the case of ASCII letters.
std::optional<std::string> MatchEntry(const fs::path &folder, const std::string &name)
{
    struct stat info;
    if (::lstat((folder / name).c_str(), &info) == 0)
        return name;
    std::error_code ec;
    std::optional<std::string> best;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string entry = it->path().filename().native();
        if (detail::SameName(entry, name) && (!best || entry < *best))
            best = entry;
    }
    return best;
}

std::optional<fs::path> Walk(const Parsed &parsed, DWORD *error)
{
    fs::path root;
    {
        std::lock_guard<std::mutex> lock(machineMutex);
        root = RootLocked();
    }
    std::optional<std::string> driveName = MatchEntry(root, std::string(1, parsed.drive));
    std::error_code ec;
    if (!driveName || !fs::is_directory(root / *driveName, ec)) {
        *error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    fs::path current = fs::canonical(root / *driveName, ec);
    if (ec || !IsInside(current, root)) {
        *error = ec ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
        return std::nullopt;
    }

    for (size_t i = 0; i < parsed.parts.size(); i++) {
        bool last = i + 1 == parsed.parts.size();
        std::optional<std::string> name = MatchEntry(current, parsed.parts[i]);
        if (!name) {
            if (last)
                return current / parsed.parts[i];
            *error = ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
        fs::path entry = current / *name;
        struct stat info;
        if (::lstat(entry.c_str(), &info) != 0) {
            *error = ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
        if (S_ISLNK(info.st_mode)) {
            // A link is followed only while it stays inside the machine.
            std::optional<fs::path> final = FinalTarget(entry);
            if (!final) {
                *error = ERROR_PATH_NOT_FOUND;
                return std::nullopt;
            }
            fs::path target = *final;
            if (!IsInside(target, root)) {
                *error = ERROR_ACCESS_DENIED;
                return std::nullopt;
            }
            if (last)
                return entry;  // the link itself, so it is deleted or moved as a link
            if (!fs::is_directory(target, ec)) {
                *error = ERROR_PATH_NOT_FOUND;
                return std::nullopt;
            }
            current = target;
            continue;
        }
        if (last)
            return entry;
        if (!S_ISDIR(info.st_mode)) {
            *error = ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
        current = entry;
    }
    return current;
}

}  // namespace

fs::path MachineRoot()
{
    std::lock_guard<std::mutex> lock(machineMutex);
    return RootLocked();
}

void UseMachine(const fs::path &root)
{
    std::error_code ec;
    fs::path absolute = fs::absolute(root, ec).lexically_normal();
    std::string text = absolute.native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    ::setenv("HOSTWIN_ROOT", text.c_str(), 1);
    std::lock_guard<std::mutex> lock(machineMutex);
    RootLocked();
}

std::optional<fs::path> HostPath(const std::string &windowsPath)
{
    DWORD error = 0;
    return detail::Resolve(windowsPath.c_str(), &error);
}

std::optional<std::string> WindowsPath(const fs::path &hostPath)
{
    fs::path root = MachineRoot();
    std::error_code ec;
    fs::path absolute = fs::absolute(hostPath, ec);
    if (ec)
        return std::nullopt;
    fs::path path = fs::weakly_canonical(absolute, ec);
    if (ec || !IsInside(path, root) || path == root)
        return std::nullopt;
    fs::path relative = path.lexically_relative(root);
    auto it = relative.begin();
    std::string drive = it->native();
    if (drive.size() != 1 || !std::isalpha((unsigned char)drive[0]))
        return std::nullopt;
    std::string result = std::string(1, UpperAscii(drive[0])) + ":";
    bool any = false;
    for (++it; it != relative.end(); ++it) {
        if (it->empty() || it->native() == ".")
            continue;
        result += "\\" + it->native();
        any = true;
    }
    if (!any)
        result += "\\";
    return result;
}

bool PlaceFile(const fs::path &hostFile, const std::string &windowsPath)
{
    DWORD error = 0;
    std::optional<Parsed> parsed = Parse(windowsPath.c_str(), detail::CurrentDirectory(), &error, false);
    if (!parsed || parsed->parts.empty())
        return false;
    // Make the folders above it, one at a time through the machine's own resolution.
    std::string folder = std::string(1, parsed->drive) + ":";
    for (size_t i = 0; i + 1 < parsed->parts.size(); i++) {
        folder += "\\" + parsed->parts[i];
        std::optional<fs::path> host = detail::Resolve(folder.c_str(), &error);
        std::error_code ec;
        if (!host)
            return false;
        if (!fs::is_directory(*host, ec) && !fs::create_directory(*host, ec))
            return false;
    }
    std::optional<fs::path> target = detail::Resolve((folder + "\\" + parsed->parts.back()).c_str(), &error);
    if (!target)
        return false;
    std::error_code ec;
    fs::remove(*target, ec);
    return fs::copy_file(hostFile, *target, fs::copy_options::overwrite_existing, ec) && !ec;
}

namespace detail {

std::optional<fs::path> ResolveFrom(const char *windowsPath, const std::optional<std::string> &currentDirectory,
                                    DWORD *error)
{
    DWORD ignored;
    if (error == nullptr)
        error = &ignored;
    std::optional<Parsed> parsed = Parse(windowsPath, currentDirectory, error, false);
    if (!parsed)
        return std::nullopt;
    return Walk(*parsed, error);
}

std::optional<fs::path> Resolve(const char *windowsPath, DWORD *error)
{
    return ResolveFrom(windowsPath, CurrentDirectory(), error);
}

std::optional<fs::path> ResolvePattern(const char *windowsPattern, DWORD *error, std::string *pattern)
{
    DWORD ignored;
    if (error == nullptr)
        error = &ignored;
    if (windowsPattern == nullptr || *windowsPattern == 0) {
        *error = ERROR_PATH_NOT_FOUND;
        return std::nullopt;
    }
    std::string text = windowsPattern;
    if (text.size() >= MAX_PATH) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return std::nullopt;
    }
    std::replace(text.begin(), text.end(), '/', '\\');
    // The last component starts after the last separator (a backslash that is no trail byte) or
    // after a drive's colon.
    std::vector<std::string> parts = SplitComponents(text);
    std::string last = parts.back();
    std::string folder = text.substr(0, text.size() - last.size());
    if (folder.empty() && last.size() >= 2 && last[1] == ':') {
        folder = last.substr(0, 2);
        last = last.substr(2);
    }
    if (!ValidComponent(last, true)) {
        *error = ERROR_INVALID_NAME;
        return std::nullopt;
    }
    std::optional<fs::path> host;
    if (folder.empty()) {
        std::optional<std::string> current = CurrentDirectory();
        if (!current) {
            *error = ERROR_PATH_NOT_FOUND;
            return std::nullopt;
        }
        host = Resolve(current->c_str(), error);
    } else {
        // "C:\dir\" names the folder itself: resolve it with a "." so a trailing blank stays a name.
        host = Resolve((folder + ".").c_str(), error);
    }
    if (!host)
        return std::nullopt;
    *pattern = last;
    return host;
}

bool MatchesPattern(const std::string &name, const std::string &patternText)
{
    std::string pattern = patternText;
    if (pattern == "*.*" || pattern == "*")
        return true;
    // A wildcard pattern ending in a dot asks for names without an extension ("*." matches "a");
    // a plain name loses its trailing dots and blanks as everywhere.
    if (pattern.size() > 1 && pattern.back() == '.' && pattern.find_first_of("*?") != std::string::npos) {
        pattern.pop_back();
        if (name.find('.') != std::string::npos)
            return false;
    } else if (pattern.find_first_of("*?") == std::string::npos) {
        while (!pattern.empty() && (pattern.back() == '.' || pattern.back() == ' '))
            pattern.pop_back();
    }
    // Iterative wildcard match with one backtracking point for the last star.
    size_t n = 0, p = 0, starP = std::string::npos, starN = 0;
    auto fold = [](char c) { return UpperAscii(c); };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
            n++;
            p++;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        p++;
    return p == pattern.size();
}

std::optional<std::string> CurrentDirectory()
{
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) == nullptr)
        return std::nullopt;
    return WindowsPath(buffer);
}

std::optional<std::string> MachineSetting(const std::string &key)
{
    std::lock_guard<std::mutex> lock(machineMutex);
    fs::path file = RootLocked() / SETTINGS_FILE;
    struct stat info;
    if (::stat(file.c_str(), &info) != 0) {
        settings = SettingsCache();
        return std::nullopt;
    }
    if (file != settings.file || info.st_mtim.tv_sec != settings.modified.tv_sec ||
        info.st_mtim.tv_nsec != settings.modified.tv_nsec || info.st_size != settings.size) {
        settings = SettingsCache();
        settings.file = file;
        settings.modified = info.st_mtim;
        settings.size = info.st_size;
        std::ifstream in(file, std::ios::binary);
        settings.content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return ProfileValue(settings.content, "Machine", key);
}

std::string WindowsDirectory() { return "C:\\WINDOWS"; }
// A machine may keep its system directory elsewhere ([Machine] SystemDirectory=, a Windows path
// whose folder the machine's owner makes), so that paths composed from it can be made long.
std::string SystemDirectory()
{
    std::optional<std::string> setting = MachineSetting("SystemDirectory");
    return setting && !setting->empty() ? *setting : "C:\\WINDOWS\\SYSTEM";
}
std::string TempDirectory() { return "C:\\WINDOWS\\TEMP\\"; }
std::string ProgramsDirectory() { return "C:\\WINDOWS\\Start Menu\\Programs"; }

bool SameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (UpperAscii(a[i]) != UpperAscii(b[i]))
            return false;
    return true;
}

bool IsLeadByteIn(unsigned codePage, unsigned char byte)
{
    switch (codePage) {
    case 932:  // Shift-JIS
        return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:  // GBK
    case 949:  // Unified Hangul
    case 950:  // Big5
        return byte >= 0x81 && byte <= 0xFE;
    default:
        return false;
    }
}

}  // namespace detail
}  // namespace hostwin
