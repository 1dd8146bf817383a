// The REGEDIT4 text of the machine's registry: parsing, writing, and the key tree between them.
#include "support/regfile.h"

#include "internal.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

namespace hostwin::detail::regfile {

const char *const ROOT_NAMES[ROOT_COUNT] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT",
                                            "HKEY_USERS"};

int RootIndex(const std::string &name)
{
    for (int i = 0; i < ROOT_COUNT; i++)
        if (SameName(name, ROOT_NAMES[i]))
            return i;
    return -1;
}

Tree::Tree()
{
    for (int i = 0; i < ROOT_COUNT; i++)
        roots[i].name = ROOT_NAMES[i];
}

namespace {

// A name with its ASCII letters folded, as SameName compares names.
std::string Folded(std::string name)
{
    for (char &c : name)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return name;
}

bool HasLineBreak(const std::string &text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

Key *FindChild(Key &key, const std::string &name)
{
    for (auto &child : key.children)
        if (SameName(child->name, name))
            return child.get();
    return nullptr;
}

// Lower-case hex, as regedit writes it.
const char HEX[] = "0123456789abcdef";

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string Quote(const std::string &text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after the closing quote.
std::optional<std::string> Unquote(const std::string &text, size_t *pos)
{
    std::string out;
    size_t i = *pos + 1;
    while (i < text.size()) {
        char c = text[i++];
        if (c == '"') {
            *pos = i;
            return out;
        }
        if (c == '\\' && i < text.size())
            c = text[i++];
        out += c;
    }
    return std::nullopt;
}

std::optional<std::string> ParseHexBytes(const std::string &text)
{
    std::string bytes;
    std::string digits;
    for (char c : text) {
        if (c == ',') {
            if (digits.empty())
                return std::nullopt;
            digits.clear();
            continue;
        }
        if (c == ' ' || c == '\t')
            continue;
        if (HexDigit(c) < 0 || digits.size() == 2)
            return std::nullopt;
        digits += c;
        if (digits.size() == 2)
            bytes += char(HexDigit(digits[0]) * 16 + HexDigit(digits[1]));
    }
    if (digits.size() == 1)
        return std::nullopt;
    return bytes;
}

// The data part of a value line (after "="), as a type and its bytes.
std::optional<std::pair<DWORD, std::string>> ParseData(const std::string &text)
{
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        auto s = Unquote(text, &pos);
        if (!s)
            return std::nullopt;
        return std::make_pair(DWORD(REG_SZ), s->substr(0, s->find('\0')));
    }
    if (text.compare(0, 6, "dword:") == 0) {
        std::string digits = text.substr(6);
        if (digits.empty() || digits.size() > 8)
            return std::nullopt;
        uint32_t n = 0;
        for (char c : digits) {
            if (HexDigit(c) < 0)
                return std::nullopt;
            n = n * 16 + uint32_t(HexDigit(c));
        }
        std::string bytes = {char(n & 0xff), char((n >> 8) & 0xff), char((n >> 16) & 0xff), char(n >> 24)};
        return std::make_pair(DWORD(REG_DWORD), bytes);
    }
    DWORD type = REG_BINARY;
    size_t colon;
    if (text.compare(0, 4, "hex:") == 0) {
        colon = 3;
    } else if (text.compare(0, 4, "hex(") == 0) {
        size_t close = text.find("):", 4);
        if (close == std::string::npos || close == 4 || close > 12)
            return std::nullopt;
        type = 0;
        for (size_t i = 4; i < close; i++) {
            if (HexDigit(text[i]) < 0)
                return std::nullopt;
            type = type * 16 + DWORD(HexDigit(text[i]));
        }
        colon = close + 1;
    } else {
        return std::nullopt;
    }
    auto bytes = ParseHexBytes(text.substr(colon + 1));
    if (!bytes)
        return std::nullopt;
    // A string written in hex (one that holds a line break) is a string again once read.
    if (type == REG_SZ)
        bytes->erase(std::min(bytes->size(), bytes->find('\0')));
    return std::make_pair(type, *bytes);
}

void FormatKey(const Key &key, const std::string &path, bool isRoot, std::string &out)
{
    if (!isRoot || !key.values.empty()) {
        out += "[" + path + "]\r\n";
        for (const auto &value : key.values)
            out += FormatValue(value) + "\r\n";
        out += "\r\n";
    }
    for (const auto &child : key.children)
        FormatKey(*child, path + "\\" + child->name, false, out);
}

}  // namespace

std::optional<KeyPath> ParseKeyPath(const std::string &text)
{
    std::string trimmed = text;
    if (!trimmed.empty() && trimmed.back() == '\\')
        trimmed.pop_back();
    KeyPath path = Split(trimmed, '\\');
    if (RootIndex(path[0]) < 0)
        return std::nullopt;
    for (const auto &name : path)
        if (name.empty() || HasLineBreak(name))
            return std::nullopt;
    path[0] = ROOT_NAMES[RootIndex(path[0])];
    return path;
}

std::optional<KeyPath> SplitSubKey(const char *subKey)
{
    if (!subKey || !*subKey)
        return KeyPath{};
    std::string text = subKey;
    if (text.back() == '\\')
        text.pop_back();
    KeyPath path = Split(text, '\\');
    for (const auto &name : path)
        if (name.empty() || HasLineBreak(name))
            return std::nullopt;
    return path;
}

std::string JoinKeyPath(const KeyPath &path)
{
    std::string text;
    for (const auto &name : path)
        text += (text.empty() ? "" : "\\") + name;
    return text;
}

Key *FindKey(Tree &tree, const KeyPath &path)
{
    if (path.empty())
        return nullptr;
    int root = RootIndex(path[0]);
    if (root < 0)
        return nullptr;
    Key *key = &tree.roots[root];
    for (size_t i = 1; key && i < path.size(); i++)
        key = FindChild(*key, path[i]);
    return key;
}

Key *CreateKey(Tree &tree, const KeyPath &path, bool *created)
{
    *created = false;
    if (path.empty() || RootIndex(path[0]) < 0)
        return nullptr;
    Key *key = &tree.roots[RootIndex(path[0])];
    for (size_t i = 1; i < path.size(); i++) {
        Key *child = FindChild(*key, path[i]);
        if (!child) {
            key->children.push_back(std::make_unique<Key>());
            child = key->children.back().get();
            child->name = path[i];
            *created = true;
        }
        key = child;
    }
    return key;
}

bool DeleteKey(Tree &tree, const KeyPath &path)
{
    if (path.size() < 2)
        return false;
    Key *parent = FindKey(tree, KeyPath(path.begin(), path.end() - 1));
    if (!parent)
        return false;
    auto &children = parent->children;
    auto it = std::find_if(children.begin(), children.end(),
                           [&](const std::unique_ptr<Key> &child) { return SameName(child->name, path.back()); });
    if (it == children.end())
        return false;
    children.erase(it);
    return true;
}

Value *FindValue(Key &key, const std::string &name)
{
    for (auto &value : key.values)
        if (SameName(value.name, name))
            return &value;
    return nullptr;
}

void SetValue(Key &key, const std::string &name, DWORD type, const std::string &data)
{
    Value *value = FindValue(key, name);
    if (!value) {
        key.values.push_back(Value{name, type, data});
        return;
    }
    value->type = type;
    value->data = data;
}

std::string FormatValue(const Value &value)
{
    std::string line = value.name.empty() ? "@=" : Quote(value.name) + "=";
    if (value.type == REG_SZ && !HasLineBreak(value.data))
        return line + Quote(value.data);
    if (value.type == REG_DWORD && value.data.size() == 4) {
        uint32_t n = 0;
        for (int i = 3; i >= 0; i--)
            n = n * 256 + uint8_t(value.data[i]);
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08x", unsigned(n));
        return line + "dword:" + digits;
    }
    std::string bytes = value.data;
    if (value.type == REG_SZ)
        bytes += '\0';
    if (value.type == REG_BINARY) {
        line += "hex:";
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", unsigned(value.type));
        line += prefix;
    }
    for (size_t i = 0; i < bytes.size(); i++) {
        if (i)
            line += ',';
        line += HEX[uint8_t(bytes[i]) >> 4];
        line += HEX[uint8_t(bytes[i]) & 15];
    }
    return line;
}

bool Parse(const std::string &text, Tree &tree)
{
    std::vector<std::string> lines = Split(text, '\n');
    for (auto &line : lines)
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    if (lines.empty() || lines[0] != "REGEDIT4")
        return false;

    // Where each value of the current section stands, by folded name, so that a long section is
    // read in linear time; a name given twice keeps its last data, as regedit's import does.
    std::unordered_map<std::string, size_t> valueIndex;
    Key *current = nullptr;
    for (size_t i = 1; i < lines.size(); i++) {
        std::string line = lines[i];
        size_t lead = line.find_first_not_of(" \t");
        if (lead == std::string::npos || line[lead] == ';')
            continue;
        line.erase(0, lead);
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            auto path = close == std::string::npos ? std::nullopt : ParseKeyPath(line.substr(1, close - 1));
            bool created;
            current = path ? CreateKey(tree, *path, &created) : nullptr;
            valueIndex.clear();
            if (current)
                for (size_t v = 0; v < current->values.size(); v++)
                    valueIndex[Folded(current->values[v].name)] = v;
            continue;
        }
        if (!current)
            continue;
        std::string name;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            auto quoted = Unquote(line, &pos);
            if (!quoted || quoted->empty())
                continue;
            name = *quoted;
        } else {
            continue;
        }
        if (pos >= line.size() || line[pos] != '=')
            continue;
        std::string data = line.substr(pos + 1);
        // Hex data may run on over further lines, each but the last ending in a backslash.
        if (data.compare(0, 3, "hex") == 0) {
            while (!data.empty() && data.back() == '\\' && i + 1 < lines.size()) {
                data.pop_back();
                std::string next = lines[++i];
                size_t start = next.find_first_not_of(" \t");
                data += start == std::string::npos ? "" : next.substr(start);
            }
        }
        auto parsed = ParseData(data);
        if (!parsed)
            continue;
        auto known = valueIndex.emplace(Folded(name), current->values.size());
        if (known.second)
            current->values.push_back(Value{name, parsed->first, parsed->second});
        else
            current->values[known.first->second] = Value{current->values[known.first->second].name,
                                                         parsed->first, parsed->second};
    }
    return true;
}

std::string Format(const Tree &tree)
{
    std::string out = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < ROOT_COUNT; i++)
        FormatKey(tree.roots[i], ROOT_NAMES[i], true, out);
    return out;
}

void Seed(Tree &tree)
{
    bool created;
    CreateKey(tree, {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Microsoft", "Windows", "CurrentVersion", "Uninstall"},
              &created);
    CreateKey(tree, {"HKEY_LOCAL_MACHINE", "SOFTWARE", "Classes"}, &created);
    CreateKey(tree, {"HKEY_CURRENT_USER", "Software"}, &created);
    CreateKey(tree, {"HKEY_USERS", ".DEFAULT"}, &created);
}

}  // namespace hostwin::detail::regfile
