// sweeper: the question, the gates before it, "No", and "Yes" on an installation that shellreg
// registered (started through the uninstall command line it recorded), with the Programs folder
// lookup failing after the deletion and a second run after a complete removal.
#include "demo_machine.h"

#include "sweeper.h"

namespace {

using namespace demotest;

const std::string GAMES = "C:\\Games\\Zarn";
const std::string QUESTION = "Are you sure you want to remove Zarn-Hold Demo from your system ?";
const std::string NUL_LINE = "NUL=C:\\WINDOWS\\SYSTEM\\zh5ddins.exe\r\n";
const std::string PARKED_LINE = "C:\\WINDOWS\\TEMP\\\\zh5deins.$$$=C:\\WINDOWS\\SYSTEM\\zh5ddins.exe\r\n";

class Sweeper : public DemoMachine {
protected:
    // The demo copied and registered by shellreg, as the user finds it before removing it.
    void Register(const std::string &installed)
    {
        InstallDemo(installed);
        ASSERT_EQ(0, RunShellreg(installed));
        ASSERT_TRUE(Exists(INSTALLED_UNINSTALLER));
        ASSERT_TRUE(hostwin::RegistryKeyExists(UNINSTALL_KEY));
        NewJournal();
    }

    // What the Add/Remove Programs list runs.
    std::string UninstallCommand() const
    {
        return hostwin::RegistryString(UNINSTALL_KEY, "UninstallString").value_or("<no uninstall string>");
    }

    int RunUninstallCommand(const std::string &answers, const std::vector<std::string> &environment = {})
    {
        std::vector<std::string> variables = environment;
        variables.push_back("HOSTWIN_ANSWERS=" + answers);
        return Run(UninstallCommand(), WINDOWS_DIR, variables);
    }

    void ExpectStillRegistered(const std::string &installed)
    {
        for (const std::string &entry : ENTRY_FILES)
            EXPECT_TRUE(Exists(entry)) << entry;
        EXPECT_TRUE(hostwin::RegistryKeyExists(DEMO_KEY));
        EXPECT_TRUE(hostwin::RegistryKeyExists(UNINSTALL_KEY));
        EXPECT_TRUE(Exists(installed + "\\zarnhold.exe"));
    }

    // Another program's entry in the Add/Remove Programs list and a key of the company's next
    // to the demo's: neither is the uninstaller's to delete.
    void AddNeighbours()
    {
        for (const char *key : {"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other Program",
                                "Software\\Halvane\\Other Demo"}) {
            HKEY handle;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                                     &handle, NULL));
            RegCloseKey(handle);
        }
    }
};

// --- before anything is changed (in-process) ---

TEST_F(Sweeper, AsksItsOneQuestionWithoutAnOwner)
{
    InstallDemo(GAMES);
    hostwin::QueueMessageBoxAnswers({IDNO});

    EXPECT_EQ(-1, RemoveDemo(GAMES.c_str()));

    auto boxes = hostwin::MessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(0u, boxes[0].owner);
    EXPECT_EQ(QUESTION, boxes[0].text);
    EXPECT_EQ("Zarn-Hold Demo", boxes[0].caption);
    EXPECT_EQ(0x24u, boxes[0].style);  // MB_ICONQUESTION | MB_YESNO, Yes the default button
}

struct GateCase {
    const char *name;
    std::string text;
    hostwin::Platform platform;
    bool asks;
};

