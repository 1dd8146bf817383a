// shell32: the shell allocator, special folders as item-ID lists, and the shell's file deletion.
#include "internal.h"
#include "support/ansi_text.h"
#include "support/shell_common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

using namespace hostwin;

namespace {

constexpr DWORD ERROR_CANCELLED_BY_USER = 1223;  // ERROR_CANCELLED

// CSIDL values beyond the header's, for the folders the shell knows without a file-system path.
constexpr int CSIDL_CONTROLS = 0x0003;
constexpr int CSIDL_PRINTERS = 0x0004;
constexpr int CSIDL_STARTUP = 0x0007;
constexpr int CSIDL_BITBUCKET = 0x000a;
constexpr int CSIDL_DESKTOPDIRECTORY = 0x0010;
constexpr int CSIDL_DRIVES = 0x0011;
constexpr int CSIDL_NETWORK = 0x0012;
constexpr int CSIDL_FONTS = 0x0014;

// hostwin's item IDs: a tag and what it names. A file-system item holds its Windows path.
const char fileSystemTag[4] = {'H', 'W', 'F', 'S'};
const char virtualTag[4] = {'H', 'W', 'V', 'F'};

std::mutex allocatorMutex;
std::map<void *, SIZE_T> allocatedBlocks;  // the allocator's live blocks and their sizes
ShellAllocatorRecord allocatorRecord;      // itemLists and freed; liveBlocks filled on request

// The shell's task allocator: one object for the process, never destroyed.
class TaskAllocator final : public IMalloc {
public:
    HRESULT QueryInterface(REFIID riid, void **object) override
    {
        if (auto fault = detail::Enter("IMalloc.QueryInterface")) {
            if (object != nullptr)
                *object = nullptr;
            return fault->error != 0 ? (HRESULT)fault->error : E_NOINTERFACE;
        }
        if (object == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMalloc) {
            *object = this;
            references_++;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG AddRef() override
    {
        if (auto fault = detail::Enter("IMalloc.AddRef"))
            return fault->result ? (ULONG)*fault->result : references_;
        return ++references_;
    }

    // The shell's allocator outlives every reference to it.
    ULONG Release() override
    {
        if (auto fault = detail::Enter("IMalloc.Release"))
            return fault->result ? (ULONG)*fault->result : references_;
        if (references_ > 1)
            references_--;
        return references_;
    }

    void *Alloc(SIZE_T size) override
    {
        if (detail::Enter("IMalloc.Alloc"))
            return nullptr;
        return Allocate(size);
    }

    void *Realloc(void *block, SIZE_T size) override
    {
        if (detail::Enter("IMalloc.Realloc"))
            return nullptr;
        if (block == nullptr)
            return Allocate(size);
        std::lock_guard<std::mutex> lock(allocatorMutex);
        auto found = allocatedBlocks.find(block);
        if (found == allocatedBlocks.end())
            return nullptr;
        if (size == 0) {
            allocatedBlocks.erase(found);
            std::free(block);
            return nullptr;
        }
        void *moved = std::realloc(block, size);
        if (moved == nullptr)
            return nullptr;
        allocatedBlocks.erase(found);
        allocatedBlocks[moved] = size;
        return moved;
    }

    // A block the allocator did not give out is recorded but left alone, where Windows would
    // corrupt its heap.
    void Free(void *block) override
    {
        if (detail::Enter("IMalloc.Free"))
            return;
        std::lock_guard<std::mutex> lock(allocatorMutex);
        allocatorRecord.freed.push_back((uintptr_t)block);
        auto found = allocatedBlocks.find(block);
        if (found == allocatedBlocks.end())
            return;
        allocatedBlocks.erase(found);
        std::free(block);
    }

    SIZE_T GetSize(void *block) override
    {
        if (detail::Enter("IMalloc.GetSize"))
            return (SIZE_T)-1;
        std::lock_guard<std::mutex> lock(allocatorMutex);
        auto found = allocatedBlocks.find(block);
        return found == allocatedBlocks.end() ? (SIZE_T)-1 : found->second;
    }

    int DidAlloc(void *block) override
    {
        if (detail::Enter("IMalloc.DidAlloc"))
            return -1;
        if (block == nullptr)
            return -1;
        std::lock_guard<std::mutex> lock(allocatorMutex);
        return allocatedBlocks.count(block) != 0 ? 1 : 0;
    }

    void HeapMinimize() override { detail::Enter("IMalloc.HeapMinimize"); }

private:
    static void *Allocate(SIZE_T size)
    {
        void *block = std::malloc(size != 0 ? size : 1);
        if (block == nullptr)
            return nullptr;
        std::lock_guard<std::mutex> lock(allocatorMutex);
        allocatedBlocks[block] = size;
        return block;
    }

    ULONG references_ = 1;
};

TaskAllocator taskAllocator;

// One item (cb, tag, payload) and the terminating zero cb.
LPITEMIDLIST NewItemList(const char tag[4], const std::string &payload)
{
    size_t itemSize = 2 + 4 + payload.size();
    auto *bytes = (BYTE *)taskAllocator.Alloc(itemSize + 2);
    if (bytes == nullptr)
        return nullptr;
    bytes[0] = (BYTE)(itemSize & 0xFF);
    bytes[1] = (BYTE)(itemSize >> 8);
    std::memcpy(bytes + 2, tag, 4);
    std::memcpy(bytes + 6, payload.data(), payload.size());
    bytes[itemSize] = 0;
    bytes[itemSize + 1] = 0;
    return (LPITEMIDLIST)bytes;
}

std::string DesktopDirectory() { return detail::WindowsDirectory() + "\\Desktop"; }

// --- file deletion ---

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The components of a path after its drive and root, split where a separator stands on its own
// (a trail byte of a double-byte character that looks like a backslash is no separator).
std::vector<std::string> Components(const std::string &rest)
{
    unsigned codePage = detail::CurrentCodePage();
    std::vector<std::string> parts;
    std::string part;
    for (size_t i = 0; i < rest.size(); i++) {
        if (detail::IsLeadByteIn(codePage, (unsigned char)rest[i]) && i + 1 < rest.size()) {
            part += rest[i];
            part += rest[++i];
        } else if (IsSeparator(rest[i])) {
            parts.push_back(part);
            part.clear();
        } else
            part += rest[i];
    }
    parts.push_back(part);
    return parts;
}

// Trailing dots and blanks of a name do not count, as everywhere in Windows.
std::string StripTrailing(std::string name)
{
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    return name;
}

DWORD ErrorOf(int error)
{
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

// Removes one entry and, for a real folder, everything in it. A symbolic link is removed as the
// link it is and never followed, so the walk cannot leave the folder it started in. Read-only
// files and folders go too: Windows keeps no write bit on a folder's contents.
DWORD RemoveTree(const std::filesystem::path &path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return ErrorOf(errno);
    if (!S_ISDIR(info.st_mode))
        return unlink(path.c_str()) == 0 ? 0 : ErrorOf(errno);
    if ((info.st_mode & S_IRWXU) != S_IRWXU)
        chmod(path.c_str(), info.st_mode | S_IRWXU);
    DWORD first = 0;
    std::error_code error;
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
        entries.push_back(it->path());
    if (error)
        first = ERROR_ACCESS_DENIED;
    for (const auto &entry : entries) {
        DWORD result = RemoveTree(entry);
        if (first == 0)
            first = result;
    }
    if (rmdir(path.c_str()) != 0 && first == 0)
        first = ErrorOf(errno);
    return first;
}

// One name of the list: the folder it lies in, resolved inside the machine, and its last
// component as given (possibly a wildcard pattern).
struct Target {
    std::filesystem::path folder;
    std::string leaf;
    DWORD error = 0;
};

Target Locate(const std::string &name)
{
    Target target;
    if (name.size() >= MAX_PATH) {
        target.error = ERROR_FILENAME_EXCED_RANGE;
        return target;
    }
    std::string prefix, rest = name;
    if (name.size() >= 2 && name[1] == ':' && std::isalpha((unsigned char)name[0])) {
        prefix = name.substr(0, 2);
        rest = name.substr(2);
    }
    if (prefix.empty() && rest.size() >= 2 && IsSeparator(rest[0]) && IsSeparator(rest[1])) {
        // A network name: the machine has none, and resolution says so.
        DWORD error = ERROR_BAD_NETPATH;
        detail::Resolve(name.c_str(), &error);
        target.error = error != 0 ? error : ERROR_BAD_NETPATH;
        return target;
    }
    bool rooted = !rest.empty() && IsSeparator(rest[0]);
    if (rooted)
        prefix += "\\";

    // "." and ".." are taken away by their text, as Windows does before it looks at the disk.
    std::vector<std::string> parts;
    for (const std::string &part : Components(rest)) {
        if (part.empty() || part == ".")
            continue;
        if (part == ".." && !parts.empty() && parts.back() != "..")
            parts.pop_back();
        else if (part == ".." && rooted)
            continue;  // never above a root
        else
            parts.push_back(part);
    }
    if (parts.empty() || parts.back() == "..") {
        // A drive's root or the folder above the current one is not deleted.
        target.error = ERROR_ACCESS_DENIED;
        return target;
    }
    target.leaf = StripTrailing(parts.back());
    parts.pop_back();
    if (target.leaf.empty()) {
        target.error = ERROR_INVALID_NAME;
        return target;
    }
    std::string folder = prefix;
    for (size_t i = 0; i < parts.size(); i++)
        folder += (i == 0 ? "" : "\\") + parts[i];
    if (folder.empty())
        folder = ".";
    else if (folder.size() == 2 && folder[1] == ':')
        folder += ".";  // the drive's current folder
    DWORD error = ERROR_PATH_NOT_FOUND;
    auto host = detail::Resolve(folder.c_str(), &error);
    struct stat info;
    if (!host)
        target.error = error != 0 ? error : ERROR_PATH_NOT_FOUND;
    else if (stat(host->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        target.error = ERROR_PATH_NOT_FOUND;
    else
        target.folder = *host;
    return target;
}

// The entries of the target's folder that its last component names.
std::vector<std::filesystem::path> Matching(const Target &target)
{
    bool wildcard = target.leaf.find_first_of("*?") != std::string::npos;
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (std::filesystem::directory_iterator it(target.folder, error), end; !error && it != end;
         it.increment(error)) {
        std::string name = it->path().filename().string();
        if (wildcard ? detail::MatchesPattern(name, target.leaf) : detail::SameName(name, target.leaf)) {
            found.push_back(it->path());
            if (!wildcard)
                break;
        }
    }
    return found;
}

std::vector<std::string> NameList(LPCSTR list)
{
    std::vector<std::string> names;
    while (list != nullptr && *list != 0) {
        names.emplace_back(list);
        list += names.back().size() + 1;
    }
    return names;
}

std::string FunctionName(UINT function)
{
    switch (function) {
    case FO_MOVE:
        return "FO_MOVE";
    case FO_COPY:
        return "FO_COPY";
    case FO_DELETE:
        return "FO_DELETE";
    case FO_RENAME:
        return "FO_RENAME";
    default:
        return std::to_string(function);
    }
}

// The shell's question before it deletes, answered like every message box of the machine.
bool ConfirmDelete(const std::vector<std::string> &names)
{
    std::string text, caption;
    if (names.size() == 1) {
        Target target = Locate(names[0]);
        bool folder = false;
        if (target.error == 0 && target.leaf.find_first_of("*?") == std::string::npos) {
            auto found = Matching(target);
            struct stat info;
            folder = !found.empty() && lstat(found[0].c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        std::string shown = target.leaf.empty() ? names[0] : target.leaf;
        if (folder) {
            caption = "Confirm Folder Delete";
            text = "Are you sure you want to remove the folder '" + shown + "' and all its contents?";
        } else {
            caption = "Confirm File Delete";
            text = "Are you sure you want to delete '" + shown + "'?";
        }
    } else {
        caption = "Confirm Multiple File Delete";
        text = "Are you sure you want to delete these " + std::to_string(names.size()) + " items?";
    }
    return MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

const char *ErrorText(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND:
        return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    default:
        return "The file cannot be deleted.";
    }
}

}  // namespace

namespace hostwin {

ShellAllocatorRecord ShellAllocations()
{
    std::lock_guard<std::mutex> lock(allocatorMutex);
    ShellAllocatorRecord record = allocatorRecord;
    record.liveBlocks = allocatedBlocks.size();
    return record;
}

}  // namespace hostwin

namespace hostwin::detail {

IMalloc *ShellAllocator() { return &taskAllocator; }

LPITEMIDLIST NewFileSystemItemList(const std::string &windowsPath)
{
    return NewItemList(fileSystemTag, windowsPath + '\0');
}

std::optional<std::string> ItemListPath(LPCITEMIDLIST list)
{
    if (list == nullptr)
        return std::nullopt;
    auto *bytes = (const BYTE *)list;
    size_t itemSize = bytes[0] | bytes[1] << 8;
    if (itemSize == 0)
        return DesktopDirectory();  // the empty list is the desktop
    if (itemSize < 7 || std::memcmp(bytes + 2, fileSystemTag, 4) != 0)
        return std::nullopt;
    const char *path = (const char *)bytes + 6;
    return std::string(path, strnlen(path, itemSize - 6));
}

void ResetShell()
{
    {
        std::lock_guard<std::mutex> lock(allocatorMutex);
        allocatorRecord = ShellAllocatorRecord();
    }
    ResetOle32();
}

}  // namespace hostwin::detail

extern "C" {

HRESULT WINAPI SHGetMalloc(LPMALLOC *allocator)
{
    if (auto fault = detail::Enter("SHGetMalloc")) {
        if (allocator != nullptr)
            *allocator = nullptr;
        return fault->error != 0 ? (HRESULT)fault->error : E_OUTOFMEMORY;
    }
    if (allocator == nullptr)
        return E_INVALIDARG;
    *allocator = &taskAllocator;
    taskAllocator.AddRef();
    return S_OK;
}

HRESULT WINAPI SHGetSpecialFolderLocation(HWND, int folder, LPITEMIDLIST *itemList)
{
    if (itemList != nullptr)
        *itemList = nullptr;
    if (auto fault = detail::Enter("SHGetSpecialFolderLocation"))
        return fault->error != 0 ? (HRESULT)fault->error : E_FAIL;
    if (itemList == nullptr)
        return E_INVALIDARG;

    // Every list handed out is recorded, so a test can see it freed.
    auto handOut = [itemList](LPITEMIDLIST list) {
        *itemList = list;
        if (list == nullptr)
            return E_OUTOFMEMORY;
        std::lock_guard<std::mutex> lock(allocatorMutex);
        allocatorRecord.itemLists.push_back((uintptr_t)list);
        return S_OK;
    };
    std::string path;
    switch (folder) {
    case CSIDL_DESKTOP: {
        // The desktop is the root of the shell's namespace: the empty list.
        auto *empty = (BYTE *)taskAllocator.Alloc(2);
        if (empty != nullptr)
            empty[0] = empty[1] = 0;
        return handOut((LPITEMIDLIST)empty);
    }
    case CSIDL_CONTROLS:
    case CSIDL_PRINTERS:
    case CSIDL_BITBUCKET:
    case CSIDL_DRIVES:
    case CSIDL_NETWORK:
        return handOut(NewItemList(virtualTag, std::string(1, (char)folder)));
    case CSIDL_PROGRAMS:
        path = detail::ProgramsDirectory();
        break;
    case CSIDL_STARTMENU:
        path = detail::WindowsDirectory() + "\\Start Menu";
        break;
    case CSIDL_STARTUP:
        path = detail::ProgramsDirectory() + "\\StartUp";
        break;
    case CSIDL_DESKTOPDIRECTORY:
        path = DesktopDirectory();
        break;
    case CSIDL_FONTS:
        path = detail::WindowsDirectory() + "\\FONTS";
        break;
    default:
        return E_INVALIDARG;
    }
    // A file-system folder that is not there has no location.
    DWORD error = 0;
    auto host = detail::Resolve(path.c_str(), &error);
    struct stat info;
    if (!host || stat(host->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return E_FAIL;
    return handOut(detail::NewFileSystemItemList(path));
}

BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST itemList, LPSTR path)
{
    if (auto fault = detail::Enter("SHGetPathFromIDListA")) {
        if (path != nullptr)
            path[0] = 0;
        return fault->result ? (BOOL)*fault->result : FALSE;
    }
    if (path == nullptr)
        return FALSE;
    path[0] = 0;
    auto found = detail::ItemListPath(itemList);
    if (!found || found->size() >= MAX_PATH)
        return FALSE;
    std::memcpy(path, found->c_str(), found->size() + 1);
    return TRUE;
}

int WINAPI SHFileOperationA(LPSHFILEOPSTRUCTA operation)
{
    std::vector<std::string> names;
    std::string title = "NULL";
    std::string function = "NULL";
    char flags[16] = "0x0000";
    if (operation != nullptr) {
        names = NameList(operation->pFrom);
        function = FunctionName(operation->wFunc);
        if (operation->lpszProgressTitle != nullptr)
            title = operation->lpszProgressTitle;
        std::snprintf(flags, sizeof(flags), "0x%04X", (unsigned)operation->fFlags);
    }
    auto journal = [&](int result) {
        std::string joined;
        for (size_t i = 0; i < names.size(); i++)
            joined += (i == 0 ? "" : "|") + names[i];
        detail::Journal("SHFileOperationA\t" + function + "\t" + detail::JournalField(joined) + "\t" + flags +
                        "\t" + detail::JournalField(title) + "\t=> " + std::to_string(result));
        return result;
    };

    if (auto fault = detail::Enter("SHFileOperationA"))
        return journal(fault->result ? (int)*fault->result
                                     : (int)(fault->error != 0 ? fault->error : ERROR_ACCESS_DENIED));
    if (operation == nullptr || operation->pFrom == nullptr)
        return journal(ERROR_INVALID_PARAMETER);
    operation->fAnyOperationsAborted = FALSE;
    if (operation->wFunc != FO_DELETE)
        return journal(ERROR_INVALID_FUNCTION);  // the machine's shell only deletes
    if (names.empty())
        return journal(0);

    if (!(operation->fFlags & FOF_NOCONFIRMATION) && !ConfirmDelete(names)) {
        operation->fAnyOperationsAborted = TRUE;
        return journal(ERROR_CANCELLED_BY_USER);
    }
    // The progress window, as a line on the terminal.
    bool silent = (operation->fFlags & FOF_SILENT) != 0;
    bool simple = (operation->fFlags & FOF_SIMPLEPROGRESS) != 0;
    if (!silent && simple)
        std::fprintf(stderr, "[progress] %s\n", operation->lpszProgressTitle ? operation->lpszProgressTitle : "");

    DWORD first = 0;
    for (const std::string &name : names) {
        if (!silent && !simple)
            std::fprintf(stderr, "[progress] Deleting %s\n", name.c_str());
        Target target = Locate(name);
        DWORD result = target.error;
        if (result == 0) {
            auto found = Matching(target);
            if (found.empty())
                result = ERROR_FILE_NOT_FOUND;
            for (const auto &path : found) {
                DWORD removed = RemoveTree(path);
                if (result == 0)
                    result = removed;
            }
        }
        if (result != 0) {
            // The shell's error box, told on the terminal; the shell goes on with the next name.
            std::fprintf(stderr, "[shell] Cannot delete %s: %s\n", name.c_str(), ErrorText(result));
            if (first == 0)
                first = result;
        }
    }
    return journal((int)first);
}

}  // extern "C"
