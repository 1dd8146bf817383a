// The deletion guard: which texts the uninstaller may hand to the shell to delete whole. First the
// guard alone on a machine full of decoys (every folder a wrong text could name holds a game file
// of its own, so only the rule under test can refuse it), then the whole uninstaller answered
// "Yes" with each text: what the text names stays, and the rest of the removal is done all the same.
#include "demo_machine.h"

#include "sweeper.h"

#include <set>

namespace {

using namespace demotest;

const std::string GAMES = "C:\\Games\\Zarn";

class Guard : public DemoMachine {
protected:
    // Game files in the folders a wrong text could reach, so that the test of "\zarnhold.exe"
    // does not hide a missing rule.
    void PlaceDecoys()
    {
        for (const char *folder : {"C:", "C:\\Games", "C:\\WINDOWS", "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\TEMP"})
            Write(std::string(folder) + "\\zarnhold.exe", "decoy");
        Write("C:\\My Documents\\letter.doc", "the user's letter");
    }
};

struct GuardCase {
    const char *text;
    BOOL removable;
};

TEST_F(Guard, OnlyAFullyQualifiedDirectoryHoldingTheGameIsRemovable)
{
    InstallDemo(GAMES);
    InstallDemo("C:\\Program Files\\Zarn Hold Demo");
    InstallDemo("D:\\Zarn");
    InstallDemo("C:\\WINDOWS\\TEMP\\Zarn");
    InstallDemo("C:\\WIN");
    PlaceDecoys();
    fs::create_directories(Host("C:\\Games\\Fake\\zarnhold.exe"));
    ASSERT_EQ(0, chdir(Host("C:").c_str()));  // relative texts would reach the demo from here

    const GuardCase cases[] = {
        // The demo's own directory, however Windows would let it be written.
        {"C:\\Games\\Zarn", TRUE},
        {"C:\\Games\\Zarn\\", TRUE},
        {"c:\\gAMES\\zARN", TRUE},
        {"C:\\Program Files\\Zarn Hold Demo", TRUE},
        {"D:\\Zarn", TRUE},
        {"C:\\WINDOWS\\TEMP\\Zarn", TRUE},  // inside the temporary directory, not holding it
        {"C:\\WIN", TRUE},                  // begins like the Windows directory, but is not it
        // Nothing there: the shell finds nothing to delete.
        {"C:\\Games\\Gone", TRUE},
        {"C:\\Nowhere\\Gone", TRUE},
        // Not fully qualified.
        {"Games\\Zarn", FALSE},
        {"\\Games\\Zarn", FALSE},
        {"C:Games\\Zarn", FALSE},
        {"", FALSE},
        // Roots.
        {"C:\\", FALSE},
        {"C:", FALSE},
        {"D:\\", FALSE},
        {"\\\\server\\share", FALSE},
        {"\\\\server\\share\\", FALSE},
        {"\\\\server", FALSE},
        {"\\\\", FALSE},
        // Wildcards, slashes, dot components and names Windows would silently change.
        {"C:\\Games\\Zar*", FALSE},
        {"C:\\Games\\Za?n", FALSE},
        {"C:\\Games\\*", FALSE},
        {"C:/Games/Zarn", FALSE},
        {"C:\\Games/Zarn", FALSE},
        {"/", FALSE},
        {"C:\\Games\\Zarn\\..", FALSE},
        {"C:\\Games\\..\\Games\\Zarn", FALSE},
        {"C:\\Games\\Zarn\\.", FALSE},
        {"C:\\Games\\.\\Zarn", FALSE},
        {"C:\\Games\\Zarn.", FALSE},
        {"C:\\Games\\Zarn ", FALSE},
        {"C:\\Games \\Zarn", FALSE},
        {"C:\\Games\\\\Zarn", FALSE},
        {"C:\\Games\\Zarn\\\\", FALSE},
        {"\"C:\\Games\\Zarn\"", FALSE},
        {"C:\\Games\\Za<rn", FALSE},
        // The system's own directories and the folders that hold them.
        {"C:\\WINDOWS", FALSE},
        {"C:\\WINDOWS\\", FALSE},
        {"c:\\windows", FALSE},
        {"C:\\WINDOWS\\SYSTEM", FALSE},
        {"c:\\Windows\\System\\", FALSE},
        {"C:\\WINDOWS\\TEMP", FALSE},
        {"C:\\WINDOWS\\TEMP\\", FALSE},
        {"c:\\windows\\temp", FALSE},
        // Something that is not the demo's directory.
        {"C:\\Games\\Zarn\\zarnhold.exe", FALSE},
        {"C:\\My Documents", FALSE},
        {"C:\\Games\\Fake", FALSE},  // its "zarnhold.exe" is a folder
    };
    for (const GuardCase &guard : cases) {
        EXPECT_EQ(guard.removable, IsRemovableDirectory(guard.text)) << "\"" << guard.text << "\"";
    }
}

TEST_F(Guard, WhatTheGuardCannotCheckIsRefused)
{
    InstallDemo(GAMES);
    for (const char *call : {"GetWindowsDirectoryA", "GetSystemDirectoryA", "GetTempPathA", "GetFileAttributesA"}) {
        SCOPED_TRACE(call);
        hostwin::Fault fault;
        fault.call = call;
        fault.count = 0;
        fault.error = ERROR_ACCESS_DENIED;
        hostwin::InjectFault(fault);

        EXPECT_FALSE(IsRemovableDirectory(GAMES.c_str()));

        hostwin::ClearFaults();
        EXPECT_TRUE(IsRemovableDirectory(GAMES.c_str()));
    }
}

TEST_F(Guard, DoubleByteNamesAreReadByCharacter)
{
    // In Shift-JIS the trail byte of 0x95 0x5C is a backslash and that of 0x83 0x7C a bar: neither
    // ends nor spoils a name there, while in code page 1252 the bar is no character of a name.
    const std::string table = "\x95\x5C", bar = "\x83\x7C";
    for (const std::string &name : {table, bar})
        WriteText(Host("C:\\Games") / name / "zarnhold.exe", "game");
    hostwin::SetCodePage(932);

    EXPECT_TRUE(IsRemovableDirectory(("C:\\Games\\" + table).c_str()));
    EXPECT_TRUE(IsRemovableDirectory(("C:\\Games\\" + bar).c_str()));
    EXPECT_FALSE(IsRemovableDirectory(("C:\\Games\\" + table + ".").c_str()));
    hostwin::SetCodePage(1252);
    EXPECT_FALSE(IsRemovableDirectory(("C:\\Games\\" + bar).c_str()));
}

// --- the whole uninstaller, answered "Yes", with each text ---

enum class Outcome {
    Kept,      // the guard refused: nothing of what the text names is touched
    Deleted,   // the demo's directory is gone
    Missing,   // nothing there: the shell is asked and finds nothing
    TooLong,   // -1 before the question
};

struct RunCase {
    std::string text;
    Outcome outcome;
    std::string installed;  // where shellreg registered the demo
};

TEST_F(Guard, TheUninstallerDeletesOnlyWhatTheGuardAllows)
{
    const std::string programFiles = "C:\\Program Files\\Zarn Hold Demo";
    const RunCase cases[] = {
        {"Games\\Zarn", Outcome::Kept, GAMES},
        {"C:\\", Outcome::Kept, GAMES},
        {"C:", Outcome::Kept, GAMES},
        {"\\\\server\\share", Outcome::Kept, GAMES},
        {"\\\\server\\share\\", Outcome::Kept, GAMES},
        {"C:\\Games\\Zar*", Outcome::Kept, GAMES},
        {"C:\\Games\\Za?n", Outcome::Kept, GAMES},
        {"/", Outcome::Kept, GAMES},
        {"C:/Games/Zarn", Outcome::Kept, GAMES},
        {"C:\\Games\\Zarn\\..", Outcome::Kept, GAMES},
        {"C:\\Games\\Zarn\\.", Outcome::Kept, GAMES},
        {"..", Outcome::Kept, GAMES},
        {".", Outcome::Kept, GAMES},
        {"C:\\Games\\Zarn.", Outcome::Kept, GAMES},
        {"C:\\Games\\Zarn ", Outcome::Kept, GAMES},
        {"C:\\WINDOWS", Outcome::Kept, GAMES},
        {"C:\\WINDOWS\\", Outcome::Kept, GAMES},
        {"c:\\windows\\system", Outcome::Kept, GAMES},
        {"C:\\WINDOWS\\SYSTEM\\", Outcome::Kept, GAMES},
        {"C:\\Windows\\Temp", Outcome::Kept, GAMES},
        {"C:\\WINDOWS\\TEMP\\", Outcome::Kept, GAMES},
        {"C:\\Games\\Zarn\\zarnhold.exe", Outcome::Kept, GAMES},
        {"C:\\My Documents", Outcome::Kept, GAMES},
        {"\"C:\\Games\\Zarn\"", Outcome::Kept, GAMES},
        {"\"" + programFiles + "\"", Outcome::Kept, programFiles},
        {GAMES, Outcome::Deleted, GAMES},
        {programFiles, Outcome::Deleted, programFiles},
        {"C:\\Games\\Gone", Outcome::Missing, GAMES},
        {"C:\\Games\\" + std::string(249, 'x'), Outcome::Missing, GAMES},  // 258 characters
        {"C:\\Games\\" + std::string(250, 'x'), Outcome::TooLong, GAMES},  // 259 characters
    };
    for (const RunCase &run : cases) {
        SCOPED_TRACE("\"" + run.text + "\"");
        NewMachine();
        InstallDemo(run.installed);
        ASSERT_EQ(0, RunShellreg(run.installed));
        PlaceDecoys();
        NewJournal();
        auto before = MachineState();

        // From the root of C:, where the relative texts would reach the demo.
        int code = Run(INSTALLED_UNINSTALLER + " " + run.text, "C:\\", {"HOSTWIN_ANSWERS=IDYES"});

        std::vector<std::string> changes = Changes(before, MachineState());
        if (run.outcome == Outcome::TooLong) {
            EXPECT_EQ(255, code);
            EXPECT_EQ(0u, Journal().size()) << "no question, nothing done";
            EXPECT_EQ(std::vector<std::string>{}, changes);
            continue;
        }
        EXPECT_EQ(1, code);
        EXPECT_EQ(1u, Calls("MessageBoxA").size());
        EXPECT_EQ(run.outcome == Outcome::Kept ? 0u : 1u, Calls("SHFileOperationA").size());

        // Every run removes the Start-menu group and the keys and writes its wininit.ini line.
        std::set<std::string> expected = {"~registry.reg", "+C/WINDOWS/wininit.ini",
                                          "-C/WINDOWS/Start Menu/Programs/Halvane"};
        for (const std::string &entry : ENTRY_FILES)
            expected.insert("-" + Host(entry).lexically_relative(machine).native());
        if (run.outcome == Outcome::Deleted) {
            EXPECT_FALSE(Exists(run.installed));
            const std::string folder = Host(run.installed).lexically_relative(machine).native();
            for (const auto &[name, content] : before)
                if (name == folder || name.rfind(folder + "/", 0) == 0)
                    expected.insert("-" + name);
        }
        std::sort(changes.begin(), changes.end());
        EXPECT_EQ(std::vector<std::string>(expected.begin(), expected.end()), changes);
        EXPECT_FALSE(hostwin::RegistryKeyExists(DEMO_KEY));
        EXPECT_FALSE(hostwin::RegistryKeyExists(UNINSTALL_KEY));
    }
}

}  // namespace