TEST_F(Sweeper, StopsBeforeTheQuestionOnAnEmptyTextOrAnotherPlatform)
{
    const GateCase cases[] = {
        {"Windows 95", GAMES, hostwin::Platform::Windows95, true},
        {"the platform query fails", GAMES, hostwin::Platform::Failing, true},
        {"empty text", "", hostwin::Platform::Windows95, false},
        {"Windows NT", GAMES, hostwin::Platform::WindowsNT, false},
        {"Win32s", GAMES, hostwin::Platform::Win32s, false},
    };
    for (const GateCase &gate : cases) {
        SCOPED_TRACE(gate.name);
        NewMachine();
        InstallDemo(GAMES);
        hostwin::SetPlatform(gate.platform);
        hostwin::QueueMessageBoxAnswers({IDYES});
        auto before = MachineState();

        int result = RemoveDemo(gate.text.c_str());

        EXPECT_EQ(gate.asks ? 1u : 0u, hostwin::MessageBoxes().size());
        if (gate.asks) {
            // The run went on to its end: the directory is gone and the wininit.ini line written.
            EXPECT_NE(0, result);
            EXPECT_NE(-1, result);
            EXPECT_FALSE(Exists(GAMES));
            continue;
        }
        EXPECT_EQ(-1, result);
        EXPECT_EQ(0u, Journal().size());
        EXPECT_EQ(std::vector<std::string>{}, Changes(before, MachineState()));
        if (gate.text.empty()) {
            EXPECT_EQ(0u, hostwin::CallCount("GetVersionExA")) << "the platform was queried";
        }
    }
}

// --- out of process, through the uninstall command line shellreg recorded ---

TEST_F(Sweeper, AnythingButYesLeavesEverything)
{
    struct Case {
        const char *name;
        const char *answers;
        const char *faults;
        const char *result;  // what the box gave
    };
    const Case cases[] = {
        {"No", "IDNO", "", "7"},
        {"the box closed without an answer", "", "", "7"},
        {"no box could be shown", "IDYES", "MessageBoxA:always", "0"},
    };
    for (const Case &answer : cases) {
        SCOPED_TRACE(answer.name);
        NewMachine();
        Register(GAMES);
        auto before = MachineState();

        EXPECT_EQ(255, RunUninstallCommand(answer.answers, {std::string("HOSTWIN_FAULTS=") + answer.faults}));

        auto boxes = Calls("MessageBoxA");
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ((std::vector<std::string>{"NULL", QUESTION, "Zarn-Hold Demo", "0x00000024"}), boxes[0].arguments);
        EXPECT_EQ(answer.result, boxes[0].result);
        EXPECT_EQ(1u, Journal().size()) << "nothing but the question";
        EXPECT_EQ(std::vector<std::string>{}, Changes(before, MachineState()));
        ExpectStillRegistered(GAMES);
    }
}

struct RemovalCase {
    const char *name;
    std::string installed;
    std::string neighbour;  // a directory beside it whose name the installed one begins with
    bool userFileInGroup;
};

TEST_F(Sweeper, YesRemovesTheRegisteredDemo)
{
    const RemovalCase cases[] = {
        {"ordinary directory", GAMES, "C:\\Games\\Zar", false},
        {"directory with blanks", "C:\\Program Files\\Zarn Hold Demo", "C:\\Program Files\\Zarn", false},
        {"the user's own file in the group", GAMES, "C:\\Games\\Zarn2", true},
    };
    for (const RemovalCase &removal : cases) {
        SCOPED_TRACE(removal.name);
        NewMachine();
        Register(removal.installed);
        Write(removal.neighbour + "\\keep.txt", "another program");
        if (removal.userFileInGroup)
            Write(GROUP + "\\My notes.txt", "the user's");
        AddNeighbours();
        const std::string uninstaller = Read(INSTALLED_UNINSTALLER);
        ASSERT_EQ(INSTALLED_UNINSTALLER + " " + removal.installed, UninstallCommand());

        int code = RunUninstallCommand("IDYES");

        EXPECT_EQ(1, code);  // the wininit.ini line was written
        // The installed directory with its subfolders and its read-only file, taken whole.
        EXPECT_FALSE(Exists(removal.installed));
        EXPECT_EQ("another program", Read(removal.neighbour + "\\keep.txt"));
        for (const std::string &entry : ENTRY_FILES)
            EXPECT_FALSE(Exists(entry)) << entry;
        if (removal.userFileInGroup) {
            EXPECT_EQ(std::vector<std::string>{"My notes.txt"}, Listing(GROUP));
        } else {
            EXPECT_FALSE(Exists(GROUP));
        }
        EXPECT_FALSE(hostwin::RegistryKeyExists(DEMO_KEY));
        EXPECT_FALSE(hostwin::RegistryKeyExists(UNINSTALL_KEY));
        EXPECT_TRUE(hostwin::RegistryKeyExists(COMPANY_KEY));
        EXPECT_TRUE(hostwin::RegistryKeyExists(COMPANY_KEY + "\\Other Demo"));
        EXPECT_TRUE(hostwin::RegistryKeyExists(UNINSTALL_ROOT));
        EXPECT_TRUE(hostwin::RegistryKeyExists(UNINSTALL_ROOT + "\\Other Program"));
        EXPECT_EQ("[rename]\r\n" + NUL_LINE, Read(WININIT));
        // The running uninstaller's own file goes at the next start of Windows, not now.
        EXPECT_EQ(uninstaller, Read(INSTALLED_UNINSTALLER));

        // The shell was asked for exactly one name with a progress window and no question, and
        // the directory went before the Start menu and the registry.
        auto deletions = Calls("SHFileOperationA");
        ASSERT_EQ(1u, deletions.size());
        EXPECT_EQ((std::vector<std::string>{"FO_DELETE", removal.installed, "0x0110", "Removing Zarn-Hold Demo...."}),
                  deletions[0].arguments);
        EXPECT_EQ("0", deletions[0].result);
        EXPECT_EQ((std::vector<std::string>{
                      "MessageBoxA NULL",
                      "SHFileOperationA FO_DELETE",
                      "DeleteFileA " + ENTRY_FILES[0],
                      "DeleteFileA " + ENTRY_FILES[1],
                      "DeleteFileA " + ENTRY_FILES[2],
                      "DeleteFileA " + ENTRY_FILES[3],
                      "RemoveDirectoryA " + GROUP,
                      "RegDeleteKeyA HKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO",
                      "RegDeleteKeyA HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zarn-Hold Demo",
                      "WritePrivateProfileStringA rename",
                  }),
                  CallOrder({"MessageBoxA", "SHFileOperationA", "DeleteFileA", "RemoveDirectoryA", "RegDeleteKeyA",
                             "WritePrivateProfileStringA"}));
    }
}

