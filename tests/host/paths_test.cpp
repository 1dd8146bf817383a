// The machine folder and Windows paths in it: the layout of a new machine, how a Windows path is
// resolved, the system's folders, and that nothing outside the machine folder is ever touched.
#include "machine_fixture.h"

#include "internal.h"

#include <cstring>
#include <functional>

namespace {

using namespace machinetest;

class Paths : public Machine {
protected:
    void SetUp() override
    {
        Machine::SetUp();
        WriteText(outside / "sentinel.txt", "outside the machine");
        fs::create_directories(C("Games/Zarn Hold"));
        fs::create_directories(machine / "D");
        EnterFolder(C("WINDOWS"));
    }
};

TEST_F(Paths, NewMachineIsLaidOutAsAFreshWindows95)
{
    for (const char *folder : {"WINDOWS", "WINDOWS/SYSTEM", "WINDOWS/TEMP", "WINDOWS/Start Menu/Programs"})
        EXPECT_TRUE(fs::is_directory(C(folder))) << folder;
    EXPECT_EQ(ReadText(machine / "hostwin.ini"), "[Machine]\r\nPlatform=95\r\nCodePage=1252\r\n");
    std::string explorer = ReadText(C("WINDOWS/EXPLORER.EXE"));
    EXPECT_EQ(explorer.rfind("#!/bin/sh\n", 0), 0u) << explorer;
    EXPECT_NE(explorer.find("/explorer'"), std::string::npos) << explorer;
    EXPECT_NE(fs::status(C("WINDOWS/EXPLORER.EXE")).permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(fs::path(getenv("HOSTWIN_ROOT")), machine);

    // A machine that has been laid out keeps what a test took away from it.
    fs::remove(C("WINDOWS/TEMP"));
    hostwin::UseMachine(temp / "other");
    EXPECT_TRUE(fs::is_directory(temp / "other" / "C" / "WINDOWS" / "TEMP"));
    hostwin::UseMachine(machine);
    EXPECT_FALSE(fs::exists(C("WINDOWS/TEMP")));
}

TEST_F(Paths, WindowsPathsResolveInsideTheMachine)
{
    std::string longName(250, 'n');
    struct {
        std::string path;
        std::string expected;  // below the machine folder; empty when it fails
        DWORD error;
    } cases[] = {
        {"C:\\WINDOWS\\SYSTEM", "C/WINDOWS/SYSTEM", 0},
        {"c:\\windows\\system", "C/WINDOWS/SYSTEM", 0},              // case-insensitive,
        {"C:\\windows\\New File.TXT", "C/WINDOWS/New File.TXT", 0},  // the new name keeps its case
        {"C:\\games\\ZARN HOLD\\x", "C/Games/Zarn Hold/x", 0},
        {"\\WINDOWS", "C/WINDOWS", 0},                                // rooted: the current drive
        {"SYSTEM", "C/WINDOWS/SYSTEM", 0},                            // relative to C:\WINDOWS
        {"C:SYSTEM", "C/WINDOWS/SYSTEM", 0},                          // drive-relative, current drive
        {"D:x", "D/x", 0},                                            // another drive: its root
        {"C:", "C/WINDOWS", 0},
        {"C:\\", "C", 0},
        {"..\\..\\..\\..\\x", "C/x", 0},                              // never above the drive's root
        {"C:\\..\\..\\x", "C/x", 0},
        {"C:\\WINDOWS\\.\\SYSTEM\\.", "C/WINDOWS/SYSTEM", 0},
        {"C:\\WINDOWS\\SYSTEM. . ", "C/WINDOWS/SYSTEM", 0},           // trailing dots and blanks go
        {"C:\\\\WINDOWS\\\\\\SYSTEM", "C/WINDOWS/SYSTEM", 0},         // doubled separators
        {"/WINDOWS/SYSTEM", "C/WINDOWS/SYSTEM", 0},                   // '/' separates too
        {"/etc/passwd", "", ERROR_PATH_NOT_FOUND},               // C:\etc\passwd
        {"C:\\missing\\x", "", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\EXPLORER.EXE\\x", "", ERROR_PATH_NOT_FOUND},  // a file is no folder
        {"Q:\\x", "", ERROR_PATH_NOT_FOUND},                     // no such drive
        {"", "", ERROR_PATH_NOT_FOUND},
        {"\\\\server\\share\\x", "", ERROR_BAD_NETPATH},
        {"//server/share", "", ERROR_BAD_NETPATH},
        {"C:\\" + std::string(300, 'a'), "", ERROR_FILENAME_EXCED_RANGE},
        {longName, "", ERROR_FILENAME_EXCED_RANGE},              // too long once made whole
        {"C:\\a\\..\\" + longName, "C/" + longName, 0},
        {"C:\\a<b", "", ERROR_INVALID_NAME},
        {"C:\\a>b", "", ERROR_INVALID_NAME},
        {"C:\\a|b", "", ERROR_INVALID_NAME},
        {"C:\\a\"b", "", ERROR_INVALID_NAME},
        {"C:\\a\x01" "b", "", ERROR_INVALID_NAME},
        {"C:\\a:b", "", ERROR_INVALID_NAME},
        {"C:\\*.txt", "", ERROR_INVALID_NAME},
        {"C:\\a?b", "", ERROR_INVALID_NAME},
    };
    for (const auto &c : cases) {
        DWORD error = 0;
        std::optional<fs::path> host = hostwin::detail::Resolve(c.path.c_str(), &error);
        if (!c.expected.empty()) {
            EXPECT_EQ(host.value_or("<failed>"), machine / c.expected) << c.path << " (error " << error << ")";
        } else {
            EXPECT_FALSE(host.has_value()) << c.path << " gave " << host.value_or("");
            EXPECT_EQ(error, c.error) << c.path;
        }
    }
}

TEST_F(Paths, DoubleByteCharactersKeepTheirTrailBackslash)
{
    // 0x95 0x5C is one Shift-JIS character: its second byte is no separator in code page 932.
    DWORD error = 0;
    hostwin::SetCodePage(932);
    EXPECT_EQ(hostwin::detail::Resolve("C:\\\x95\\", &error).value_or(""), C() / "\x95\\");
    hostwin::SetCodePage(1252);
    EXPECT_EQ(hostwin::detail::Resolve("C:\\\x95\\", &error).value_or(""), C() / "\x95");
}

TEST_F(Paths, WindowsAndHostPathsTranslate)
{
    EXPECT_EQ(hostwin::WindowsPath(C("WINDOWS/SYSTEM")).value_or("<none>"), "C:\\WINDOWS\\SYSTEM");
    EXPECT_EQ(hostwin::WindowsPath(C()).value_or("<none>"), "C:\\");
    EXPECT_EQ(hostwin::WindowsPath(machine / "D").value_or("<none>"), "D:\\");
    EXPECT_FALSE(hostwin::WindowsPath(machine).has_value());
    EXPECT_FALSE(hostwin::WindowsPath(outside / "sentinel.txt").has_value());
    EXPECT_FALSE(hostwin::WindowsPath(machine / "hostwin.ini").has_value());
    EXPECT_EQ(hostwin::HostPath("c:\\games\\zarn hold").value_or(""), C("Games/Zarn Hold"));
    EXPECT_FALSE(hostwin::HostPath("\\\\server\\share").has_value());
}

TEST_F(Paths, CurrentDirectoryIsReportedAsWindowsNamesIt)
{
    struct {
        fs::path folder;
        const char *expected;  // null: outside the machine
    } cases[] = {
        {C("WINDOWS"), "C:\\WINDOWS"},
        {C("Games/Zarn Hold"), "C:\\Games\\Zarn Hold"},
        {C(), "C:\\"},
        {machine / "D", "D:\\"},
        {outside, nullptr},
    };
    for (const auto &c : cases) {
        EnterFolder(c.folder);
        char buffer[MAX_PATH];
        SetLastError(0);
        DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
        if (c.expected == nullptr) {
            EXPECT_EQ(length, 0u) << c.folder;
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
            continue;
        }
        EXPECT_EQ(length, strlen(c.expected)) << c.folder;
        EXPECT_STREQ(buffer, c.expected);
    }
}

TEST_F(Paths, FolderQueriesReportTheSizeNeededWhenTheBufferIsShort)
{
    struct {
        const char *name;
        std::function<DWORD(char *, DWORD)> query;
        std::string expected;
    } cases[] = {
        {"GetWindowsDirectoryA", [](char *b, DWORD s) { return GetWindowsDirectoryA(b, s); }, "C:\\WINDOWS"},
        {"GetSystemDirectoryA", [](char *b, DWORD s) { return GetSystemDirectoryA(b, s); }, "C:\\WINDOWS\\SYSTEM"},
        {"GetTempPathA", [](char *b, DWORD s) { return GetTempPathA(s, b); }, "C:\\WINDOWS\\TEMP\\"},
        {"GetCurrentDirectoryA", [](char *b, DWORD s) { return GetCurrentDirectoryA(s, b); }, "C:\\WINDOWS"},
    };
    for (const auto &c : cases) {
        DWORD length = (DWORD)c.expected.size();
        char buffer[MAX_PATH];
        EXPECT_EQ(c.query(buffer, MAX_PATH), length) << c.name;
        EXPECT_EQ(std::string(buffer), c.expected) << c.name;
        // Exactly the room for the text and its NUL.
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(c.query(buffer, length + 1), length) << c.name;
        EXPECT_EQ(std::string(buffer), c.expected) << c.name;
        // One byte short: the size needed, NUL included, and nothing written.
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(c.query(buffer, length), length + 1) << c.name;
        EXPECT_EQ(buffer[0], '#') << c.name;
        EXPECT_EQ(c.query(nullptr, 0), length + 1) << c.name;
    }
}

TEST_F(Paths, SetCurrentDirectoryMovesWithinTheMachineOnly)
{
    EXPECT_TRUE(SetCurrentDirectoryA("C:\\games\\zarn hold"));
    char buffer[MAX_PATH];
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "C:\\Games\\Zarn Hold");
    EXPECT_TRUE(SetCurrentDirectoryA(".."));
    GetCurrentDirectoryA(sizeof buffer, buffer);
    EXPECT_STREQ(buffer, "C:\\Games");
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\nothing"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\WINDOWS\\EXPLORER.EXE"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIRECTORY);
}

// Hostile names through every call that takes a path: nothing outside the machine folder may be
// read, created, changed or deleted.
class Confinement : public Machine {
protected:
    void SetUp() override
    {
        Machine::SetUp();
        WriteText(outside / "sentinel.txt", "outside the machine");
        fs::create_directories(outside / "dir");
        WriteText(outside / "dir" / "inner.txt", "inner");
        fs::create_directory_symlink(outside, C("out"));
        fs::create_symlink(outside / "sentinel.txt", C("outfile.txt"));
        fs::create_symlink(outside / "nothing.txt", C("dangling.txt"));
        fs::create_directory_symlink(C("out"), C("hop"));
        fs::create_directory_symlink(C("WINDOWS"), C("inside"));
        WriteText(C("victim.txt"), "victim");
        EnterFolder(C("WINDOWS"));
        before = Snapshot(temp);
        for (auto it = before.begin(); it != before.end();)
            it = it->first.rfind("machine", 0) == 0 ? before.erase(it) : std::next(it);
    }

