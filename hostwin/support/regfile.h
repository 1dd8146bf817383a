// The machine's registry in memory, and its REGEDIT4 text form (the file registry.reg).
#pragma once
#include <hostwin/windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hostwin::detail::regfile {

// The root keys, in the order the file lists them.
constexpr int ROOT_COUNT = 4;
extern const char *const ROOT_NAMES[ROOT_COUNT];
// The index of a root key's name (case-insensitive), or -1.
int RootIndex(const std::string &name);

struct Value {
    std::string name;  // "" is the key's default value ("@" in the file)
    DWORD type = REG_NONE;
    std::string data;  // REG_SZ: the text without its terminating NUL; other types: the bytes as given
};

struct Key {
    std::string name;  // as first written
    std::vector<Value> values;
    std::vector<std::unique_ptr<Key>> children;  // in the order of creation
};

struct Tree {
    Key roots[ROOT_COUNT];
    Tree();
};

// A key path: the root's name first, then each subkey name.
using KeyPath = std::vector<std::string>;
// Splits "HKEY_LOCAL_MACHINE\\Software\\Halvane" into its names; nullopt when the root is unknown or a
// name is empty (a single trailing backslash is allowed).
std::optional<KeyPath> ParseKeyPath(const std::string &text);
// Splits a subkey text given to the API; "" and nullptr give no names. nullopt for an empty name in the
// middle or at the front, or a name holding a line break (it could not be written to the file).
std::optional<KeyPath> SplitSubKey(const char *subKey);
std::string JoinKeyPath(const KeyPath &path);

Key *FindKey(Tree &tree, const KeyPath &path);
// Finds the key, creating every missing level; *created tells whether anything was added.
Key *CreateKey(Tree &tree, const KeyPath &path, bool *created);
// Removes a key below a root with its whole subtree; false when it does not exist.
bool DeleteKey(Tree &tree, const KeyPath &path);

Value *FindValue(Key &key, const std::string &name);
// Sets a value, keeping the name's first-written case when it exists already.
void SetValue(Key &key, const std::string &name, DWORD type, const std::string &data);

// The file form. Parse accepts CRLF and LF line ends, hex values continued over several lines with a
// trailing backslash, and comment lines starting with ';'; it fails only without the REGEDIT4 header.
bool Parse(const std::string &text, Tree &tree);
std::string Format(const Tree &tree);
// One value as its line in the file, without the line end: "Name"="text", @=dword:0000000a, ...
std::string FormatValue(const Value &value);

// The registry of a machine that has never written one: the keys every Windows 95 has.
void Seed(Tree &tree);

}  // namespace hostwin::detail::regfile
