// Starting programs: where WinExec finds a program, what it starts for a shell link, its failure
// values, the records it leaves, and RunProgram for the tests themselves.
#include "machine_fixture.h"

#include "internal.h"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace machinetest;

class Starting : public Machine {
protected:
    void SetUp() override
    {
        Machine::SetUp();
        started = temp / "started.txt";
        fs::create_directories(C("Work"));
        EnterFolder(C("Work"));
    }

    // A program that notes its tag and its host arguments in started.txt when it runs.
    void PlaceProgram(const fs::path &host, const std::string &tag, fs::perms permissions = fs::perms::owner_all)
    {
        WriteText(host, "#!/bin/sh\necho \"" + tag + "${*:+ }$*\" >> '" + started.native() + "'\n");
        fs::permissions(host, permissions);
    }

    // What the started programs noted, once the expected number of lines is there.
    std::string Started(size_t lines)
    {
        std::string text;
        for (int i = 0; i < 200; i++) {
            text = ReadText(started);
            if ((size_t)std::count(text.begin(), text.end(), '\n') >= lines)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return text;
    }

    fs::path started;
};

TEST_F(Starting, WinExecFindsThePathGivenOrSearchesTheSystemsFolders)
{
    PlaceProgram(C("Games/game.exe"), "games");
    PlaceProgram(C("Zarn Hold/game.exe"), "quoted");
    PlaceProgram(C("Work/local.exe"), "work");
    PlaceProgram(C("WINDOWS/SYSTEM/sys.exe"), "system");
    PlaceProgram(C("WINDOWS/win.exe"), "windows");
    PlaceProgram(C("WINDOWS/SYSTEM/both.exe"), "system-first");
    PlaceProgram(C("WINDOWS/both.exe"), "windows-second");
    PlaceProgram(C("Work/noext"), "no-extension");
    PlaceProgram(C("Games/locked.exe"), "no-execute-bit", fs::perms::owner_read);
    struct {
        const char *command;
        const char *noted;
    } cases[] = {
        {"C:\\Games\\game.exe x", "games x"},
        {"c:\\games\\GAME x", "games x"},               // ".exe" added, any case
        {"\"C:\\Zarn Hold\\game.exe\" a b", "quoted a b"},
        {"local", "work"},                              // the current directory,
        {"sys.exe", "system"},                          // the system directory,
        {"WIN", "windows"},                             // the Windows directory,
        {"both", "system-first"},                       // in that order
        {"..\\Games\\game.exe", "games"},
        {"noext.", "no-extension"},
        {"C:\\Games\\locked.exe", "no-execute-bit"},     // Windows needs no execute permission
    };
    size_t count = 0;
    std::string expected;
    for (const auto &c : cases) {
        EXPECT_EQ(WinExec(c.command, SW_SHOW), 33u) << c.command;
        expected += std::string(c.noted) + "\n";
        EXPECT_EQ(Started(++count), expected) << c.command;
    }
}

TEST_F(Starting, WinExecFailureValues)
{
    WriteText(C("Work/readme.txt"), "plain text");
    WriteText(C("Work/picture.exe"), "MZ\x90\x00 not a program here");
    fs::create_directories(C("Work/folder.exe"));
    struct {
        const char *command;
        UINT result;
    } cases[] = {
        {"missing", ERROR_FILE_NOT_FOUND},
        {"missing.exe arguments", ERROR_FILE_NOT_FOUND},
        {"C:\\nowhere\\game.exe", ERROR_PATH_NOT_FOUND},
        {"Q:\\game.exe", ERROR_PATH_NOT_FOUND},
        {"\\\\server\\share\\game.exe", ERROR_PATH_NOT_FOUND},
        {"readme.txt", ERROR_BAD_FORMAT},
        {"picture.exe", ERROR_BAD_FORMAT},
        {"folder.exe", ERROR_FILE_NOT_FOUND},
        {"", ERROR_FILE_NOT_FOUND},
    };
    for (const auto &c : cases)
        EXPECT_EQ(WinExec(c.command, SW_SHOW), c.result) << c.command;
    EXPECT_TRUE(hostwin::StartedCommands().empty());
}

TEST_F(Starting, ShellLinkStartsItsTargetWithItsArguments)
{
    PlaceProgram(C("Games/Zarn Hold/zarnhold.exe"), "game");
    WriteText(C("Games/Zarn Hold/readme.txt"), "read me");
    fs::path group = C("WINDOWS/Start Menu/Programs/Halvane");
    fs::create_directories(group);
    hostwin::detail::ShellLink link;
    link.target = "C:\\Games\\Zarn Hold\\zarnhold.exe";
    ASSERT_TRUE(hostwin::detail::WriteShellLink(group / "Zarn-Hold Demo.pif", link));
    link.arguments = "C:\\Games\\Zarn Hold";
    ASSERT_TRUE(hostwin::detail::WriteShellLink(group / "With arguments.lnk", link));
    link.target = "C:\\Games\\Zarn Hold\\readme.txt";
    link.arguments.clear();
    ASSERT_TRUE(hostwin::detail::WriteShellLink(group / "Readme.lnk", link));
    link.target = "C:\\Games\\gone.exe";
    ASSERT_TRUE(hostwin::detail::WriteShellLink(group / "Gone.lnk", link));

    std::string entry = "C:\\WINDOWS\\Start Menu\\Programs\\Halvane\\";
    EXPECT_EQ(WinExec((entry + "Zarn-Hold Demo.pif").c_str(), SW_SHOW), 33u);
    EXPECT_EQ(Started(1), "game\n");
    EXPECT_EQ(WinExec(("\"" + entry + "With arguments.lnk\"").c_str(), SW_SHOW), 33u);
    EXPECT_EQ(Started(2), "game\ngame C:\\Games\\Zarn Hold\n");
    EXPECT_EQ(WinExec(("\"" + entry + "Readme.lnk\"").c_str(), SW_SHOW), (UINT)ERROR_BAD_FORMAT);
    EXPECT_EQ(WinExec(("\"" + entry + "Gone.lnk\"").c_str(), SW_SHOW), (UINT)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(hostwin::StartedCommands(),
              (std::vector<std::string>{entry + "Zarn-Hold Demo.pif", "\"" + entry + "With arguments.lnk\""}));
}

TEST_F(Starting, ExplorerIsStartedByName)
{
    fs::create_directories(C("WINDOWS/Start Menu/Programs/Halvane"));
    NewJournal();
    std::string command = "Explorer C:\\WINDOWS\\Start Menu\\Programs\\Halvane";
    EXPECT_EQ(WinExec(command.c_str(), SW_SHOWDEFAULT), 33u);
    unsetenv("HOSTWIN_JOURNAL");
    EXPECT_EQ(hostwin::StartedCommands(), std::vector<std::string>{command});
    // Explorer notes in the journal that it showed the (empty) group.
    std::string text;
    for (int i = 0; i < 400 && text.find("\nExplorer\t") == text.npos; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        text = ReadText(journal);
    }
    EXPECT_EQ(text,
              "WinExec\tExplorer C:\\WINDOWS\\Start Menu\\Programs\\Halvane\t10\t=> 33\n"
              "Explorer\tC:\\WINDOWS\\Start Menu\\Programs\\Halvane\t=> 0\n");
}

TEST_F(Starting, ProgramInTheMachineKnowsItsFileAndSearchesItsOwnFolderFirst)
{
    ASSERT_TRUE(hostwin::PlaceFile(BuiltBeside("kernel_probe"), "C:\\Tools\\probe.exe"));
    PlaceProgram(C("Tools/game.exe"), "tools");
    PlaceProgram(C("Work/game.exe"), "work");
    std::vector<std::string> environment = {"PROBE_OUTPUT=C:\\probe.txt"};
    EXPECT_EQ(hostwin::RunProgram("C:\\Tools\\probe.exe game 1", C("Work"), environment), 0);
    EXPECT_EQ(ReadText(C("probe.txt")), "C:\\Tools\\probe.exe\n33");
    EXPECT_EQ(Started(1), "tools 1\n");
    // Without it there, the current directory is next.
    fs::remove(C("Tools/game.exe"));
    EXPECT_EQ(hostwin::RunProgram("C:\\Tools\\probe.exe game 2", C("Work"), environment), 0);
    EXPECT_EQ(Started(2), "tools 1\nwork 2\n");
}

TEST_F(Starting, RunProgramWaitsAndReportsTheExitCode)
{
    WriteText(C("Work/exit.exe"), "#!/bin/sh\nexit $EXIT_WITH\n");
    WriteText(C("Work/where.exe"), "#!/bin/sh\npwd > '" + started.native() + "'\n");
    PlaceProgram(C("Work/shown.exe"), "shown");
    struct {
        const char *command;
        const char *exitWith;
        int result;
    } cases[] = {
        {"exit", "0", 0},
        {"C:\\Work\\exit.exe", "7", 7},
        {"exit.exe", "255", 255},
        {"missing.exe", "0", -1000},
        {"C:\\nowhere\\exit.exe", "0", -1000},
    };
    for (const auto &c : cases)
        EXPECT_EQ(hostwin::RunProgram(c.command, C("Work"), {std::string("EXIT_WITH=") + c.exitWith}), c.result)
            << c.command;
    // The program runs in the working directory it is given, and relative names start from there.
    EXPECT_EQ(hostwin::RunProgram("where", C("Work")), 0);
    EXPECT_EQ(ReadText(started), C("Work").native() + "\n");
    EXPECT_EQ(hostwin::RunProgram("..\\Work\\exit.exe", C("Games"), {"EXIT_WITH=3"}), -1000);  // no C:\Games
    fs::create_directories(C("Games"));
    EXPECT_EQ(hostwin::RunProgram("..\\Work\\exit.exe", C("Games"), {"EXIT_WITH=3"}), 3);
}

TEST_F(Starting, JournalLinesOfManyProcessesStayWhole)
{
    NewJournal();
    const int processes = 4, lines = 200;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; p++) {
        pid_t pid = fork();
        if (pid == 0) {
            std::string payload(300, (char)('a' + p));
            for (int i = 0; i < lines; i++)
                hostwin::detail::Journal("Line\t" + payload + "\t=> " + std::to_string(i));
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children)
        waitpid(pid, nullptr, 0);
    unsetenv("HOSTWIN_JOURNAL");
    std::istringstream in(ReadText(journal));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        count++;
        ASSERT_EQ(line.rfind("Line\t", 0), 0u) << line;
        ASSERT_EQ(line.compare(305, 4, "\t=> "), 0) << line;
        std::string payload = line.substr(5, 300);
        EXPECT_EQ(payload, std::string(300, payload[0])) << "a line was interleaved: " << line;
    }
    EXPECT_EQ(count, processes * lines);
}

}  // namespace
