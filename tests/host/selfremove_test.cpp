// The wininit.ini line that has Windows deal with the uninstaller's file at its next start: "NUL"
// or the parked path as its key depending on whether the file is there, everything else in the
// file kept, and no line at all from a directory that could not be had whole.
#include "demo_machine.h"

#include "sweeper.h"

namespace {

using namespace demotest;

const std::string NUL_LINE = "NUL=C:\\WINDOWS\\SYSTEM\\zh5ddins.exe\r\n";
// The temporary directory ends in a backslash and the parked name begins with one.
const std::string PARKED_LINE = "C:\\WINDOWS\\TEMP\\\\zh5deins.$$$=C:\\WINDOWS\\SYSTEM\\zh5ddins.exe\r\n";

struct WininitCase {
    const char *name;
    std::optional<std::string> before;  // nullopt: no wininit.ini
    std::optional<std::string> after;
    BOOL result;                         // of the last run
    int runs;
    const char *faultCall;               // fails once, at the first run
    std::optional<int64_t> faultResult;  // what the faulted call returns instead of its failure
    bool readOnly;
};

class SelfRemoval : public DemoMachine {};

TEST_F(SelfRemoval, WritesOneLineIntoTheRenameSection)
{
    const std::string otherSection = "[CombineVxDs]\r\nC:\\WINDOWS\\SYSTEM\\VMM32.VXD=C:\\WINDOWS\\SYSTEM\\VMM32\\IOS.VXD\r\n";
    const std::string othersNul = "[rename]\r\nNUL=C:\\OTHER\\SETUP.TMP\r\n";
    const auto none = std::nullopt;
    const WininitCase cases[] = {
        {"no wininit.ini", none, "[rename]\r\n" + NUL_LINE, TRUE, 1, nullptr, none, false},
        {"no [rename] section", otherSection, otherSection + "[rename]\r\n" + PARKED_LINE, TRUE, 1, nullptr, none, false},
        {"another program's NUL line", othersNul, othersNul + PARKED_LINE, TRUE, 1, nullptr, none, false},
        {"an empty wininit.ini", "", "[rename]\r\n" + PARKED_LINE, TRUE, 1, nullptr, none, false},
        {"two runs without a restart", none, "[rename]\r\n" + NUL_LINE + PARKED_LINE, TRUE, 2, nullptr, none, false},
        {"three runs: the parked line replaced", none, "[rename]\r\n" + NUL_LINE + PARKED_LINE, TRUE, 3, nullptr, none,
         false},
        {"the search fails: counts as absent", otherSection, otherSection + "[rename]\r\n" + NUL_LINE, TRUE, 1,
         "FindFirstFileA", none, false},
        {"a read-only wininit.ini", othersNul, othersNul, FALSE, 1, nullptr, none, true},
        {"the write fails", none, none, FALSE, 1, "WritePrivateProfileStringA", none, false},
        {"no Windows directory", none, none, FALSE, 1, "GetWindowsDirectoryA", none, false},
        {"no system directory", none, none, FALSE, 1, "GetSystemDirectoryA", none, false},
        {"no temporary directory", none, none, FALSE, 1, "GetTempPathA", none, false},
        {"a temporary directory too long for the buffer", none, none, FALSE, 1, "GetTempPathA", 300, false},
        {"a Windows directory too long for the buffer", none, none, FALSE, 1, "GetWindowsDirectoryA", 260, false},
    };
    for (const WininitCase &wininit : cases) {
        SCOPED_TRACE(wininit.name);
        NewMachine();
        if (wininit.before)
            Write(WININIT, *wininit.before);
        if (wininit.readOnly)
            chmod(Host(WININIT).c_str(), 0444);
        if (wininit.faultCall != nullptr) {
            hostwin::Fault fault;
            fault.call = wininit.faultCall;
            fault.result = wininit.faultResult;
            hostwin::InjectFault(fault);
        }

        BOOL result = FALSE;
        for (int run = 0; run < wininit.runs; run++)
            result = ScheduleSelfRemoval();

        EXPECT_EQ(wininit.result, result);
        if (wininit.after) {
            EXPECT_EQ(*wininit.after, Read(WININIT));
        } else {
            EXPECT_FALSE(Exists(WININIT));
        }
        // A directory that could not be had whole gives no line at all, not one from a cut path.
        bool queryFailed = wininit.faultCall != nullptr && std::string(wininit.faultCall).rfind("Get", 0) == 0;
        EXPECT_EQ(queryFailed ? 0u : (size_t)wininit.runs, Calls("WritePrivateProfileStringA").size());
    }
}

TEST_F(SelfRemoval, TheLineNamesTheFileShellregInstalledAndTheSearchIsClosed)
{
    EXPECT_TRUE(ScheduleSelfRemoval());
    EXPECT_EQ(1u, hostwin::CallCount("FindFirstFileA"));
    EXPECT_EQ(0u, hostwin::CallCount("FindClose"));  // nothing was found, nothing to close
    EXPECT_TRUE(ScheduleSelfRemoval());
    EXPECT_EQ(2u, hostwin::CallCount("FindFirstFileA"));
    EXPECT_EQ(1u, hostwin::CallCount("FindClose"));

    auto writes = Calls("WritePrivateProfileStringA");
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ((std::vector<std::string>{"rename", "NUL", INSTALLED_UNINSTALLER, WININIT}), writes[0].arguments);
    EXPECT_EQ((std::vector<std::string>{"rename", "C:\\WINDOWS\\TEMP\\\\zh5deins.$$$", INSTALLED_UNINSTALLER, WININIT}),
              writes[1].arguments);
}

}  // namespace