TEST_F(Sweeper, WithoutAProgramsFolderAfterTheDeletionItStopsThere)
{
    Register(GAMES);

    EXPECT_EQ(255, RunUninstallCommand("IDYES", {"HOSTWIN_FAULTS=SHGetSpecialFolderLocation:always"}));

    EXPECT_FALSE(Exists(GAMES));
    for (const std::string &entry : ENTRY_FILES)
        EXPECT_TRUE(Exists(entry)) << entry;
    EXPECT_TRUE(hostwin::RegistryKeyExists(DEMO_KEY));
    EXPECT_TRUE(hostwin::RegistryKeyExists(UNINSTALL_KEY));
    EXPECT_FALSE(Exists(WININIT));
    EXPECT_EQ(1u, Calls("SHFileOperationA").size());
    EXPECT_TRUE(Calls("DeleteFileA").empty());
}

TEST_F(Sweeper, ASecondRunAsksAgainAndEndsWithTheWininitWrite)
{
    struct Case {
        const char *name;
        bool wininitWritable;
        int code;
    };
    const Case cases[] = {
        {"wininit.ini written", true, 1},
        {"wininit.ini read-only", false, 0},
    };
    for (const Case &second : cases) {
        SCOPED_TRACE(second.name);
        NewMachine();
        Register(GAMES);
        const std::string command = UninstallCommand();
        ASSERT_EQ(1, RunUninstallCommand("IDYES"));
        if (!second.wininitWritable)
            chmod(Host(WININIT).c_str(), 0444);

        EXPECT_EQ(second.code, Run(command, WINDOWS_DIR, {"HOSTWIN_ANSWERS=IDYES"}));

        EXPECT_EQ(2u, Calls("MessageBoxA").size());
        // Every step ran again on items that are no longer there.
        EXPECT_EQ(2u, Calls("SHFileOperationA").size());
        EXPECT_EQ(8u, Calls("DeleteFileA").size());
        EXPECT_EQ(2u, Calls("RemoveDirectoryA").size());
        EXPECT_EQ(4u, Calls("RegDeleteKeyA").size());
        EXPECT_EQ(second.wininitWritable ? "[rename]\r\n" + NUL_LINE + PARKED_LINE : "[rename]\r\n" + NUL_LINE,
                  Read(WININIT));
    }
}

}  // namespace
