// WritePrivateProfileStringA: one key=value line in a section of a profile file; every other
// line stays as it was, byte for byte.
#include "machine_fixture.h"

namespace {

using namespace machinetest;

class Profile : public Machine {};

TEST_F(Profile, EditsKeepEveryOtherLineByteForByte)
{
    const char *absent = nullptr;
    struct {
        const char *name;
        const char *before;  // null: no file
        const char *section;
        const char *key;
        const char *value;
        const char *after;  // null: still no file
    } cases[] = {
        {"new file", absent, "rename", "NUL", "C:\\WINDOWS\\SYSTEM\\zh5deins.exe",
         "[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\zh5deins.exe\r\n"},
        {"new section at the end", "[boot]\r\nshell=Explorer.exe\r\n", "rename", "NUL", "x",
         "[boot]\r\nshell=Explorer.exe\r\n[rename]\r\nNUL=x\r\n"},
        {"last line without a line end", "[boot]\r\nshell=Explorer.exe", "rename", "NUL", "x",
         "[boot]\r\nshell=Explorer.exe\r\n[rename]\r\nNUL=x\r\n"},
        {"key replaced, case-insensitive", "[Rename]\r\nnul=old\r\nx=1\r\n", "rename", "NUL", "new",
         "[Rename]\r\nNUL=new\r\nx=1\r\n"},
        {"key added beside another program's NUL line", "[rename]\r\nNUL=C:\\other.exe\r\n\r\n[next]\r\nb=2\r\n",
         "rename", "C:\\WINDOWS\\TEMP\\\\zh5deins.$$$", "C:\\WINDOWS\\SYSTEM\\zh5deins.exe",
         "[rename]\r\nNUL=C:\\other.exe\r\nC:\\WINDOWS\\TEMP\\\\zh5deins.$$$=C:\\WINDOWS\\SYSTEM\\zh5deins.exe\r\n"
         "\r\n[next]\r\nb=2\r\n"},
        {"parked key replaces its own earlier value", "[rename]\r\nNUL=a\r\nC:\\T\\\\z.$$$=old\r\n", "rename",
         "c:\\t\\\\Z.$$$", "new", "[rename]\r\nNUL=a\r\nc:\\t\\\\Z.$$$=new\r\n"},
        {"LF lines and comments stay", "; written by hand\n[rename]\nNUL=a\n", "rename", "k", "v",
         "; written by hand\n[rename]\nNUL=a\nk=v\r\n"},
        {"section name with blanks and case", "[ RENAME ]\r\n", "rename", "k", "v", "[ RENAME ]\r\nk=v\r\n"},
        {"key with blanks around it", "[s]\r\n k = old\r\n", "s", "k", "new", "[s]\r\nk=new\r\n"},
        {"a comment is no key", "[s]\r\n;k=old\r\n", "s", "k", "v", "[s]\r\n;k=old\r\nk=v\r\n"},
        {"empty value", "[s]\r\nk=old\r\n", "s", "k", "", "[s]\r\nk=\r\n"},
        {"odd lines stay", "garbage\r\n[s]\r\nno equals sign\r\n[t]\r\n", "s", "k", "v",
         "garbage\r\n[s]\r\nno equals sign\r\nk=v\r\n[t]\r\n"},
        {"null value deletes the key", "[s]\r\na=1\r\nb=2\r\n", "s", "A", nullptr, "[s]\r\nb=2\r\n"},
        {"null value, no such key", "[s]\r\na=1\n", "s", "x", nullptr, "[s]\r\na=1\n"},
        {"null key deletes the section", "[a]\r\nx=1\r\n[s]\r\ny=2\r\n\r\n[b]\r\nz=3\r\n", "S", nullptr, nullptr,
         "[a]\r\nx=1\r\n[b]\r\nz=3\r\n"},
        {"null key on no file", absent, "s", nullptr, nullptr, absent},
        {"null value on no file", absent, "s", "k", nullptr, absent},
    };
    for (const auto &c : cases) {
        fs::path file = C("WINDOWS/wininit.ini");
        fs::remove(file);
        if (c.before != nullptr)
            WriteText(file, c.before);
        EXPECT_TRUE(WritePrivateProfileStringA(c.section, c.key, c.value, "C:\\WINDOWS\\wininit.ini")) << c.name;
        if (c.after == nullptr)
            EXPECT_FALSE(fs::exists(file)) << c.name;
        else
            EXPECT_EQ(ReadText(file), c.after) << c.name;
    }
}

TEST_F(Profile, TwoRemovalRunsLeaveBothLines)
{
    const char *file = "C:\\WINDOWS\\wininit.ini";
    EXPECT_TRUE(WritePrivateProfileStringA("rename", "NUL", "C:\\WINDOWS\\SYSTEM\\zh5deins.exe", file));
    EXPECT_TRUE(WritePrivateProfileStringA("rename", "C:\\WINDOWS\\TEMP\\\\zh5deins.$$$",
                                           "C:\\WINDOWS\\SYSTEM\\zh5deins.exe", file));
    EXPECT_TRUE(WritePrivateProfileStringA("rename", "C:\\WINDOWS\\TEMP\\\\zh5deins.$$$",
                                           "C:\\WINDOWS\\SYSTEM\\zh5deins.exe", file));
    EXPECT_EQ(ReadText(C("WINDOWS/wininit.ini")),
              "[rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\zh5deins.exe\r\n"
              "C:\\WINDOWS\\TEMP\\\\zh5deins.$$$=C:\\WINDOWS\\SYSTEM\\zh5deins.exe\r\n");
}

TEST_F(Profile, FileNamesAndFailures)
{
    fs::create_directories(C("Games"));
    EnterFolder(C("Games"));
    // A bare name lives in the Windows directory; a name with a path is taken as a path.
    EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "v", "bare.ini"));
    EXPECT_EQ(ReadText(C("WINDOWS/bare.ini")), "[s]\r\nk=v\r\n");
    EXPECT_TRUE(WritePrivateProfileStringA("s", "k", "v", ".\\here.ini"));
    EXPECT_EQ(ReadText(C("Games/here.ini")), "[s]\r\nk=v\r\n");

    WriteText(C("locked.ini"), "[s]\r\nk=v\r\n");
    MakeReadOnly(C("locked.ini"));
    fs::create_directories(C("folder.ini"));
    struct {
        const char *file;
        const char *value;
        BOOL result;
        DWORD error;
    } cases[] = {
        {"C:\\locked.ini", "changed", FALSE, ERROR_ACCESS_DENIED},
        {"C:\\locked.ini", "v", TRUE, 0},  // nothing to change
        {"C:\\folder.ini", "v", FALSE, ERROR_ACCESS_DENIED},
        {"C:\\nowhere\\x.ini", "v", FALSE, ERROR_PATH_NOT_FOUND},
        {"Q:\\x.ini", "v", FALSE, ERROR_PATH_NOT_FOUND},
    };
    for (const auto &c : cases) {
        SetLastError(0);
        EXPECT_EQ(WritePrivateProfileStringA("s", "k", c.value, c.file), c.result) << c.file << " " << c.value;
        if (!c.result) {
            EXPECT_EQ(GetLastError(), c.error) << c.file;
        }
    }
    EXPECT_EQ(ReadText(C("locked.ini")), "[s]\r\nk=v\r\n");
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "k", "v", "bare.ini"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST_F(Profile, WriteIsJournaled)
{
    NewJournal();
    WritePrivateProfileStringA("rename", "NUL", "C:\\x.exe", "C:\\WINDOWS\\wininit.ini");
    WritePrivateProfileStringA("rename", nullptr, nullptr, "C:\\nowhere\\wininit.ini");
    unsetenv("HOSTWIN_JOURNAL");
    EXPECT_EQ(ReadText(journal),
              "WritePrivateProfileStringA\trename\tNUL\tC:\\x.exe\tC:\\WINDOWS\\wininit.ini\t=> 1\n"
              "WritePrivateProfileStringA\trename\tNULL\tNULL\tC:\\nowhere\\wininit.ini\t=> 0 error 3\n");
}

}  // namespace
