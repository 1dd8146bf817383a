// Fault injection and call counts: which calls an injected fault fails, with which error and
// result, and the same controls from outside through HOSTWIN_FAULTS.
#include "machine_fixture.h"

#include "internal.h"

#include <functional>

namespace {

using namespace machinetest;

class Faults : public Machine {};

// The outcome of six calls in a row: 'x' failed, '.' succeeded.
std::string Pattern(const std::function<bool()> &call)
{
    std::string outcome;
    for (int i = 0; i < 6; i++)
        outcome += call() ? '.' : 'x';
    return outcome;
}

TEST_F(Faults, WhichCallsFail)
{
    struct {
        unsigned nth, count;
        const char *pattern;
    } cases[] = {
        {1, 1, "x....."},  // once
        {3, 1, "..x..."},  // the third
        {2, 0, ".xxxxx"},  // the second and every later one
        {1, 0, "xxxxxx"},  // always
        {2, 3, ".xxx.."},  // three in a row from the second
    };
    auto call = [] { return GetFileAttributesA("C:\\WINDOWS") != INVALID_FILE_ATTRIBUTES; };
    for (const auto &c : cases) {
        hostwin::ClearFaults();
        hostwin::InjectFault({"GetFileAttributesA", c.nth, c.count, ERROR_ACCESS_DENIED, std::nullopt});
        EXPECT_EQ(Pattern(call), c.pattern) << "nth " << c.nth << " count " << c.count;
    }
}

TEST_F(Faults, CountedFromInjectionAndOnlyForTheirCall)
{
    for (int i = 0; i < 3; i++)
        EXPECT_TRUE(CreateDirectoryA(("C:\\d" + std::to_string(i)).c_str(), nullptr));
    hostwin::InjectFault({"CreateDirectoryA", 2, 1, 0, std::nullopt});
    EXPECT_TRUE(CreateDirectoryA("C:\\e1", nullptr));
    EXPECT_TRUE(RemoveDirectoryA("C:\\e1"));  // another call is not counted for it
    EXPECT_FALSE(CreateDirectoryA("C:\\e2", nullptr));
    EXPECT_FALSE(fs::exists(C("e2")));  // a faulted call does nothing
    EXPECT_TRUE(CreateDirectoryA("C:\\e3", nullptr));
}

TEST_F(Faults, ErrorAndResultOfAFaultedCall)
{
    // No error given: the call's usual one.
    hostwin::InjectFault({"GetFileAttributesA", 1, 1, 0, std::nullopt});
    EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    // The error given.
    hostwin::InjectFault({"MoveFileA", 1, 1, ERROR_FILE_EXISTS, std::nullopt});
    EXPECT_FALSE(MoveFileA("C:\\WINDOWS\\EXPLORER.EXE", "C:\\x.exe"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
    EXPECT_TRUE(fs::exists(C("WINDOWS/EXPLORER.EXE")));
    // A result other than the usual failure: a directory query reporting more than fits.
    hostwin::InjectFault({"GetSystemDirectoryA", 1, 1, 0, int64_t(300)});
    char buffer[MAX_PATH] = "untouched";
    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 300u);
    EXPECT_STREQ(buffer, "untouched");
    // WinExec reports its error as its value.
    hostwin::InjectFault({"WinExec", 1, 1, ERROR_PATH_NOT_FOUND, std::nullopt});
    EXPECT_EQ(WinExec("explorer", SW_SHOW), (UINT)ERROR_PATH_NOT_FOUND);
    // GetLastError itself can be made to report something else.
    hostwin::InjectFault({"GetLastError", 1, 1, ERROR_FILE_EXISTS, std::nullopt});
    SetLastError(0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
    EXPECT_EQ(GetLastError(), 0u);
}

TEST_F(Faults, CallsAreCountedFaultsIncluded)
{
    hostwin::ResetCounts();
    hostwin::InjectFault({"GlobalAlloc", 2, 1, 0, std::nullopt});
    void *first = GlobalAlloc(GPTR, 8);
    EXPECT_EQ(GlobalAlloc(GPTR, 8), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(hostwin::CallCount("GlobalAlloc"), 2u);
    EXPECT_EQ(hostwin::CallCount("GlobalFree"), 0u);
    // Resetting the counts does not move the faults.
    hostwin::ResetCounts();
    hostwin::InjectFault({"GlobalFree", 1, 1, 0, std::nullopt});
    EXPECT_EQ(GlobalFree(first), first);  // a failed free hands the block back
    EXPECT_EQ(GlobalFree(first), nullptr);
    EXPECT_EQ(hostwin::CallCount("GlobalFree"), 2u);
    EXPECT_EQ(hostwin::CallCount("GlobalAlloc"), 0u);
    hostwin::ClearFaults();
    hostwin::InjectFault({"GlobalAlloc", 1, 0, 0, std::nullopt});
    hostwin::ResetControls();
    void *block = GlobalAlloc(GPTR, 8);
    EXPECT_NE(block, nullptr);
    GlobalFree(block);
}

TEST_F(Faults, EnvironmentItemsRead)
{
    struct {
        const char *item;
        bool readable;
        unsigned nth, count;
        uint32_t error;
        std::optional<int64_t> result;
    } cases[] = {
        {"CreateFileA:once", true, 1, 1, 0, std::nullopt},
        {"CreateFileA:3", true, 3, 1, 0, std::nullopt},
        {"CreateFileA:2+", true, 2, 0, 0, std::nullopt},
        {"CreateFileA:always", true, 1, 0, 0, std::nullopt},
        {"MoveFileA:once:80", true, 1, 1, 80, std::nullopt},
        {"MoveFileA:once:ERROR_FILE_EXISTS", true, 1, 1, 80, std::nullopt},
        {"IPersistFile.Save:1:0x80030005", true, 1, 1, 0x80030005u, std::nullopt},
        {"IPersistFile.Save:1:STG_E_ACCESSDENIED", true, 1, 1, 0x80030005u, std::nullopt},
        {"GetSystemDirectoryA:once::300", true, 1, 1, 0, int64_t(300)},
        {"WinExec:once:2:-1", true, 1, 1, 2, int64_t(-1)},
        {"CreateFileA", false, 0, 0, 0, std::nullopt},
        {"CreateFileA:", false, 0, 0, 0, std::nullopt},
        {"CreateFileA:0", false, 0, 0, 0, std::nullopt},
        {"CreateFileA:soon", false, 0, 0, 0, std::nullopt},
        {"CreateFileA:+", false, 0, 0, 0, std::nullopt},
        {":once", false, 0, 0, 0, std::nullopt},
        {"CreateFileA:once:lots", false, 0, 0, 0, std::nullopt},
        {"CreateFileA:once:5:6:7", false, 0, 0, 0, std::nullopt},
    };
    for (const auto &c : cases) {
        std::optional<hostwin::Fault> fault = hostwin::detail::ParseFault(c.item);
        ASSERT_EQ(fault.has_value(), c.readable) << c.item;
        if (!fault)
            continue;
        EXPECT_EQ(fault->nth, c.nth) << c.item;
        EXPECT_EQ(fault->count, c.count) << c.item;
        EXPECT_EQ(fault->error, c.error) << c.item;
        EXPECT_EQ(fault->result, c.result) << c.item;
    }
}

TEST_F(Faults, EnvironmentFaultsReachTheProgramsStarted)
{
    ASSERT_TRUE(hostwin::PlaceFile(BuiltBeside("cmdline_probe"), "C:\\probe.exe"));
    struct {
        const char *faults;
        int exitCode;       // the probe returns -2 when it cannot create its output
        const char *output;  // where the probe's output lands, or null
    } cases[] = {
        {"", 0, "probe.txt"},
        {"CreateFileA:once", 254, nullptr},
        {"CreateFileA:2", 0, "probe.txt"},
        // The output's name cannot be read: the probe uses its fixed name instead.
        {"GetEnvironmentVariableA:1", 0, "cmdline_probe.txt"},
        // An item that cannot be read is reported and skipped; the others still count.
        {"nonsense;CreateFileA:always", 254, nullptr},
    };
    for (const auto &c : cases) {
        fs::remove(C("probe.txt"));
        fs::remove(C("cmdline_probe.txt"));
        EXPECT_EQ(hostwin::RunProgram("C:\\probe.exe x", C(),
                                      {"PROBE_OUTPUT=C:\\probe.txt", std::string("HOSTWIN_FAULTS=") + c.faults}),
                  c.exitCode)
            << c.faults;
        if (c.output != nullptr)
            EXPECT_EQ(ReadText(C(c.output)), "10\nx") << c.faults;
        else
            EXPECT_FALSE(fs::exists(C("probe.txt"))) << c.faults;
    }
}

}  // namespace
