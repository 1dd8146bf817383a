// A throwaway machine for kernel32 tests: a temporary folder holding the machine and, beside it,
// an "outside" folder with sentinel files that nothing done through the machine may reach.
#pragma once
#include <hostwin/control.h>
#include <hostwin/windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace machinetest {

namespace fs = std::filesystem;

inline std::string ReadText(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteText(const fs::path &file, const std::string &text)
{
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

// Programs and tools built beside the test program.
inline fs::path BuiltBeside(const std::string &name)
{
    return fs::read_symlink("/proc/self/exe").parent_path() / name;
}

// Every file and folder below a host folder with its content (folders as "<dir>"), to see that
// nothing changed there.
inline std::map<std::string, std::string> Snapshot(const fs::path &folder)
{
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it); it.increment(ec)) {
        std::string name = it->path().lexically_relative(folder).native();
        if (it->is_symlink())
            entries[name] = "<link " + fs::read_symlink(it->path()).native() + ">";
        else if (it->is_directory())
            entries[name] = "<dir>";
        else
            entries[name] = ReadText(it->path());
    }
    return entries;
}

class Machine : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hostwin-kernel-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        temp = pattern;
        machine = temp / "machine";
        outside = temp / "outside";
        fs::create_directories(outside);
        WriteText(outside / "sentinel.txt", "outside the machine");
        hostwin::UseMachine(machine);
        machine = hostwin::MachineRoot();
        hostwin::ResetControls();
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        savedDirectory = cwd;
    }

    void TearDown() override
    {
        hostwin::ResetControls();
        unsetenv("HOSTWIN_JOURNAL");
        if (chdir(savedDirectory.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << savedDirectory;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(temp, ec); !ec && it != fs::end(it); it.increment(ec))
            if (!it->is_symlink())
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        // A program a test started and did not wait for may still be writing there.
        for (int attempt = 0; attempt < 20 && fs::exists(temp, ec); attempt++) {
            fs::remove_all(temp, ec);
            if (fs::exists(temp, ec))
                usleep(50000);
        }
    }

    // The host path of C:\..., built by hand so the tests do not lean on the code under test.
    fs::path C(const std::string &relative = "") const
    {
        std::string path = relative;
        for (char &c : path)
            if (c == '\\')
                c = '/';
        return path.empty() ? machine / "C" : machine / "C" / path;
    }

    void EnterFolder(const fs::path &host) const { ASSERT_EQ(chdir(host.c_str()), 0) << host; }

    static void MakeReadOnly(const fs::path &host) { ::chmod(host.c_str(), 0444); }

    fs::path temp, machine, outside, savedDirectory;
};

}  // namespace machinetest
