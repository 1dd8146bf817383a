// A throwaway machine for the shell tests: a temporary folder holding the machine and, beside it,
// an "outside" folder for sentinels that nothing the machine does may reach.
#pragma once
#include <hostwin/control.h>
#include <hostwin/windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <fstream>
#include <sstream>
#include <string>

namespace shelltest {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const fs::path &file, const std::string &text)
{
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

// Runs a host command and gives what it printed; nullopt when it could not run or failed.
inline std::optional<std::string> Output(const std::string &command)
{
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string text;
    char chunk[512];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), pipe)) > 0)
        text.append(chunk, got);
    return pclose(pipe) == 0 ? std::optional<std::string>(text) : std::nullopt;
}

// A text as one word for the host shell.
inline std::string Quoted(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The folder of this test program, where the host tools are built too.
inline fs::path BuiltBeside(const std::string &name) { return fs::read_symlink("/proc/self/exe").parent_path() / name; }

// A fault on the next call of a name.
inline hostwin::Fault NextCallFails(const char *call, uint32_t error = 0)
{
    hostwin::Fault fault;
    fault.call = call;
    fault.error = error;
    return fault;
}

class ShellMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hostwin-shell-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        temp = pattern;
        machine = temp / "machine";
        outside = temp / "outside";
        fs::create_directories(machine);
        fs::create_directories(outside);
        hostwin::UseMachine(machine);
        hostwin::ResetControls();
    }

    void TearDown() override
    {
        hostwin::ResetControls();
        unsetenv("HOSTWIN_JOURNAL");
        std::error_code error;
        // Read-only folders left by a test must not stop the clean-up.
        for (auto it = fs::recursive_directory_iterator(temp, error); !error && it != fs::end(it);
             it.increment(error))
            if (!it->is_symlink() && it->is_directory())
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(temp, error);
    }

public:
    // The host path of a Windows path inside the machine.
    fs::path Host(const std::string &windowsPath)
    {
        auto host = hostwin::HostPath(windowsPath);
        EXPECT_TRUE(host.has_value()) << windowsPath;
        return host.value_or(fs::path());
    }

    // Where a C: path lies in the machine folder, taken as written (for making fixtures whose
    // folders do not exist yet).
    fs::path Drive(const std::string &windowsPath)
    {
        EXPECT_EQ(0u, windowsPath.rfind("C:\\", 0)) << windowsPath;
        std::string rest = windowsPath.substr(3);
        for (char &c : rest)
            if (c == '\\')
                c = '/';
        return machine / "C" / rest;
    }

    fs::path temp, machine, outside;
};

}  // namespace shelltest
