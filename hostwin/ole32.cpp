// ole32: COM start-up, object creation, and the shell's link object (IShellLinkA + IPersistFile).
#include "internal.h"
#include "support/ansi_text.h"
#include "support/shell_common.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace hostwin;

extern "C" {
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IMalloc = {0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID CLSID_ShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IShellLinkA = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
}

namespace {

std::atomic<int> liveObjects{0};
// COM is initialised per thread; CoInitialize counts its calls on each.
thread_local int comInitialisations = 0;

HRESULT FaultResult(const Fault &fault, HRESULT usual)
{
    return fault.error != 0 ? (HRESULT)fault.error : usual;
}

std::string HResultText(HRESULT result)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", (unsigned)result);
    return text;
}

DWORD ErrorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_WRITE_FAULT;
    }
}

std::u16string Widen(const char16_t *text)
{
    std::u16string out;
    while (text != nullptr && *text != 0)
        out += *text++;
    return out;
}

// Copies a property into a caller's buffer of `size` characters, cut to fit as lstrcpyn does.
HRESULT CopyOut(const std::string &value, LPSTR buffer, int size)
{
    if (buffer == nullptr)
        return E_INVALIDARG;
    if (size <= 0)
        return S_OK;
    size_t length = value.size() < (size_t)size - 1 ? value.size() : (size_t)size - 1;
    std::memcpy(buffer, value.data(), length);
    buffer[length] = 0;
    return S_OK;
}

class ShellLinkObject;

// The two interfaces of one link object. Each counts its own calls under its own name and
// forwards to the object, so both share the object's one reference count.
struct LinkInterface final : IShellLinkA {
    ShellLinkObject *owner;
    HRESULT QueryInterface(REFIID riid, void **object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetPath(LPSTR file, int size, WIN32_FIND_DATAA *findData, DWORD flags) override;
    HRESULT GetIDList(LPITEMIDLIST *itemList) override;
    HRESULT SetIDList(LPCITEMIDLIST itemList) override;
    HRESULT GetDescription(LPSTR name, int size) override;
    HRESULT SetDescription(LPCSTR name) override;
    HRESULT GetWorkingDirectory(LPSTR directory, int size) override;
    HRESULT SetWorkingDirectory(LPCSTR directory) override;
    HRESULT GetArguments(LPSTR arguments, int size) override;
    HRESULT SetArguments(LPCSTR arguments) override;
    HRESULT GetHotkey(WORD *hotkey) override;
    HRESULT SetHotkey(WORD hotkey) override;
    HRESULT GetShowCmd(int *showCommand) override;
    HRESULT SetShowCmd(int showCommand) override;
    HRESULT GetIconLocation(LPSTR iconPath, int size, int *icon) override;
    HRESULT SetIconLocation(LPCSTR iconPath, int icon) override;
    HRESULT SetRelativePath(LPCSTR relativePath, DWORD reserved) override;
    HRESULT Resolve(HWND window, DWORD flags) override;
    HRESULT SetPath(LPCSTR file) override;
};

struct PersistInterface final : IPersistFile {
    ShellLinkObject *owner;
    HRESULT QueryInterface(REFIID riid, void **object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetClassID(CLSID *classId) override;
    HRESULT IsDirty() override;
    HRESULT Load(LPCOLESTR fileName, DWORD mode) override;
    HRESULT Save(LPCOLESTR fileName, BOOL remember) override;
    HRESULT SaveCompleted(LPCOLESTR fileName) override;
    HRESULT GetCurFile(LPWSTR *fileName) override;
};

class ShellLinkObject {
public:
    ShellLinkObject()
    {
        link_.owner = this;
        persist_.owner = this;
        detail::ComObjectCreated();
    }
    ~ShellLinkObject() { detail::ComObjectDestroyed(); }

    HRESULT QueryInterface(const char *call, REFIID riid, void **object)
    {
        if (auto fault = detail::Enter(call)) {
            if (object != nullptr)
                *object = nullptr;
            return FaultResult(*fault, E_NOINTERFACE);
        }
        return Query(riid, object);
    }

