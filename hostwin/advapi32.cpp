// advapi32: the registry of the machine, kept as one REGEDIT4 file (registry.reg) in the machine folder.
// Every call reads the file, changes it and writes it back under an exclusive lock on a lock file
// beside it, through a temporary file and a rename: programs running at once all land their writes,
// and a reader never sees half a file.
#include "internal.h"
#include "support/ansi_text.h"
#include "support/regfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace fs = std::filesystem;
using namespace hostwin::detail::regfile;

namespace {

const char REGISTRY_FILE[] = "registry.reg";
const char LOCK_FILE[] = "registry.reg.lock";
const char TEMPORARY_FILE[] = "registry.reg.new";

// Holds the registry's lock file locked for as long as it lives.
class RegistryLock {
public:
    RegistryLock(const fs::path &root, bool exclusive)
    {
        fd = ::open((root / LOCK_FILE).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        while (::flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                ::close(fd);
                fd = -1;
                return;
            }
        }
    }
    ~RegistryLock()
    {
        if (fd >= 0)
            ::close(fd);
    }
    RegistryLock(const RegistryLock &) = delete;
    RegistryLock &operator=(const RegistryLock &) = delete;
    bool Held() const { return fd >= 0; }

private:
    int fd = -1;
};

LONG Load(const fs::path &root, Tree &tree)
{
    std::ifstream in(root / REGISTRY_FILE, std::ios::binary);
    if (!in) {
        std::error_code ec;
        if (fs::exists(root / REGISTRY_FILE, ec))
            return ERROR_CANTREAD;
        Seed(tree);
        return ERROR_SUCCESS;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad() || !Parse(text.str(), tree))
        return ERROR_CANTREAD;
    return ERROR_SUCCESS;
}

LONG Store(const fs::path &root, const Tree &tree)
{
    std::string text = Format(tree);
    fs::path temporary = root / TEMPORARY_FILE;
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return ERROR_CANTWRITE;
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return ERROR_CANTWRITE;
        }
        done += size_t(n);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), (root / REGISTRY_FILE).c_str()) != 0) {
        ::unlink(temporary.c_str());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

// Runs one operation on the registry: action(tree, changed) returns the call's result and sets
// changed when the tree is to be written back (only when the result is ERROR_SUCCESS).
template <class Action>
LONG WithRegistry(bool writing, Action action)
{
    fs::path root = hostwin::MachineRoot();
    std::error_code ec;
    fs::create_directories(root, ec);
    RegistryLock lock(root, writing);
    if (!lock.Held())
        return ERROR_CANTOPEN;
    Tree tree;
    if (LONG error = Load(root, tree))
        return error;
    bool changed = false;
    LONG result = action(tree, changed);
    if (result == ERROR_SUCCESS && changed)
        return Store(root, tree);
    return result;
}

// Open keys: a handle names a key path. A handle whose key this process deleted stays deleted even
// when the key is created again; one whose key another process deleted fails while the key is gone.
struct OpenKey {
    KeyPath path;
    bool deleted = false;
};
std::mutex handlesMutex;
std::map<uintptr_t, OpenKey> handles;
uintptr_t nextHandle = 0x1000;  // never reused, so a closed handle stays invalid

const uintptr_t PREDEFINED_BASE = 0x80000000u;

bool IsPredefined(HKEY key)
{
    auto value = reinterpret_cast<uintptr_t>(key);
    return value >= PREDEFINED_BASE && value < PREDEFINED_BASE + 4;
}

// The root index of a predefined handle, by the numbering of advapi32.h.
const char *PredefinedName(HKEY key)
{
    static const char *const names[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                        "HKEY_USERS"};
    return names[reinterpret_cast<uintptr_t>(key) - PREDEFINED_BASE];
}

HKEY PredefinedHandle(const std::string &rootName)
{
    for (uintptr_t i = 0; i < 4; i++) {
        HKEY key = reinterpret_cast<HKEY>(PREDEFINED_BASE + i);
        if (rootName == PredefinedName(key))
            return key;
    }
    return nullptr;
}

// The path a handle names, and whether it is a known handle at all.
std::optional<OpenKey> LookUp(HKEY key)
{
    if (IsPredefined(key))
        return OpenKey{{PredefinedName(key)}, false};
    std::lock_guard<std::mutex> guard(handlesMutex);
    auto it = handles.find(reinterpret_cast<uintptr_t>(key));
    if (it == handles.end())
        return std::nullopt;
    return it->second;
}

HKEY NewHandle(const KeyPath &path)
{
    if (path.size() == 1)
        return PredefinedHandle(path[0]);
    std::lock_guard<std::mutex> guard(handlesMutex);
    uintptr_t value = nextHandle;
    nextHandle += 4;
    handles[value] = OpenKey{path, false};
    return reinterpret_cast<HKEY>(value);
}

bool IsWithin(const KeyPath &path, const KeyPath &top)
{
    if (path.size() < top.size())
        return false;
    for (size_t i = 0; i < top.size(); i++)
        if (!hostwin::detail::SameName(path[i], top[i]))
            return false;
    return true;
}

void MarkDeleted(const KeyPath &top)
{
    std::lock_guard<std::mutex> guard(handlesMutex);
    for (auto &entry : handles)
        if (IsWithin(entry.second.path, top))
            entry.second.deleted = true;
}

KeyPath Joined(const KeyPath &base, const KeyPath &rest)
{
    KeyPath path = base;
    path.insert(path.end(), rest.begin(), rest.end());
    return path;
}

// The key a handle names, for the journal: its path, or the handle's value when it names none.
std::string Describe(HKEY key, const char *subKey)
{
    std::string text;
    if (auto open = LookUp(key)) {
        text = JoinKeyPath(open->path);
    } else {
        char value[32];
        std::snprintf(value, sizeof value, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(key)));
        text = value;
    }
    if (subKey && *subKey)
        text += std::string("\\") + subKey;
    return hostwin::detail::JournalField(text);
}

