// The machine's Explorer: opened on a folder, it shows the folder's entries as lines on standard
// output (name, and for a shell link its target and description, tab-separated), so a person sees
// the window a program opened.
#include "internal.h"
#include "support/ansi_text.h"
#include "startup.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Explorer's own switches ("/e,", "/n,", "/root,...") before the folder are not part of it.
std::string FolderOf(std::string commandLine)
{
    while (!commandLine.empty() && commandLine[0] == '/') {
        size_t comma = commandLine.find(',');
        if (comma == std::string::npos)
            return "";
        commandLine.erase(0, comma + 1);
    }
    while (!commandLine.empty() && (commandLine.back() == ' ' || commandLine.back() == '\t'))
        commandLine.pop_back();
    if (commandLine.size() >= 2 && commandLine.front() == '"' && commandLine.back() == '"')
        commandLine = commandLine.substr(1, commandLine.size() - 2);
    return commandLine;
}

bool FoldedLess(const std::string &a, const std::string &b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower((unsigned char)x) < std::tolower((unsigned char)y);
    });
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    std::string folder = FolderOf(commandLine);
    std::error_code error;
    auto host = hostwin::HostPath(folder);
    if (folder.empty() || !host || !std::filesystem::is_directory(*host, error)) {
        std::printf("Explorer: %s\n", folder.c_str());
        std::fprintf(stderr, "Explorer: cannot open '%s': The system cannot find the path specified.\n",
                     folder.c_str());
        hostwin::detail::Journal("Explorer\t" + hostwin::detail::JournalField(folder) + "\t=> -1");
        return 1;
    }

    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(*host, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end(), FoldedLess);

    std::printf("Explorer: %s\n", folder.c_str());
    for (const std::string &name : names) {
        auto link = hostwin::detail::ReadShellLink(*host / name);
        if (link)
            std::printf("%s\t%s\t%s\n", name.c_str(), link->target.c_str(), link->description.c_str());
        else
            std::printf("%s\n", name.c_str());
    }
    std::fflush(stdout);
    hostwin::detail::Journal("Explorer\t" + hostwin::detail::JournalField(folder) + "\t=> " + std::to_string(names.size()));
    return 0;
}
