// lnkdump: prints what a shell link file holds, one "name: value" line each.
// Usage: lnkdump FILE   (a host path, or a Windows path inside the machine)
#include "../internal.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: lnkdump FILE\n");
        return 2;
    }
    std::filesystem::path file = argv[1];
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        if (auto inMachine = hostwin::HostPath(argv[1]))
            file = *inMachine;
    }
    auto link = hostwin::detail::ReadShellLink(file);
    if (!link) {
        std::fprintf(stderr, "lnkdump: %s: not a shell link file\n", argv[1]);
        return 1;
    }
    std::printf("target: %s\n", link->target.c_str());
    std::printf("description: %s\n", link->description.c_str());
    std::printf("arguments: %s\n", link->arguments.c_str());
    std::printf("icon location: %s\n", link->iconLocation.c_str());
    std::printf("icon index: %d\n", link->iconIndex);
    std::printf("working directory: %s\n", link->workingDirectory.c_str());
    return 0;
}
