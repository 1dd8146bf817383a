// shellreg: the command-line gate, a whole registration run and what it leaves (uninstaller,
// group and entries, keys, Explorer), its repetition, the uninstaller already in place, installed
// directories with blanks, at a drive root and too long, and the run under injected faults.
#include "demo_machine.h"

#include "shellreg.h"

#include <chrono>
#include <thread>

namespace {

using namespace demotest;

const std::string GAMES = "C:\\Games\\Zarn";

struct ExpectedEntry {
    std::string file;
    std::string target;
    std::string description;
    std::string icon;
    std::string arguments;
};

// The four entries as a run in that installed directory writes them.
std::vector<ExpectedEntry> EntriesFor(const std::string &installed)
{
    return {
        {ENTRY_FILES[0], installed + "\\zarnhold.exe", "Zarn_Hold Demo", installed + "\\icons\\zh5.ico", ""},
        {ENTRY_FILES[1], installed + "\\setup.exe", "Setup utility for Zarn-Hold Demo",
         installed + "\\icons\\zh5setup.ico", ""},
        {ENTRY_FILES[2], installed + "\\readme.txt", "Readme for Zarn-Hold Demo", "", ""},
        {ENTRY_FILES[3], INSTALLED_UNINSTALLER, "Uninstaller for Zarn-Hold Demo", installed + "\\icons\\zh5unins.ico",
         installed},
    };
}

std::string FileName(const std::string &windowsPath) { return windowsPath.substr(windowsPath.rfind('\\') + 1); }

class Shellreg : public DemoMachine {
protected:
    // Each entry file read back holds exactly what the run set on it, and nothing it did not set.
    void ExpectEntry(const ExpectedEntry &entry)
    {
        SCOPED_TRACE(entry.file);
        auto link = Link(entry.file);
        ASSERT_TRUE(link.has_value()) << "no link file at " << entry.file;
        EXPECT_EQ(entry.target, link->target);
        EXPECT_EQ(entry.description, link->description);
        EXPECT_EQ(entry.icon, link->iconLocation);
        EXPECT_EQ(0, link->iconIndex);
        EXPECT_EQ(entry.arguments, link->arguments);
        EXPECT_EQ("", link->workingDirectory);
    }

    void ExpectRegistered(const std::string &installed)
    {
        EXPECT_EQ(std::optional<uint32_t>(0), hostwin::RegistryDword(DEMO_KEY, "Installed Version"));
        EXPECT_EQ(std::optional<std::string>("Zarn-Hold Demo"), hostwin::RegistryString(UNINSTALL_KEY, "DisplayName"));
        EXPECT_EQ(std::optional<std::string>(INSTALLED_UNINSTALLER + " " + installed),
                  hostwin::RegistryString(UNINSTALL_KEY, "UninstallString"));
    }

    std::vector<std::string> AllEntryNames() const
    {
        std::vector<std::string> names;
        for (const std::string &file : ENTRY_FILES)
            names.push_back(FileName(file));
        std::sort(names.begin(), names.end());
        return names;
    }

