// The machine of the tests of shellreg and sweeper, built on the throwaway machine: the demo copied
// into an installed directory as the disc's installer leaves it, the built programs placed in the
// machine and run with exact command lines, a machine and a journal afresh for each run a test
// makes, and what a run leaves behind (link files, the state of the whole machine).
#pragma once
#include "machine_fixture.h"

#include "internal.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace demotest {

// The demo's tests use the shared machine's helpers as their own.
using namespace machinetest;

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

class DemoMachine : public Machine {
protected:
    void SetUp() override
    {
        Machine::SetUp();
        NewJournal();
    }

    // Starts over on a machine of its own, with a journal of its own; the last ones stay in the
    // temporary folder until the end of the test.
    void NewMachine()
    {
        UseNewMachine("machine" + std::to_string(++machines));
        NewJournal();
    }

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

    std::optional<hostwin::detail::ShellLink> Link(const std::string &windowsPath) const
    {
        return hostwin::detail::ReadShellLink(Host(windowsPath));
    }

    // Everything in the machine, its drives and its registry file, to see what a run changed: link
    // files as the properties they carry (their header also records the target's last access,
    // which merely looking changes), programs by size and time, and read-only files marked.
    std::map<std::string, std::string> MachineState() const
    {
        return Snapshot(machine, [](const fs::directory_entry &file) -> std::optional<std::string> {
            if (file.path().extension() == ".lock")
                return std::nullopt;  // the registry's lock file comes with any reader
            std::error_code ec;
            std::string shown;
            if (auto link = hostwin::detail::ReadShellLink(file.path()))
                shown = "<link " + link->target + "|" + link->description + "|" + link->arguments + "|" +
                        link->iconLocation + "," + std::to_string(link->iconIndex) + "|" +
                        link->workingDirectory + ">";
            else if (file.file_size(ec) < 65536)
                shown = ReadText(file.path());
            else
                shown = "<" + std::to_string(file.file_size(ec)) + " bytes of " +
                        std::to_string(file.last_write_time(ec).time_since_epoch().count()) + ">";
            if ((file.status().permissions() & fs::perms::owner_write) == fs::perms::none)
                shown += " <read-only>";
            return shown;
        });
    }

    int machines = 0;
};

}  // namespace demotest