void JournalCall(const char *call, const std::string &arguments, LONG result)
{
    hostwin::detail::Journal(std::string(call) + "\t" + arguments + "\t=> " + std::to_string(result));
}

LONG FaultError(const hostwin::Fault &fault)
{
    if (fault.error)
        return LONG(fault.error);
    if (fault.result && *fault.result)
        return LONG(*fault.result);
    return ERROR_ACCESS_DENIED;
}

// The key of a handle inside the loaded tree, or the error for a handle that names none.
LONG KeyOf(Tree &tree, const OpenKey &open, Key **key)
{
    *key = open.deleted ? nullptr : FindKey(tree, open.path);
    return *key ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// Opens or creates the key below a handle; shared by RegCreateKeyExA and RegOpenKeyExA.
LONG OpenOrCreate(HKEY key, LPCSTR subKey, bool create, PHKEY result, LPDWORD disposition)
{
    auto open = LookUp(key);
    if (!open)
        return ERROR_INVALID_HANDLE;
    auto rest = SplitSubKey(subKey);
    if (!rest)
        return ERROR_BAD_PATHNAME;
    KeyPath path = Joined(open->path, *rest);
    bool created = false;
    LONG error = WithRegistry(create, [&](Tree &tree, bool &changed) {
        Key *base;
        if (LONG e = KeyOf(tree, *open, &base))
            return e;
        if (create) {
            CreateKey(tree, path, &created);
            changed = created;
            return LONG(ERROR_SUCCESS);
        }
        return FindKey(tree, path) ? LONG(ERROR_SUCCESS) : LONG(ERROR_FILE_NOT_FOUND);
    });
    if (error)
        return error;
    *result = NewHandle(path);
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                            PHKEY result, LPDWORD disposition)
{
    std::string described = Describe(key, subKey);
    if (result)
        *result = nullptr;
    LONG error;
    if (auto fault = hostwin::detail::Enter("RegCreateKeyExA"))
        error = FaultError(*fault);
    else if (!result)
        error = ERROR_INVALID_PARAMETER;
    else
        error = OpenOrCreate(key, subKey, true, result, disposition);
    JournalCall("RegCreateKeyExA", described, error);
    return error;
}

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result)
{
    if (result)
        *result = nullptr;
    if (auto fault = hostwin::detail::Enter("RegOpenKeyExA"))
        return FaultError(*fault);
    if (!result)
        return ERROR_INVALID_PARAMETER;
    return OpenOrCreate(key, subKey, false, result, nullptr);
}