    // The Explorer that the run started, and did not wait for, notes the folder it opened.
    std::optional<JournalLine> ExplorerOpened(size_t runs = 1) const
    {
        for (int i = 0; i < 200; i++) {
            auto opened = Calls("Explorer");
            if (opened.size() >= runs)
                return opened.back();
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return std::nullopt;
    }
};

// --- the gate ---

struct GateCase {
    const char *name;
    std::string commandLine;
    bool passes;
};

TEST_F(Shellreg, OnlyTheExactTokenPassesTheGate)
{
    const std::string quoted = "\"" + DISC_SHELLREG + "\"";
    const GateCase cases[] = {
        {"the token", DISC_SHELLREG + " zarn5", true},
        {"blanks before it", DISC_SHELLREG + "    zarn5", true},
        {"a blank and tabs before it", DISC_SHELLREG + " \t\tzarn5", true},
        {"after a quoted program name", quoted + " zarn5", true},
        {"right after the closing quote", quoted + "zarn5", true},
        {"tabs and blanks after a quoted name", quoted + "\t \tzarn5", true},
        {"a blank after it", DISC_SHELLREG + " zarn5 ", false},
        {"a tab after it", DISC_SHELLREG + " zarn5\t", false},
        {"a letter after it", DISC_SHELLREG + " zarn5x", false},
        {"in capitals", DISC_SHELLREG + " ZARN5", false},
        {"its first four letters", DISC_SHELLREG + " zarn", false},
        {"no text", DISC_SHELLREG, false},
        {"blanks only", DISC_SHELLREG + "   ", false},
        {"in quotation marks", DISC_SHELLREG + " \"zarn5\"", false},
        {"quoted name, token in quotation marks", quoted + " \"zarn5\"", false},
    };
    for (const GateCase &gate : cases) {
        SCOPED_TRACE(gate.name);
        NewMachine();
        InstallDemo(GAMES);
        PlaceShellreg();
        auto before = MachineState();

        int code = Run(gate.commandLine, GAMES);

        auto boxes = Calls("MessageBoxA");
        if (gate.passes) {
            EXPECT_EQ(0, code);
            EXPECT_TRUE(boxes.empty());
            EXPECT_TRUE(hostwin::RegistryKeyExists(DEMO_KEY));
            EXPECT_EQ(AllEntryNames(), Listing(GROUP));
            continue;
        }
        EXPECT_EQ(255, code);  // -1
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ((std::vector<std::string>{"NULL", "Run 'Install' to install this demo", "Zarn-Hold", "0x00000030"}),
                  boxes[0].arguments);
        // The box is the only thing the run did: nothing on disk or in the registry changed.
        EXPECT_EQ(1u, Journal().size());
        EXPECT_EQ(std::vector<std::string>{}, Changes(before, MachineState()));
    }
}

// --- a whole run ---

TEST_F(Shellreg, RegistersTheCopiedDemoWithTheShell)
{
    InstallDemo(GAMES);
    const std::string shipped = ReadText(SWEEPER_PROGRAM);

    ASSERT_EQ(0, RunShellreg(GAMES));

    EXPECT_FALSE(Exists(GAMES + "\\sweeper.exe"));
    EXPECT_EQ(shipped, Read(INSTALLED_UNINSTALLER));
    EXPECT_EQ(AllEntryNames(), Listing(GROUP));
    for (const ExpectedEntry &entry : EntriesFor(GAMES))
        ExpectEntry(entry);
    ExpectRegistered(GAMES);
    // The demo's own files are left as they were copied.
    EXPECT_EQ("demo file \\zarnhold.exe", Read(GAMES + "\\zarnhold.exe"));

    // The uninstaller is in place before an entry points to it, the group before its entries,
    // the registry after the entries, and Explorer last.
    const std::string demoKey = "HKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO";
    const std::string uninstallKey =
        "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zarn-Hold Demo";
    EXPECT_EQ((std::vector<std::string>{
                  "MoveFileA " + GAMES + "\\sweeper.exe",
                  "CreateDirectoryA " + GROUP,
                  "IPersistFile.Save " + ENTRY_FILES[0],
                  "IPersistFile.Save " + ENTRY_FILES[1],
                  "IPersistFile.Save " + ENTRY_FILES[2],
                  "IPersistFile.Save " + ENTRY_FILES[3],
                  "RegSetValueExA " + demoKey,
                  "RegSetValueExA " + uninstallKey,
                  "RegSetValueExA " + uninstallKey,
                  "WinExec Explorer " + GROUP,
              }),
              CallOrder({"MoveFileA", "CreateDirectoryA", "IPersistFile.Save", "RegSetValueExA", "WinExec"}));
    auto started = Calls("WinExec");
    ASSERT_EQ(1u, started.size());
    EXPECT_EQ((std::vector<std::string>{"Explorer " + GROUP, "10"}), started[0].arguments);
    auto opened = ExplorerOpened();
    ASSERT_TRUE(opened.has_value()) << "Explorer did not open";
    EXPECT_EQ(std::vector<std::string>{GROUP}, opened->arguments);
    EXPECT_EQ("4", opened->result);  // entries it showed
    EXPECT_TRUE(Calls("MessageBoxA").empty());
}

TEST_F(Shellreg, WithoutAProgramsFolderItStopsAndChangesNothing)
{
    for (const char *fault : {"SHGetMalloc:always", "SHGetSpecialFolderLocation:always", "SHGetPathFromIDListA:always"}) {
        SCOPED_TRACE(fault);
        NewMachine();
        InstallDemo(GAMES);
        PlaceShellreg();
        auto before = MachineState();

        EXPECT_EQ(255, RunShellreg(GAMES, "zarn5", {std::string("HOSTWIN_FAULTS=") + fault}));

        EXPECT_EQ(0u, Journal().size()) << "no box, no change, no program started";
        EXPECT_EQ(std::vector<std::string>{}, Changes(before, MachineState()));
    }
}

TEST_F(Shellreg, ASecondRunLeavesTheSameStateAndOpensAnotherExplorer)
{
    InstallDemo(GAMES);
    ASSERT_EQ(0, RunShellreg(GAMES));
    auto afterFirst = MachineState();

    ASSERT_EQ(0, RunShellreg(GAMES));

    EXPECT_EQ(std::vector<std::string>{}, Changes(afterFirst, MachineState()));
    // The move finds no uninstaller to move and the run goes on with everything else.
    auto moves = Calls("MoveFileA");
    ASSERT_EQ(2u, moves.size());
    EXPECT_EQ("0 error 2", moves[1].result);  // ERROR_FILE_NOT_FOUND
    EXPECT_EQ(8u, Calls("IPersistFile.Save").size());
    EXPECT_EQ(6u, Calls("RegSetValueExA").size());
    EXPECT_EQ(2u, Calls("WinExec").size());
    EXPECT_TRUE(ExplorerOpened(2).has_value());
}

// --- an uninstaller of an earlier installation ---

struct EarlierUninstallerCase {
    const char *name;
    bool shipped;        // "\sweeper.exe" in the installed directory
    std::string faults;  // HOSTWIN_FAULTS for the run
    bool replaced;
};

TEST_F(Shellreg, AnEarlierUninstallerIsReplacedOnlyWhenTheMoveSaysItIsInTheWay)
{
    const EarlierUninstallerCase cases[] = {
        {"Windows 95: ERROR_FILE_EXISTS", true, "", true},
        {"NT and Wine: ERROR_ALREADY_EXISTS", true, "MoveFileA:once:ERROR_ALREADY_EXISTS", true},
        {"no shipped uninstaller", false, "", false},
        {"the move refused for another reason", true, "MoveFileA:once:ERROR_ACCESS_DENIED", false},
    };
    for (const EarlierUninstallerCase &earlier : cases) {
        SCOPED_TRACE(earlier.name);
        NewMachine();
        InstallDemo(GAMES, earlier.shipped);
        Write(INSTALLED_UNINSTALLER, "uninstaller of an earlier installation");

        EXPECT_EQ(0, RunShellreg(GAMES, "zarn5", {"HOSTWIN_FAULTS=" + earlier.faults}));

        if (earlier.replaced) {
            EXPECT_EQ(ReadText(SWEEPER_PROGRAM), Read(INSTALLED_UNINSTALLER));
            EXPECT_FALSE(Exists(GAMES + "\\sweeper.exe"));
            EXPECT_EQ((std::vector<std::string>{"MoveFileA " + GAMES + "\\sweeper.exe",
                                                "DeleteFileA " + INSTALLED_UNINSTALLER,
                                                "MoveFileA " + GAMES + "\\sweeper.exe"}),
                      CallOrder({"MoveFileA", "DeleteFileA"}));
        } else {
            EXPECT_EQ("uninstaller of an earlier installation", Read(INSTALLED_UNINSTALLER));
            EXPECT_EQ(earlier.shipped, Exists(GAMES + "\\sweeper.exe"));
            EXPECT_TRUE(Calls("DeleteFileA").empty());
            EXPECT_EQ(1u, Calls("MoveFileA").size());
        }
        // Either way the run goes on, and the entry and the command line name the system's file.
        EXPECT_EQ(AllEntryNames(), Listing(GROUP));
        ExpectEntry(EntriesFor(GAMES)[3]);
        ExpectRegistered(GAMES);
    }
}

// --- where the demo was installed ---

TEST_F(Shellreg, InstalledDirectoriesWithBlanksOrAtADriveRootAreUsedAsReported)
{
    struct Case {
        const char *name;
        std::string installed;  // as GetCurrentDirectoryA reports it
    };
    const Case cases[] = {
        {"blanks", "C:\\Program Files\\Zarn Hold Demo"},
        {"drive root", "E:\\"},
    };
    for (const Case &where : cases) {
        SCOPED_TRACE(where.name);
        NewMachine();
        InstallDemo(where.installed.back() == '\\' ? where.installed.substr(0, where.installed.size() - 1)
                                                   : where.installed);
        ASSERT_EQ(0, RunShellreg(where.installed));

        EXPECT_FALSE(Exists(where.installed + "\\sweeper.exe"));
        EXPECT_EQ(ReadText(SWEEPER_PROGRAM), Read(INSTALLED_UNINSTALLER));
        EXPECT_EQ(AllEntryNames(), Listing(GROUP));
        for (const ExpectedEntry &entry : EntriesFor(where.installed))
            ExpectEntry(entry);
        ExpectRegistered(where.installed);
        auto moves = Calls("MoveFileA");
        ASSERT_FALSE(moves.empty());
        EXPECT_EQ(where.installed + "\\sweeper.exe", moves[0].arguments[0]);
    }
    // At the root every composed path has two backslashes before the name, and the command line
    // and the uninstaller's arguments end in the root's backslash.
    EXPECT_EQ("E:\\\\zarnhold.exe", Link(ENTRY_FILES[0])->target);
    EXPECT_EQ("E:\\\\icons\\zh5unins.ico", Link(ENTRY_FILES[3])->iconLocation);
    EXPECT_EQ("E:\\", Link(ENTRY_FILES[3])->arguments);
    EXPECT_EQ(std::optional<std::string>("C:\\WINDOWS\\SYSTEM\\zh5ddins.exe E:\\"),
              hostwin::RegistryString(UNINSTALL_KEY, "UninstallString"));
}

// An installed directory of a given length, in characters, below C:\Games.
std::string DirectoryOfLength(size_t length)
{
    std::string directory = "C:\\Games\\";
    return directory + std::string(length - directory.size(), 'z');
}

TEST_F(Shellreg, EntriesWhosePathsDoNotFitAreLeftOutNotCut)
{
    struct Case {
        size_t length;
        std::vector<size_t> written;  // the entries whose paths all fit 260 bytes
        bool moved;                   // "\sweeper.exe" fits
    };
    // Longest appended names: game "\zarnhold.exe" 13 and "\icons\zh5.ico" 14; setup
    // "\icons\zh5setup.ico" 19; readme "\readme.txt" 11; uninstaller "\icons\zh5unins.ico" 19.
    const Case cases[] = {
        {240, {0, 1, 2, 3}, true},
        {241, {0, 2}, true},
        {245, {0, 2}, true},
        {246, {2}, true},
        {248, {2}, false},
        {249, {}, false},
        {259, {}, false},
    };
    for (const Case &row : cases) {
        const std::string installed = DirectoryOfLength(row.length);
        SCOPED_TRACE(std::to_string(row.length) + " characters");
        NewMachine();
        InstallDemo(installed, false);
        if (row.moved) {
            ASSERT_TRUE(hostwin::PlaceFile(SWEEPER_PROGRAM, installed + "\\sweeper.exe"));
        }

        ASSERT_EQ(0, RunShellreg(installed));

        auto expected = EntriesFor(installed);
        std::vector<std::string> names;
        for (size_t i : row.written) {
            ExpectEntry(expected[i]);
            names.push_back(FileName(expected[i].file));
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, Listing(GROUP));
        EXPECT_EQ(row.written.size(), Calls("IPersistFile.Save").size()) << "a path was cut";
        EXPECT_EQ(row.moved, Exists(INSTALLED_UNINSTALLER));
        // The command line fits its 520 bytes whatever the directory: the whole entry is written.
        ExpectRegistered(installed);
        EXPECT_EQ(1u, Calls("WinExec").size());
    }
}

TEST_F(Shellreg, AnUninstallCommandLineThatDoesNotFitLeavesTheWholeUninstallEntryOut)
{
    // A system directory of 250 characters: "\zh5ddins.exe", a blank and an installed directory of
    // 255 characters make 519 characters, the most the 520 bytes hold.
    const std::string system = "C:\\SYS\\" + std::string(243, 's');
    ASSERT_EQ(250u, system.size());
    for (size_t length : {255, 256}) {
        SCOPED_TRACE(std::to_string(length) + " characters");
        NewMachine();
        fs::create_directories(Host(system));
        WriteText(machine / "hostwin.ini", ReadText(machine / "hostwin.ini") + "SystemDirectory=" + system + "\r\n");
        const std::string installed = DirectoryOfLength(length);
        InstallDemo(installed, false);

        ASSERT_EQ(0, RunShellreg(installed));

        if (length == 255) {
            EXPECT_EQ(std::optional<std::string>("Zarn-Hold Demo"), hostwin::RegistryString(UNINSTALL_KEY, "DisplayName"));
            EXPECT_EQ(std::optional<std::string>(system + "\\zh5ddins.exe " + installed),
                      hostwin::RegistryString(UNINSTALL_KEY, "UninstallString"));
        } else {
            // No "DisplayName" without its "UninstallString": the list would offer what cannot be removed.
            EXPECT_FALSE(hostwin::RegistryKeyExists(UNINSTALL_KEY));
        }
        // The rest of the run is done.
        EXPECT_EQ(std::optional<uint32_t>(0), hostwin::RegistryDword(DEMO_KEY, "Installed Version"));
        EXPECT_TRUE(Exists(GROUP));
        auto started = Calls("WinExec");
        ASSERT_EQ(1u, started.size());
        EXPECT_EQ("Explorer " + GROUP, started[0].arguments[0]);
    }
}

// --- faults inside the run (in-process, to see every COM object released) ---

struct FaultCase {
    const char *name;
    const char *call;
    unsigned nth, count;  // count 0: every call from the nth on
    std::vector<size_t> written;
    bool demoKey, uninstallKey;
};

class ShellregInProcess : public Shellreg {
protected:
    // The run as the installer starts it: in the installed directory.
    int Register(const std::string &installed)
    {
        EXPECT_EQ(0, chdir(Host(installed).c_str()));
        return RegisterDemo("zarn5");
    }
};

TEST_F(ShellregInProcess, AFailingStepLeavesItsOwnItemsOutAndTheRunGoesOn)
{
    const FaultCase cases[] = {
        {"CoInitialize once", "CoInitialize", 1, 1, {}, true, true},
        {"CoInitialize always", "CoInitialize", 1, 0, {}, true, true},
        {"CoCreateInstance once", "CoCreateInstance", 1, 1, {1, 2, 3}, true, true},
        {"CoCreateInstance always", "CoCreateInstance", 1, 0, {}, true, true},
        {"QueryInterface once", "IShellLinkA.QueryInterface", 1, 1, {1, 2, 3}, true, true},
        {"QueryInterface always", "IShellLinkA.QueryInterface", 1, 0, {}, true, true},
        {"Save once", "IPersistFile.Save", 1, 1, {1, 2, 3}, true, true},
        {"Save of the setup entry", "IPersistFile.Save", 2, 1, {0, 2, 3}, true, true},
        {"Save always", "IPersistFile.Save", 1, 0, {}, true, true},
        {"RegCreateKeyExA once", "RegCreateKeyExA", 1, 1, {0, 1, 2, 3}, false, true},
        {"RegCreateKeyExA of the uninstall entry", "RegCreateKeyExA", 2, 1, {0, 1, 2, 3}, true, false},
        {"RegCreateKeyExA always", "RegCreateKeyExA", 1, 0, {0, 1, 2, 3}, false, false},
        {"the link name cannot be converted", "MultiByteToWideChar", 1, 1, {1, 2, 3}, true, true},
        {"the group folder cannot be made", "CreateDirectoryA", 1, 0, {}, true, true},
    };
    for (const FaultCase &fault : cases) {
        SCOPED_TRACE(fault.name);
        NewMachine();
        InstallDemo(GAMES);
        hostwin::Fault injected;
        injected.call = fault.call;
        injected.nth = fault.nth;
        injected.count = fault.count;
        hostwin::InjectFault(injected);

        EXPECT_EQ(0, Register(GAMES));

        EXPECT_EQ(0, hostwin::LiveComObjects()) << "a COM object was not released";
        auto expected = EntriesFor(GAMES);
        std::vector<std::string> names;
        for (size_t i : fault.written) {
            ExpectEntry(expected[i]);
            names.push_back(FileName(expected[i].file));
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, Listing(GROUP));
        EXPECT_EQ(fault.demoKey, hostwin::RegistryKeyExists(DEMO_KEY));
        if (fault.demoKey) {
            EXPECT_EQ(std::optional<uint32_t>(0), hostwin::RegistryDword(DEMO_KEY, "Installed Version"));
        }
        EXPECT_EQ(fault.uninstallKey, hostwin::RegistryKeyExists(UNINSTALL_KEY));
        if (fault.uninstallKey) {
            EXPECT_EQ(std::optional<std::string>(INSTALLED_UNINSTALLER + " " + GAMES),
                      hostwin::RegistryString(UNINSTALL_KEY, "UninstallString"));
        }
        // The items before and after the failing one are there.
        EXPECT_EQ(ReadText(SWEEPER_PROGRAM), Read(INSTALLED_UNINSTALLER));
        EXPECT_EQ(std::vector<std::string>{"Explorer " + GROUP}, hostwin::StartedCommands());
        ASSERT_EQ(0, chdir(savedDirectory.c_str()));
    }
}

TEST_F(ShellregInProcess, CreateShortcutReleasesTheLinkOnEveryWayOut)
{
    const std::string target = GAMES + "\\zarnhold.exe";
    Write(target, "game");
    ASSERT_EQ(S_OK, CoInitialize(NULL));
    struct Case {
        const char *name;
        const char *call;
        HRESULT expected;
    };
    const Case cases[] = {
        {"no link object", "CoCreateInstance", E_FAIL},
        {"no IPersistFile", "IShellLinkA.QueryInterface", E_NOINTERFACE},
        {"not saved", "IPersistFile.Save", STG_E_ACCESSDENIED},
        {"saved", nullptr, S_OK},
    };
    const std::string file = "C:\\entry.lnk";
    for (const Case &way : cases) {
        SCOPED_TRACE(way.name);
        if (way.call != nullptr) {
            hostwin::InjectFault(NextCallFails(way.call, (uint32_t)way.expected));
        }

        EXPECT_EQ(way.expected, CreateShortcut(target.c_str(), file.c_str(), "Zarn_Hold Demo", nullptr, "-x"));

        EXPECT_EQ(0, hostwin::LiveComObjects());
        EXPECT_EQ(way.expected == S_OK, Exists(file));
        hostwin::ClearFaults();
    }
    // What was given is on the link; an absent icon is not set at all.
    auto link = Link(file);
    ASSERT_TRUE(link.has_value());
    EXPECT_EQ(target, link->target);
    EXPECT_EQ("Zarn_Hold Demo", link->description);
    EXPECT_EQ("", link->iconLocation);
    EXPECT_EQ("-x", link->arguments);
    EXPECT_EQ(0u, hostwin::CallCount("IShellLinkA.SetIconLocation"));
}

}  // namespace