    // The interface asked for, with a reference taken; IUnknown is the IShellLinkA pointer, so
    // asking either interface for IUnknown gives the same identity.
    HRESULT Query(REFIID riid, void **object)
    {
        if (object == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IShellLinkA)
            *object = static_cast<IShellLinkA *>(&link_);
        else if (riid == IID_IPersistFile || riid == IID_IPersist)
            *object = static_cast<IPersistFile *>(&persist_);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        references_++;
        return S_OK;
    }

    // A faulted AddRef or Release is lost: the count stays as it was.
    ULONG AddRef(const char *call)
    {
        if (auto fault = detail::Enter(call))
            return fault->result ? (ULONG)*fault->result : references_;
        return ++references_;
    }

    ULONG Release(const char *call)
    {
        if (auto fault = detail::Enter(call))
            return fault->result ? (ULONG)*fault->result : references_;
        ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    detail::ShellLink properties;
    std::string relativePath;
    WORD hotkey = 0;
    int showCommand = SW_SHOWNORMAL;
    std::string currentFile;
    bool dirty = false;

private:
    LinkInterface link_;
    PersistInterface persist_;
    ULONG references_ = 0;
};

// --- IShellLinkA ---

HRESULT LinkInterface::QueryInterface(REFIID riid, void **object)
{
    return owner->QueryInterface("IShellLinkA.QueryInterface", riid, object);
}
ULONG LinkInterface::AddRef() { return owner->AddRef("IShellLinkA.AddRef"); }
ULONG LinkInterface::Release() { return owner->Release("IShellLinkA.Release"); }

#define LINK_METHOD(name)                                                                                   \
    if (auto fault = detail::Enter("IShellLinkA." name))                                           \
    return FaultResult(*fault, E_FAIL)

HRESULT SetText(ShellLinkObject *owner, std::string *property, LPCSTR value)
{
    if (value == nullptr)
        return E_INVALIDARG;
    *property = value;
    owner->dirty = true;
    return S_OK;
}

HRESULT LinkInterface::GetPath(LPSTR file, int size, WIN32_FIND_DATAA *findData, DWORD)
{
    LINK_METHOD("GetPath");
    const std::string &target = owner->properties.target;
    if (findData != nullptr) {
        std::memset(findData, 0, sizeof(*findData));
        size_t separator = target.find_last_of("\\/:");
        CopyOut(target.substr(separator == std::string::npos ? 0 : separator + 1), findData->cFileName, MAX_PATH);
        DWORD error = 0;
        auto host = detail::Resolve(target.c_str(), &error);
        struct stat info;
        if (!target.empty() && host && stat(host->c_str(), &info) == 0) {
            findData->dwFileAttributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
            if ((info.st_mode & S_IWUSR) == 0)
                findData->dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
            if (!S_ISDIR(info.st_mode))
                findData->nFileSizeLow = (DWORD)info.st_size;
        }
    }
    HRESULT result = CopyOut(target, file, size);
    if (FAILED(result))
        return result;
    return target.empty() ? S_FALSE : S_OK;
}

HRESULT LinkInterface::GetIDList(LPITEMIDLIST *itemList)
{
    LINK_METHOD("GetIDList");
    if (itemList == nullptr)
        return E_INVALIDARG;
    *itemList = nullptr;
    if (owner->properties.target.empty())
        return S_FALSE;
    *itemList = detail::NewFileSystemItemList(owner->properties.target);
    return *itemList != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT LinkInterface::SetIDList(LPCITEMIDLIST itemList)
{
    LINK_METHOD("SetIDList");
    auto path = detail::ItemListPath(itemList);
    if (!path)
        return E_INVALIDARG;
    owner->properties.target = *path;
    owner->dirty = true;
    return S_OK;
}

HRESULT LinkInterface::GetDescription(LPSTR name, int size)
{
    LINK_METHOD("GetDescription");
    return CopyOut(owner->properties.description, name, size);
}

HRESULT LinkInterface::SetDescription(LPCSTR name)
{
    LINK_METHOD("SetDescription");
    return SetText(owner, &owner->properties.description, name);
}

HRESULT LinkInterface::GetWorkingDirectory(LPSTR directory, int size)
{
    LINK_METHOD("GetWorkingDirectory");
    return CopyOut(owner->properties.workingDirectory, directory, size);
}

HRESULT LinkInterface::SetWorkingDirectory(LPCSTR directory)
{
    LINK_METHOD("SetWorkingDirectory");
    return SetText(owner, &owner->properties.workingDirectory, directory);
}

HRESULT LinkInterface::GetArguments(LPSTR arguments, int size)
{
    LINK_METHOD("GetArguments");
    return CopyOut(owner->properties.arguments, arguments, size);
}

HRESULT LinkInterface::SetArguments(LPCSTR arguments)
{
    LINK_METHOD("SetArguments");
    return SetText(owner, &owner->properties.arguments, arguments);
}

HRESULT LinkInterface::GetHotkey(WORD *hotkey)
{
    LINK_METHOD("GetHotkey");
    if (hotkey == nullptr)
        return E_INVALIDARG;
    *hotkey = owner->hotkey;
    return S_OK;
}

HRESULT LinkInterface::SetHotkey(WORD hotkey)
{
    LINK_METHOD("SetHotkey");
    owner->hotkey = hotkey;
    owner->dirty = true;
    return S_OK;
}

HRESULT LinkInterface::GetShowCmd(int *showCommand)
{
    LINK_METHOD("GetShowCmd");
    if (showCommand == nullptr)
        return E_INVALIDARG;
    *showCommand = owner->showCommand;
    return S_OK;
}

HRESULT LinkInterface::SetShowCmd(int showCommand)
{
    LINK_METHOD("SetShowCmd");
    owner->showCommand = showCommand;
    owner->dirty = true;
    return S_OK;
}

HRESULT LinkInterface::GetIconLocation(LPSTR iconPath, int size, int *icon)
{
    LINK_METHOD("GetIconLocation");
    if (icon == nullptr)
        return E_INVALIDARG;
    *icon = owner->properties.iconIndex;
    return CopyOut(owner->properties.iconLocation, iconPath, size);
}

HRESULT LinkInterface::SetIconLocation(LPCSTR iconPath, int icon)
{
    LINK_METHOD("SetIconLocation");
    HRESULT result = SetText(owner, &owner->properties.iconLocation, iconPath);
    if (SUCCEEDED(result))
        owner->properties.iconIndex = icon;
    return result;
}

HRESULT LinkInterface::SetRelativePath(LPCSTR relativePath, DWORD)
{
    LINK_METHOD("SetRelativePath");
    return SetText(owner, &owner->relativePath, relativePath);
}

HRESULT LinkInterface::Resolve(HWND, DWORD)
{
    LINK_METHOD("Resolve");
    // Nothing to search for: the link is sound when its target is on the machine.
    DWORD error = 0;
    auto host = detail::Resolve(owner->properties.target.c_str(), &error);
    struct stat info;
    if (!owner->properties.target.empty() && host && stat(host->c_str(), &info) == 0)
        return S_OK;
    return S_FALSE;
}

HRESULT LinkInterface::SetPath(LPCSTR file)
{
    LINK_METHOD("SetPath");
    return SetText(owner, &owner->properties.target, file);
}

// --- IPersistFile ---

#define PERSIST_METHOD(name)                                                                                \
    if (auto fault = detail::Enter("IPersistFile." name))                                          \
    return FaultResult(*fault, E_FAIL)

HRESULT PersistInterface::QueryInterface(REFIID riid, void **object)
{
    return owner->QueryInterface("IPersistFile.QueryInterface", riid, object);
}
ULONG PersistInterface::AddRef() { return owner->AddRef("IPersistFile.AddRef"); }
ULONG PersistInterface::Release() { return owner->Release("IPersistFile.Release"); }

HRESULT PersistInterface::GetClassID(CLSID *classId)
{
    PERSIST_METHOD("GetClassID");
    if (classId == nullptr)
        return E_INVALIDARG;
    *classId = CLSID_ShellLink;
    return S_OK;
}

HRESULT PersistInterface::IsDirty()
{
    PERSIST_METHOD("IsDirty");
    return owner->dirty ? S_OK : S_FALSE;
}

HRESULT PersistInterface::Load(LPCOLESTR fileName, DWORD)
{
    PERSIST_METHOD("Load");
    if (fileName == nullptr)
        return E_INVALIDARG;
    std::u16string wide = Widen(fileName);
    std::string name = detail::WideToAnsi(wide.data(), wide.size(), detail::CurrentCodePage());
    DWORD error = ERROR_PATH_NOT_FOUND;
    auto host = detail::Resolve(name.c_str(), &error);
    if (!host)
        return HRESULT_FROM_WIN32(error);
    struct stat info;
    if (stat(host->c_str(), &info) != 0)
        return HRESULT_FROM_WIN32(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno));
    if (S_ISDIR(info.st_mode))
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    auto link = detail::ReadShellLink(*host);
    if (!link)
        return E_FAIL;
    owner->properties = *link;
    owner->currentFile = name;
    owner->dirty = false;
    return S_OK;
}

HRESULT PersistInterface::Save(LPCOLESTR fileName, BOOL remember)
{
    PERSIST_METHOD("Save");
    std::string name;
    if (fileName == nullptr) {
        if (owner->currentFile.empty())
            return E_INVALIDARG;
        name = owner->currentFile;
        remember = TRUE;
    } else {
        std::u16string wide = Widen(fileName);
        name = detail::WideToAnsi(wide.data(), wide.size(), detail::CurrentCodePage());
    }

    HRESULT result = S_OK;
    DWORD error = ERROR_PATH_NOT_FOUND;
    auto host = detail::Resolve(name.c_str(), &error);
    struct stat info;
    if (!host)
        result = HRESULT_FROM_WIN32(error);
    else if (stat(host->parent_path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        result = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    else if (stat(host->c_str(), &info) == 0 && (S_ISDIR(info.st_mode) || (info.st_mode & S_IWUSR) == 0))
        // A folder of that name, or a read-only file, is not overwritten.
        result = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    else {
        errno = 0;
        if (!detail::WriteShellLink(*host, owner->properties))
            result = HRESULT_FROM_WIN32(ErrorFromErrno(errno));
    }
    if (SUCCEEDED(result) && remember) {
        owner->currentFile = name;
        owner->dirty = false;
    }
    detail::Journal("IPersistFile.Save\t" + detail::JournalField(name) + "\t" + (remember ? "TRUE" : "FALSE") +
                    "\t=> " + HResultText(result));
    return result;
}

HRESULT PersistInterface::SaveCompleted(LPCOLESTR)
{
    PERSIST_METHOD("SaveCompleted");
    return S_OK;
}

HRESULT PersistInterface::GetCurFile(LPWSTR *fileName)
{
    PERSIST_METHOD("GetCurFile");
    if (fileName == nullptr)
        return E_INVALIDARG;
    // No file yet: the default save prompt, as the shell gives it.
    bool none = owner->currentFile.empty();
    std::string name = none ? "*.lnk" : owner->currentFile;
    std::u16string wide = detail::AnsiToWide(name, detail::CurrentCodePage());
    auto *copy = (LPWSTR)detail::ShellAllocator()->Alloc((wide.size() + 1) * sizeof(WCHAR));
    *fileName = copy;
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    std::memcpy(copy, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return none ? S_FALSE : S_OK;
}

}  // namespace

namespace hostwin::detail {

void ResetOle32() { comInitialisations = 0; }

void ComObjectCreated() { liveObjects++; }
void ComObjectDestroyed() { liveObjects--; }

}  // namespace hostwin::detail

int hostwin::LiveComObjects() { return liveObjects.load(); }

extern "C" {

HRESULT WINAPI CoInitialize(LPVOID reserved)
{
    if (auto fault = detail::Enter("CoInitialize"))
        return FaultResult(*fault, E_OUTOFMEMORY);
    if (reserved != nullptr)
        return E_INVALIDARG;
    return comInitialisations++ == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID *object)
{
    if (object != nullptr)
        *object = nullptr;
    if (auto fault = detail::Enter("CoCreateInstance"))
        return FaultResult(*fault, E_OUTOFMEMORY);
    if (object == nullptr)
        return E_POINTER;
    if (comInitialisations == 0)
        return CO_E_NOTINITIALIZED;
    // The link object lives in shell32, an in-process server only.
    if (classId != CLSID_ShellLink || (context & CLSCTX_INPROC_SERVER) == 0)
        return REGDB_E_CLASSNOTREG;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    auto *link = new ShellLinkObject();
    HRESULT result = link->Query(riid, object);
    if (FAILED(result))
        delete link;
    return result;
}

}  // extern "C"