    void ExpectOutsideUntouched(const std::string &what)
    {
        std::map<std::string, std::string> after = Snapshot(temp);
        for (auto it = after.begin(); it != after.end();)
            it = it->first.rfind("machine", 0) == 0 ? after.erase(it) : std::next(it);
        EXPECT_EQ(after, before) << "after " << what;
    }

    std::map<std::string, std::string> before;
};

struct PathCall {
    const char *name;
    std::function<bool(const char *)> call;  // true when the call succeeded
};

std::vector<PathCall> PathCalls()
{
    auto handleCall = [](HANDLE handle) {
        if (handle == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(handle);
        return true;
    };
    return {
        {"CreateFileA read",
         [=](const char *p) {
             return handleCall(CreateFileA(p, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
         }},
        {"CreateFileA write",
         [=](const char *p) {
             return handleCall(CreateFileA(p, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
         }},
        {"CreateDirectoryA", [](const char *p) { return CreateDirectoryA(p, nullptr) != FALSE; }},
        {"DeleteFileA", [](const char *p) { return DeleteFileA(p) != FALSE; }},
        {"RemoveDirectoryA", [](const char *p) { return RemoveDirectoryA(p) != FALSE; }},
        {"MoveFileA from", [](const char *p) { return MoveFileA(p, "C:\\moved") != FALSE; }},
        {"MoveFileA to", [](const char *p) { return MoveFileA("C:\\victim.txt", p) != FALSE; }},
        {"FindFirstFileA",
         [](const char *p) {
             WIN32_FIND_DATAA data;
             HANDLE search = FindFirstFileA(p, &data);
             if (search == INVALID_HANDLE_VALUE)
                 return false;
             FindClose(search);
             return true;
         }},
        {"FindFirstFileA below",
         [](const char *p) {
             WIN32_FIND_DATAA data;
             HANDLE search = FindFirstFileA((std::string(p) + "\\*").c_str(), &data);
             if (search == INVALID_HANDLE_VALUE)
                 return false;
             FindClose(search);
             return true;
         }},
        {"WritePrivateProfileStringA",
         [](const char *p) { return WritePrivateProfileStringA("rename", "NUL", "x", p) != FALSE; }},
        {"GetFileAttributesA", [](const char *p) { return GetFileAttributesA(p) != INVALID_FILE_ATTRIBUTES; }},
        {"SetCurrentDirectoryA", [](const char *p) { return SetCurrentDirectoryA(p) != FALSE; }},
    };
}

TEST_F(Confinement, LinksThatLeadOutAreRefusedByEveryCall)
{
    const char *paths[] = {
        "C:\\out\\sentinel.txt", "C:\\out\\dir", "C:\\out\\dir\\inner.txt", "C:\\out\\new.txt", "C:\\out\\newdir",
        "C:\\outfile.txt", "C:\\out", "C:\\dangling.txt", "C:\\hop\\sentinel.txt", "c:\\OUT\\SENTINEL.TXT",
        "C:\\inside\\..\\out\\sentinel.txt",
    };
    for (const char *path : paths) {
        for (const PathCall &call : PathCalls()) {
            SetLastError(0);
            EXPECT_FALSE(call.call(path)) << call.name << " " << path;
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED) << call.name << " " << path;
            ExpectOutsideUntouched(std::string(call.name) + " " + path);
        }
    }
    EXPECT_TRUE(fs::exists(C("victim.txt")));
}

TEST_F(Confinement, NamesThatClimbOrLeaveTheMachineStayInsideIt)
{
    std::string deep = "..";
    for (int i = 0; i < 20; i++)
        deep += "\\..";
    const std::string paths[] = {
        "..\\..\\..\\..\\sentinel.txt",
        deep + "\\outside\\sentinel.txt",
        "C:\\..\\..\\outside\\sentinel.txt",
        "\\..\\outside",
        "/etc/passwd",
        "/../../outside/sentinel.txt",
        "Q:\\x",
        "\\\\server\\share\\x",
        "C:\\" + std::string(300, 'x'),
        "..\\machine\\hostwin.ini",
    };
    for (const std::string &path : paths) {
        for (const PathCall &call : PathCalls()) {
            call.call(path.c_str());
            ExpectOutsideUntouched(std::string(call.name) + " " + path);
            // Whatever was made inside goes again, so the next call starts from the same machine.
            std::error_code ec;
            fs::remove(C("sentinel.txt"), ec);
            fs::remove_all(C("outside"), ec);
            if (!fs::exists(C("victim.txt")))
                WriteText(C("victim.txt"), "victim");
            EnterFolder(C("WINDOWS"));
        }
    }
    // /etc/passwd is C:\etc\passwd, which does not exist.
    EXPECT_EQ(CreateFileA("/etc/passwd", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    // The machine folder's own files are no drive's.
    EXPECT_EQ(GetFileAttributesA("..\\..\\hostwin.ini"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Confinement, LinksWithinTheMachineAreFollowed)
{
    HANDLE file = CreateFileA("C:\\inside\\made.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(fs::exists(C("WINDOWS/made.txt")));
    EXPECT_EQ(GetFileAttributesA("C:\\inside\\SYSTEM"), (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    // Deleting the link removes the link, not what it points at.
    EXPECT_TRUE(RemoveDirectoryA("C:\\inside"));
    EXPECT_TRUE(fs::is_directory(C("WINDOWS/SYSTEM")));
    ExpectOutsideUntouched("links within");
}

}  // namespace
