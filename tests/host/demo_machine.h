// A throwaway Windows 95 machine for the tests of shellreg and sweeper: the demo copied into an
// installed directory as the disc's installer leaves it, the built programs placed in the machine
// and run with exact command lines, and readers for what they leave behind (files, link files,
// registry, the journal of their calls).
#pragma once
#include <hostwin/control.h>
#include <hostwin/windows.h>

#include "internal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace demotest {

namespace fs = std::filesystem;

// Where a fresh machine has its folders, written out so the tests do not lean on the code under test.
const std::string WINDOWS_DIR = "C:\\WINDOWS";
const std::string SYSTEM_DIR = "C:\\WINDOWS\\SYSTEM";
const std::string PROGRAMS = "C:\\WINDOWS\\Start Menu\\Programs";
const std::string GROUP = PROGRAMS + "\\Halvane";
const std::string WININIT = "C:\\WINDOWS\\wininit.ini";
const std::string INSTALLED_UNINSTALLER = SYSTEM_DIR + "\\zh5ddins.exe";
const std::string DISC_SHELLREG = "D:\\SHELLREG.EXE";

const std::string COMPANY_KEY = "HKEY_LOCAL_MACHINE\\Software\\Halvane";
const std::string DEMO_KEY = COMPANY_KEY + "\\ZARN5DEMO";
const std::string UNINSTALL_ROOT = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::string UNINSTALL_KEY = UNINSTALL_ROOT + "\\Zarn-Hold Demo";

// The four Start-menu entries, in the order they are written and deleted.
const std::vector<std::string> ENTRY_FILES = {
    GROUP + "\\Zarn-Hold Demo.pif",
    GROUP + "\\Setup utility for Zarn-Hold Demo.pif",
    GROUP + "\\Readme for Zarn-Hold Demo.lnk",
    GROUP + "\\Uninstaller for Zarn-Hold Demo.lnk",
};

inline std::string ReadText(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in)
        return "";
    std::string text((size_t)in.tellg(), '\0');
    in.seekg(0);
    in.read(text.data(), (std::streamsize)text.size());
    return text;
}

inline void WriteText(const fs::path &file, const std::string &text)
{
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::vector<std::string> Split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

// One call as the journal records it: its name, its arguments and what follows "=> ".
struct JournalLine {
    std::string call;
    std::vector<std::string> arguments;
    std::string result;
};

// Every file and folder below a host folder with what it holds, to see what a run changed:
// folders as "<dir>", link files as the properties they carry (their header also records the
// target's last access, which merely looking changes), programs by size and time.
inline std::map<std::string, std::string> Snapshot(const fs::path &folder)
{
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it); it.increment(ec)) {
        std::string name = it->path().lexically_relative(folder).native();
        if (it->path().extension() == ".lock")
            continue;  // the registry's lock file comes with any reader
        if (it->is_directory()) {
            entries[name] = "<dir>";
        } else if (auto link = hostwin::detail::ReadShellLink(it->path())) {
            entries[name] = "<link " + link->target + "|" + link->description + "|" + link->arguments + "|" +
                            link->iconLocation + "," + std::to_string(link->iconIndex) + "|" +
                            link->workingDirectory + ">";
        } else if (it->file_size(ec) < 65536) {
            entries[name] = ReadText(it->path());
        } else {
            entries[name] = "<" + std::to_string(it->file_size(ec)) + " bytes of " +
                            std::to_string(it->last_write_time(ec).time_since_epoch().count()) + ">";
        }
        if (!it->is_directory() && (it->status().permissions() & fs::perms::owner_write) == fs::perms::none)
            entries[name] += " <read-only>";
    }
    return entries;
}

// The names that differ between two snapshots, each with "-" (gone), "+" (new) or "~" (changed).
inline std::vector<std::string> Changes(const std::map<std::string, std::string> &before,
                                        const std::map<std::string, std::string> &after)
{
    std::vector<std::string> changes;
    for (const auto &[name, content] : before) {
        auto found = after.find(name);
        if (found == after.end())
            changes.push_back("-" + name);
        else if (found->second != content)
            changes.push_back("~" + name);
    }
    for (const auto &[name, content] : after)
        if (before.count(name) == 0)
            changes.push_back("+" + name);
    return changes;
}

class DemoMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zarn-demo-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        temp = pattern;
        // A box nobody answers is dismissed, also when the tests run at a terminal (the programs
        // started here inherit this standard input too).
        savedInput = dup(STDIN_FILENO);
        int nothing = open("/dev/null", O_RDONLY);
        ASSERT_GE(nothing, 0);
        dup2(nothing, STDIN_FILENO);
        close(nothing);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        savedDirectory = cwd;
        NewMachine();
    }

    void TearDown() override
    {
        hostwin::ResetControls();
        unsetenv("HOSTWIN_JOURNAL");
        if (chdir(savedDirectory.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << savedDirectory;
        if (savedInput >= 0) {
            dup2(savedInput, STDIN_FILENO);
            close(savedInput);
        }
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(temp, ec); !ec && it != fs::end(it); it.increment(ec))
            if (!it->is_symlink())
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        // An Explorer that shellreg started and nobody waits for may still be reading the group.
        for (int attempt = 0; attempt < 20 && fs::exists(temp, ec); attempt++) {
            fs::remove_all(temp, ec);
            if (fs::exists(temp, ec))
                usleep(50000);
        }
    }

    // Starts over on a machine of its own, with a journal of its own; the last ones stay in the
    // temporary folder until the end of the test.
    void NewMachine()
    {
        machines++;
        machine = temp / ("machine" + std::to_string(machines));
        hostwin::UseMachine(machine);
        machine = hostwin::MachineRoot();  // lays the machine out
        hostwin::ResetControls();
        NewJournal();
    }

    // The journal from here on. The last one keeps what comes late, such as the line of an
    // Explorer that a run started and did not wait for.
    void NewJournal()
    {
        journal = temp / ("journal" + std::to_string(++journals) + ".txt");
        setenv("HOSTWIN_JOURNAL", journal.c_str(), 1);
    }

    // The host path of a Windows path on one of the machine's drives, translated by hand.
    fs::path Host(const std::string &windowsPath) const
    {
        EXPECT_TRUE(windowsPath.size() >= 2 && windowsPath[1] == ':') << windowsPath;
        std::string rest = windowsPath.substr(2);
        for (char &c : rest)
            if (c == '\\')
                c = '/';
        while (!rest.empty() && rest[0] == '/')
            rest.erase(0, 1);
        fs::path drive = machine / std::string(1, (char)toupper((unsigned char)windowsPath[0]));
        return rest.empty() ? drive : drive / rest;
    }

    bool Exists(const std::string &windowsPath) const
    {
        std::error_code ec;
        return fs::exists(Host(windowsPath), ec);
    }

    std::string Read(const std::string &windowsPath) const { return ReadText(Host(windowsPath)); }
    void Write(const std::string &windowsPath, const std::string &text) const { WriteText(Host(windowsPath), text); }

    // The demo as the disc's installer leaves it in the installed directory: the game, its setup
    // utility, the readme, the three icons, the shipped uninstaller (the real sweeper build), a
    // saved game in a folder of its own and a read-only file. Files whose path would not fit a
    // Windows path are left out, as no installer could have copied them.
    void InstallDemo(const std::string &directory, bool withUninstaller = true)
    {
        fs::create_directories(Host(directory));
        for (const char *name : {"\\zarnhold.exe", "\\setup.exe", "\\readme.txt", "\\icons\\zh5.ico",
                                 "\\icons\\zh5setup.ico", "\\icons\\zh5unins.ico", "\\SAVES\\slot1.sav",
                                 "\\SAVES\\old\\slot0.sav", "\\license.txt"})
            if ((directory + name).size() < MAX_PATH)
                Write(directory + name, std::string("demo file ") + name);
        if ((directory + "\\license.txt").size() < MAX_PATH)
            chmod(Host(directory + "\\license.txt").c_str(), 0444);
        if (withUninstaller) {
            ASSERT_TRUE(hostwin::PlaceFile(SWEEPER_PROGRAM, directory + "\\sweeper.exe"));
        }
    }

    // shellreg on the disc in drive D, as the disc's installer starts it.
    void PlaceShellreg()
    {
        fs::create_directories(machine / "D");
        ASSERT_TRUE(hostwin::PlaceFile(SHELLREG_PROGRAM, DISC_SHELLREG));
    }

    // Runs a program of the machine with an exact command line from a Windows directory; the exit
    // code as the host sees it (-1 is 255).
    int Run(const std::string &commandLine, const std::string &directory,
            const std::vector<std::string> &environment = {}) const
    {
        return hostwin::RunProgram(commandLine, Host(directory), environment);
    }

    // shellreg from the disc, in the installed directory, with the text after its name.
    int RunShellreg(const std::string &installedDirectory, const std::string &text = "zarn5",
                    const std::vector<std::string> &environment = {})
    {
        if (!Exists(DISC_SHELLREG))
            PlaceShellreg();
        return Run(DISC_SHELLREG + " " + text, installedDirectory, environment);
    }

    std::vector<JournalLine> Journal() const
    {
        std::vector<JournalLine> lines;
        std::istringstream text(ReadText(journal));
        std::string line;
        while (std::getline(text, line)) {
            std::vector<std::string> fields = Split(line, '\t');
            JournalLine entry;
            entry.call = fields.front();
            for (size_t i = 1; i < fields.size(); i++) {
                if (i + 1 == fields.size() && fields[i].rfind("=> ", 0) == 0)
                    entry.result = fields[i].substr(3);
                else
                    entry.arguments.push_back(fields[i]);
            }
            lines.push_back(entry);
        }
        return lines;
    }

    std::vector<JournalLine> Calls(const std::string &call) const
    {
        std::vector<JournalLine> found;
        for (const JournalLine &line : Journal())
            if (line.call == call)
                found.push_back(line);
        return found;
    }

    // The journal as "Call arg1 arg2 ..." texts (no results), for order checks.
    std::vector<std::string> CallOrder(const std::vector<std::string> &names) const
    {
        std::vector<std::string> order;
        for (const JournalLine &line : Journal())
            if (std::find(names.begin(), names.end(), line.call) != names.end()) {
                std::string text = line.call;
                if (!line.arguments.empty())
                    text += " " + line.arguments.front();
                order.push_back(text);
            }
        return order;
    }

    std::optional<hostwin::detail::ShellLink> Link(const std::string &windowsPath) const
    {
        return hostwin::detail::ReadShellLink(Host(windowsPath));
    }

    // The names in a folder, sorted.
    std::vector<std::string> Listing(const std::string &windowsPath) const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(Host(windowsPath), ec), end; !ec && it != end; it.increment(ec))
            names.push_back(it->path().filename().native());
        std::sort(names.begin(), names.end());
        return names;
    }

    // Everything in the machine: its drives and its registry file.
    std::map<std::string, std::string> MachineState() const { return Snapshot(machine); }

    fs::path temp, machine, journal;
    std::string savedDirectory;
    int savedInput = -1;
    int machines = 0;
    int journals = 0;
};

}  // namespace demotest
