// The text of profile (.ini) files: read by the machine's settings, edited by
// WritePrivateProfileStringA, both as Windows reads them (case-insensitive names, blanks trimmed).
#include "internal.h"

namespace hostwin::detail {
namespace {

struct ProfileLine {
    std::string text;
    std::string end;  // "\r\n", "\n" or "" for a last line without one
};

std::string Trim(const std::string &text)
{
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

std::vector<ProfileLine> SplitLines(const std::string &content)
{
    std::vector<ProfileLine> lines;
    size_t start = 0;
    while (start < content.size()) {
        size_t newline = content.find('\n', start);
        if (newline == std::string::npos) {
            lines.push_back({content.substr(start), ""});
            break;
        }
        bool crlf = newline > start && content[newline - 1] == '\r';
        lines.push_back({content.substr(start, newline - start - (crlf ? 1 : 0)), crlf ? "\r\n" : "\n"});
        start = newline + 1;
    }
    return lines;
}

std::optional<std::string> SectionName(const std::string &line)
{
    std::string text = Trim(line);
    if (text.empty() || text[0] != '[')
        return std::nullopt;
    size_t close = text.find(']');
    return Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

}  // namespace

std::optional<std::string> ProfileValue(const std::string &content, const std::string &section, const std::string &key)
{
    bool inSection = false;
    for (const ProfileLine &line : SplitLines(content)) {
        if (std::optional<std::string> name = SectionName(line.text)) {
            inSection = SameName(*name, section);
            continue;
        }
        size_t equals = line.text.find('=');
        if (inSection && equals != std::string::npos && SameName(Trim(line.text.substr(0, equals)), key))
            return Trim(line.text.substr(equals + 1));
    }
    return std::nullopt;
}

// Edits a profile's text as WritePrivateProfileStringA does; the lines it does not touch stay
// byte for byte.
std::string EditProfile(const std::string &content, const std::string &section, const char *key, const char *value)
{
    std::vector<ProfileLine> lines = SplitLines(content);
    size_t header = lines.size();
    for (size_t i = 0; i < lines.size(); i++) {
        std::optional<std::string> name = SectionName(lines[i].text);
        if (name && SameName(*name, Trim(section))) {
            header = i;
            break;
        }
    }
    size_t sectionEnd = lines.size();
    if (header < lines.size())
        for (size_t i = header + 1; i < lines.size(); i++)
            if (SectionName(lines[i].text)) {
                sectionEnd = i;
                break;
            }

    if (key == nullptr) {
        if (header < lines.size())
            lines.erase(lines.begin() + (long)header, lines.begin() + (long)sectionEnd);
    } else {
        size_t found = lines.size();
        if (header < lines.size())
            for (size_t i = header + 1; i < sectionEnd; i++) {
                size_t equals = lines[i].text.find('=');
                if (equals != std::string::npos && SameName(Trim(lines[i].text.substr(0, equals)), Trim(key))) {
                    found = i;
                    break;
                }
            }
        if (value == nullptr) {
            if (found < lines.size())
                lines.erase(lines.begin() + (long)found);
        } else if (found < lines.size()) {
            lines[found].text = std::string(key) + "=" + value;
        } else if (header < lines.size()) {
            // At the end of the section, before the blank lines that part it from the next one.
            size_t at = sectionEnd;
            while (at > header + 1 && Trim(lines[at - 1].text).empty())
                at--;
            if (lines[at - 1].end.empty())
                lines[at - 1].end = "\r\n";
            lines.insert(lines.begin() + (long)at, ProfileLine{std::string(key) + "=" + value, "\r\n"});
        } else {
            if (!lines.empty() && lines.back().end.empty())
                lines.back().end = "\r\n";
            lines.push_back({"[" + section + "]", "\r\n"});
            lines.push_back({std::string(key) + "=" + value, "\r\n"});
        }
    }
    std::string out;
    for (const ProfileLine &line : lines)
        out += line.text + line.end;
    return out;
}

}  // namespace hostwin::detail
