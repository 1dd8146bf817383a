// regtool: reads and changes the registry of a hostwin machine from a shell, through the same
// registry calls the programs use (so HOSTWIN_ROOT, HOSTWIN_FAULTS and HOSTWIN_JOURNAL apply).
//
//   regtool get KEY [NAME]            print a value: a string as it is, a dword in decimal, other
//                                     types as REGEDIT4 hex; exit 1 when it is missing
//   regtool sz KEY NAME TEXT          write a REG_SZ value (creating the key)
//   regtool dword KEY NAME NUMBER     write a REG_DWORD value (decimal, or 0x... hex)
//   regtool create KEY                create a key with every missing level
//   regtool delete KEY                delete a key with its whole subtree
//   regtool exists KEY                exit 0 when the key exists, 1 when not
//   regtool fill KEY PREFIX COUNT     write COUNT dwords PREFIX0.. (value i = i), each by its own
//                                     create, set and close (for tests of concurrent writers)
//   regtool dump                      print the registry file
//
// KEY begins with its root: HKEY_LOCAL_MACHINE (or HKLM), HKEY_CURRENT_USER (HKCU),
// HKEY_CLASSES_ROOT (HKCR) or HKEY_USERS (HKU). NAME "" is the key's default value.
// Exit codes: 0 done, 1 the call failed or the value/key is missing (the error code on stderr), 2 usage.
#include <hostwin/control.h>
#include <hostwin/windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct RootName {
    const char *name;
    const char *shortName;
    HKEY key;
};
const RootName ROOTS[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

bool SameText(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// Splits "HKLM\\Software\\X" into the root handle and the subkey text.
bool SplitKey(const std::string &text, HKEY *root, std::string *subKey)
{
    size_t slash = text.find('\\');
    std::string first = text.substr(0, slash);
    for (const auto &r : ROOTS) {
        if (SameText(first, r.name) || SameText(first, r.shortName)) {
            *root = r.key;
            *subKey = slash == std::string::npos ? "" : text.substr(slash + 1);
            return true;
        }
    }
    std::cerr << "regtool: unknown root key in " << text << "\n";
    return false;
}

int Failed(const char *call, LONG error)
{
    std::cerr << "regtool: " << call << " failed with error " << error << "\n";
    return 1;
}

int Usage()
{
    std::cerr << "usage: regtool get KEY [NAME] | sz KEY NAME TEXT | dword KEY NAME NUMBER | create KEY |\n"
                 "               delete KEY | exists KEY | fill KEY PREFIX COUNT | dump\n";
    return 2;
}

int SetValue(HKEY root, const std::string &subKey, const std::string &name, DWORD type, const BYTE *data,
             DWORD size)
{
    HKEY key;
    DWORD disposition;
    LONG error = RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, &key, &disposition);
    if (error != ERROR_SUCCESS)
        return Failed("RegCreateKeyExA", error);
    error = RegSetValueExA(key, name.c_str(), 0, type, data, size);
    RegCloseKey(key);
    return error == ERROR_SUCCESS ? 0 : Failed("RegSetValueExA", error);
}

int Get(HKEY root, const std::string &subKey, const std::string &name)
{
    HKEY key;
    LONG error = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key);
    if (error != ERROR_SUCCESS)
        return Failed("RegOpenKeyExA", error);
    DWORD type = 0, size = 0;
    error = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 1);
    if (error == ERROR_SUCCESS)
        error = RegQueryValueExA(key, name.c_str(), nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (error != ERROR_SUCCESS)
        return Failed("RegQueryValueExA", error);
    if (type == REG_SZ) {
        std::fwrite(data.data(), 1, size ? size - 1 : 0, stdout);
        std::fputc('\n', stdout);
    } else if (type == REG_DWORD && size == 4) {
        std::printf("%lu\n", static_cast<unsigned long>(data[0] | data[1] << 8 | data[2] << 16 |
                                                        static_cast<DWORD>(data[3]) << 24));
    } else {
        std::printf("hex(%lx):", static_cast<unsigned long>(type));
        for (DWORD i = 0; i < size; i++)
            std::printf(i ? ",%02x" : "%02x", data[i]);
        std::printf("\n");
    }
    return 0;
}

int Delete(HKEY root, const std::string &subKey)
{
    size_t slash = subKey.rfind('\\');
    std::string parentPath = slash == std::string::npos ? "" : subKey.substr(0, slash);
    std::string name = slash == std::string::npos ? subKey : subKey.substr(slash + 1);
    HKEY parent;
    LONG error = RegOpenKeyExA(root, parentPath.c_str(), 0, KEY_ALL_ACCESS, &parent);
    if (error != ERROR_SUCCESS)
        return Failed("RegOpenKeyExA", error);
    error = RegDeleteKeyA(parent, name.c_str());
    RegCloseKey(parent);
    return error == ERROR_SUCCESS ? 0 : Failed("RegDeleteKeyA", error);
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return Usage();
    const std::string &command = args[0];
    if (command == "dump" && args.size() == 1) {
        std::ifstream in(hostwin::MachineRoot() / "registry.reg", std::ios::binary);
        std::cout << in.rdbuf();
        return 0;
    }
    if (args.size() < 2)
        return Usage();
    HKEY root;
    std::string subKey;
    if (!SplitKey(args[1], &root, &subKey))
        return 2;

    if (command == "get" && args.size() <= 3)
        return Get(root, subKey, args.size() == 3 ? args[2] : "");
    if (command == "sz" && args.size() == 4)
        return SetValue(root, subKey, args[2], REG_SZ, reinterpret_cast<const BYTE *>(args[3].c_str()),
                        DWORD(args[3].size() + 1));
    if (command == "dword" && args.size() == 4) {
        DWORD n = DWORD(std::strtoul(args[3].c_str(), nullptr, 0));
        BYTE bytes[4] = {BYTE(n), BYTE(n >> 8), BYTE(n >> 16), BYTE(n >> 24)};
        return SetValue(root, subKey, args[2], REG_DWORD, bytes, 4);
    }
    if (command == "create" && args.size() == 2) {
        HKEY key;
        LONG error = RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                     nullptr, &key, nullptr);
        if (error != ERROR_SUCCESS)
            return Failed("RegCreateKeyExA", error);
        RegCloseKey(key);
        return 0;
    }
    if (command == "delete" && args.size() == 2)
        return Delete(root, subKey);
    if (command == "exists" && args.size() == 2) {
        HKEY key;
        LONG error = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key);
        if (error == ERROR_SUCCESS)
            RegCloseKey(key);
        return error == ERROR_SUCCESS ? 0 : 1;
    }
    if (command == "fill" && args.size() == 4) {
        long count = std::strtol(args[3].c_str(), nullptr, 10);
        for (long i = 0; i < count; i++) {
            BYTE bytes[4] = {BYTE(i), BYTE(i >> 8), BYTE(i >> 16), BYTE(i >> 24)};
            if (int result = SetValue(root, subKey, args[2] + std::to_string(i), REG_DWORD, bytes, 4))
                return result;
        }
        return 0;
    }
    return Usage();
}