LONG WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE *data, DWORD size)
{
    std::string name = valueName ? valueName : "";
    std::string bytes;
    if (data)
        bytes.assign(reinterpret_cast<const char *>(data), size);
    // Windows keeps a string up to its first NUL, however large the size given.
    if (type == REG_SZ)
        bytes.erase(std::min(bytes.size(), bytes.find('\0')));
    std::string described =
        Describe(key, nullptr) + "\t" + hostwin::detail::JournalField(FormatValue(Value{name, type, bytes}));

    LONG error;
    if (auto fault = hostwin::detail::Enter("RegSetValueExA")) {
        error = FaultError(*fault);
    } else if ((!data && size) || (type == REG_DWORD && size != 4) ||
               name.find_first_of("\r\n") != std::string::npos) {
        error = ERROR_INVALID_PARAMETER;
    } else if (auto open = LookUp(key); !open) {
        error = ERROR_INVALID_HANDLE;
    } else {
        error = WithRegistry(true, [&](Tree &tree, bool &changed) {
            Key *target;
            if (LONG e = KeyOf(tree, *open, &target))
                return e;
            SetValue(*target, name, type, bytes);
            changed = true;
            return LONG(ERROR_SUCCESS);
        });
    }
    JournalCall("RegSetValueExA", described, error);
    return error;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (auto fault = hostwin::detail::Enter("RegQueryValueExA"))
        return FaultError(*fault);
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    auto open = LookUp(key);
    if (!open)
        return ERROR_INVALID_HANDLE;
    std::string name = valueName ? valueName : "";
    Value found;
    LONG error = WithRegistry(false, [&](Tree &tree, bool &) {
        Key *source;
        if (LONG e = KeyOf(tree, *open, &source))
            return e;
        Value *value = FindValue(*source, name);
        if (!value)
            return LONG(ERROR_FILE_NOT_FOUND);
        found = *value;
        return LONG(ERROR_SUCCESS);
    });
    if (error)
        return error;
    std::string bytes = found.data;
    if (found.type == REG_SZ)
        bytes += '\0';
    if (type)
        *type = found.type;
    if (data && *size < bytes.size()) {
        *size = DWORD(bytes.size());
        return ERROR_MORE_DATA;
    }
    if (data)
        std::memcpy(data, bytes.data(), bytes.size());
    if (size)
        *size = DWORD(bytes.size());
    return ERROR_SUCCESS;
}

// Deletes the named subkey with everything below it, as Windows 95 does. An empty subkey name is
// refused with ERROR_ACCESS_DENIED rather than deleting the open key itself.
LONG WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey)
{
    std::string described = Describe(key, subKey);
    LONG error;
    std::optional<OpenKey> open;
    std::optional<KeyPath> rest;
    if (auto fault = hostwin::detail::Enter("RegDeleteKeyA")) {
        error = FaultError(*fault);
    } else if (!(open = LookUp(key))) {
        error = ERROR_INVALID_HANDLE;
    } else if (!subKey || !*subKey) {
        error = ERROR_ACCESS_DENIED;
    } else if (!(rest = SplitSubKey(subKey))) {
        error = ERROR_BAD_PATHNAME;
    } else {
        KeyPath path = Joined(open->path, *rest);
        error = WithRegistry(true, [&](Tree &tree, bool &changed) {
            Key *base;
            if (LONG e = KeyOf(tree, *open, &base))
                return e;
            if (!DeleteKey(tree, path))
                return LONG(ERROR_FILE_NOT_FOUND);
            changed = true;
            return LONG(ERROR_SUCCESS);
        });
        if (error == ERROR_SUCCESS)
            MarkDeleted(path);
    }
    JournalCall("RegDeleteKeyA", described, error);
    return error;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    if (auto fault = hostwin::detail::Enter("RegCloseKey"))
        return FaultError(*fault);
    if (IsPredefined(key))
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(handlesMutex);
    return handles.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // extern "C"

namespace hostwin {

namespace {

std::optional<Value> ReadValue(const std::string &keyPath, const std::string &valueName)
{
    auto path = ParseKeyPath(keyPath);
    if (!path)
        return std::nullopt;
    std::optional<Value> found;
    WithRegistry(false, [&](Tree &tree, bool &) {
        if (Key *key = FindKey(tree, *path))
            if (Value *value = FindValue(*key, valueName))
                found = *value;
        return LONG(ERROR_SUCCESS);
    });
    return found;
}

}  // namespace

bool RegistryKeyExists(const std::string &keyPath)
{
    auto path = ParseKeyPath(keyPath);
    if (!path)
        return false;
    bool exists = false;
    WithRegistry(false, [&](Tree &tree, bool &) {
        exists = FindKey(tree, *path) != nullptr;
        return LONG(ERROR_SUCCESS);
    });
    return exists;
}

std::optional<std::string> RegistryString(const std::string &key, const std::string &value)
{
    auto found = ReadValue(key, value);
    if (!found || found->type != REG_SZ)
        return std::nullopt;
    return found->data;
}

std::optional<uint32_t> RegistryDword(const std::string &key, const std::string &value)
{
    auto found = ReadValue(key, value);
    if (!found || found->type != REG_DWORD || found->data.size() != 4)
        return std::nullopt;
    uint32_t n = 0;
    for (int i = 3; i >= 0; i--)
        n = n * 256 + uint8_t(found->data[i]);
    return n;
}

}  // namespace hostwin
