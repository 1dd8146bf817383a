// Files and folders of the machine: opening, reading, writing and mapping files, their attributes,
// moving, deleting, making and removing folders, and searching, with the errors Windows 95 gives.
#include "machine_fixture.h"

#include <cstring>
#include <functional>
#include <vector>

namespace {

using namespace machinetest;

class Files : public Machine {
protected:
    void SetUp() override
    {
        Machine::SetUp();
        WriteText(C("Games/Zarn Hold/readme.txt"), "read me");
        WriteText(C("Games/Zarn Hold/sweeper.exe"), "MZ uninstaller");
        WriteText(C("locked.txt"), "locked");
        MakeReadOnly(C("locked.txt"));
        fs::create_directories(C("empty"));
        fs::create_directories(machine / "D" / "disc");
        EnterFolder(C("Games/Zarn Hold"));
    }

    std::vector<std::string> Search(const char *pattern)
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA(pattern, &data);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do
            names.push_back(data.cFileName);
        while (FindNextFileA(search, &data));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(search));
        return names;
    }
};

TEST_F(Files, WrittenFileReadsBack)
{
    HANDLE file = CreateFileA("C:\\new.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "abc\0def", 7, &written, nullptr));
    EXPECT_EQ(written, 7u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadText(C("new.bin")), std::string("abc\0def", 7));

    file = CreateFileA("c:\\NEW.BIN", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_READONLY,
                       nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, nullptr), 7u);
    char buffer[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), std::string("abc\0def", 7));
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));  // at the end: nothing, no error
    EXPECT_EQ(read, 0u);
    // A handle opened for reading does not write.
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST_F(Files, CreateFileDispositionsAndErrors)
{
    struct {
        const char *path;
        DWORD access;
        DWORD creation;
        bool opens;
        DWORD error;  // last error afterwards (also on success for the two "ALWAYS")
    } cases[] = {
        {"readme.txt", GENERIC_READ, OPEN_EXISTING, true, 0},
        {"missing.txt", GENERIC_READ, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND},
        {"C:\\nowhere\\x.txt", GENERIC_READ, OPEN_EXISTING, false, ERROR_PATH_NOT_FOUND},
        {"C:\\nowhere\\x.txt", GENERIC_WRITE, CREATE_ALWAYS, false, ERROR_PATH_NOT_FOUND},
        {"readme.txt", GENERIC_WRITE, CREATE_NEW, false, ERROR_FILE_EXISTS},
        {"readme.txt", GENERIC_WRITE, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS},
        {"fresh.txt", GENERIC_WRITE, OPEN_ALWAYS, true, 0},
        {"readme.txt", GENERIC_WRITE, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS},
        {"other.txt", GENERIC_WRITE, CREATE_ALWAYS, true, 0},
        {"C:\\locked.txt", GENERIC_READ, OPEN_EXISTING, true, 0},
        {"C:\\locked.txt", GENERIC_WRITE, OPEN_EXISTING, false, ERROR_ACCESS_DENIED},
        {"C:\\locked.txt", GENERIC_WRITE, CREATE_ALWAYS, false, ERROR_ACCESS_DENIED},
        {"C:\\empty", GENERIC_READ, OPEN_EXISTING, false, ERROR_ACCESS_DENIED},  // a folder
        {"readme.txt", GENERIC_READ, TRUNCATE_EXISTING, false, ERROR_INVALID_PARAMETER},
        {"readme.txt", GENERIC_READ, 0, false, ERROR_INVALID_PARAMETER},
    };
    for (const auto &c : cases) {
        SetLastError(12345);
        HANDLE file = CreateFileA(c.path, c.access, 0, nullptr, c.creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens) << c.path << " creation " << c.creation;
        if (c.opens && c.creation != OPEN_ALWAYS && c.creation != CREATE_ALWAYS)
            EXPECT_EQ(GetLastError(), 12345u) << c.path << ": success leaves the last error alone";
        else
            EXPECT_EQ(GetLastError(), c.error) << c.path << " creation " << c.creation;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    EXPECT_EQ(ReadText(C("Games/Zarn Hold/readme.txt")), "");  // CREATE_ALWAYS emptied it
    EXPECT_EQ(ReadText(C("locked.txt")), "locked");
}

TEST_F(Files, FileCreatedReadOnlyIsWritableThroughItsHandleOnly)
{
    HANDLE file = CreateFileA("C:\\ro.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written;
    EXPECT_TRUE(WriteFile(file, "x", 1, &written, nullptr));
    CloseHandle(file);
    EXPECT_EQ(GetFileAttributesA("C:\\ro.txt"), (DWORD)(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(CreateFileA("C:\\ro.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
}

TEST_F(Files, MappedViewShowsTheFile)
{
    HANDLE file = CreateFileA("readme.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    const char *view = (const char *)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::string(view, 7), "read me");
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_ADDRESS);
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_TRUE(CloseHandle(file));

    // An empty file has nothing to map.
    WriteText(C("empty.bmp"), "");
    file = CreateFileA("C:\\empty.bmp", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_INVALID);
    CloseHandle(file);
}

TEST_F(Files, AttributesOfFilesAndFolders)
{
    struct {
        const char *path;
        DWORD attributes;
        DWORD error;
    } cases[] = {
        {"readme.txt", FILE_ATTRIBUTE_ARCHIVE, 0},
        {"C:\\LOCKED.TXT", FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, 0},
        {"C:\\empty", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"C:\\", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"D:\\DISC", FILE_ATTRIBUTE_DIRECTORY, 0},
        {"missing.txt", INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND},
        {"C:\\nowhere\\x", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
        {"E:\\", INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
    };
    for (const auto &c : cases) {
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesA(c.path), c.attributes) << c.path;
        if (c.error != 0) {
            EXPECT_EQ(GetLastError(), c.error) << c.path;
        }
    }
}

TEST_F(Files, MoveFileOutcomes)
{
    struct {
        const char *from;
        const char *to;
        bool moves;
        DWORD error;
    } cases[] = {
        {"sweeper.exe", "C:\\WINDOWS\\SYSTEM\\zh5ddins.exe", true, 0},
        {"sweeper.exe", "C:\\WINDOWS\\SYSTEM\\zh5ddins.exe", false, ERROR_FILE_NOT_FOUND},  // moved already
        {"readme.txt", "C:\\WINDOWS\\SYSTEM\\ZH5DDINS.EXE", false, ERROR_FILE_EXISTS},     // Windows 95: 80
        {"readme.txt", "C:\\nowhere\\readme.txt", false, ERROR_PATH_NOT_FOUND},
        {"C:\\nowhere\\x", "C:\\x", false, ERROR_PATH_NOT_FOUND},
        {"C:\\locked.txt", "C:\\empty\\locked.txt", true, 0},                             // read-only moves
        {"C:\\empty", "C:\\Games\\Moved", true, 0},                                        // folders move
        {"C:\\Games", "C:\\Games\\Moved\\inner", false, ERROR_ACCESS_DENIED},              // not into itself
        {"readme.txt", "D:\\readme.txt", true, 0},                                         // files change drive
        {"C:\\Games\\Moved", "D:\\Moved", false, ERROR_NOT_SAME_DEVICE},                   // folders do not
        {"C:\\", "C:\\root", false, ERROR_ACCESS_DENIED},
    };
    for (const auto &c : cases) {
        SetLastError(0);
        EXPECT_EQ(MoveFileA(c.from, c.to) != FALSE, c.moves) << c.from << " -> " << c.to;
        if (!c.moves) {
            EXPECT_EQ(GetLastError(), c.error) << c.from << " -> " << c.to;
        }
    }
    EXPECT_EQ(ReadText(C("WINDOWS/SYSTEM/zh5ddins.exe")), "MZ uninstaller");
    EXPECT_EQ(ReadText(machine / "D" / "readme.txt"), "read me");
    EXPECT_FALSE(fs::exists(C("Games/Zarn Hold/readme.txt")));
    EXPECT_EQ(ReadText(C("Games/Moved/locked.txt")), "locked");
    EXPECT_TRUE(fs::is_directory(C("Games/Moved")));
}

TEST_F(Files, MoveFileChangesTheCaseOfAName)
{
    EXPECT_TRUE(MoveFileA("readme.txt", "README.TXT"));
    EXPECT_TRUE(fs::exists(C("Games/Zarn Hold/README.TXT")));
    EXPECT_FALSE(fs::exists(C("Games/Zarn Hold/readme.txt")));
}

TEST_F(Files, DeleteFileRefusesFoldersAndReadOnlyFiles)
{
    struct {
        const char *path;
        bool deletes;
        DWORD error;
    } cases[] = {
        {"README.TXT", true, 0},
        {"readme.txt", false, ERROR_FILE_NOT_FOUND},
        {"C:\\nowhere\\x", false, ERROR_PATH_NOT_FOUND},
        {"C:\\empty", false, ERROR_ACCESS_DENIED},
        {"C:\\locked.txt", false, ERROR_ACCESS_DENIED},
        {"C:\\", false, ERROR_ACCESS_DENIED},
    };
    for (const auto &c : cases) {
        SetLastError(0);
        EXPECT_EQ(DeleteFileA(c.path) != FALSE, c.deletes) << c.path;
        if (!c.deletes) {
            EXPECT_EQ(GetLastError(), c.error) << c.path;
        }
    }
    EXPECT_TRUE(fs::exists(C("locked.txt")));
    EXPECT_TRUE(fs::is_directory(C("empty")));
}

TEST_F(Files, CreateDirectoryOutcomes)
{
    struct {
        const char *path;
        bool makes;
        DWORD error;
    } cases[] = {
        {"C:\\WINDOWS\\Start Menu\\Programs\\Halvane", true, 0},
        {"c:\\windows\\start menu\\programs\\HALVANE", false, ERROR_ALREADY_EXISTS},
        {"readme.txt", false, ERROR_ALREADY_EXISTS},
        {"C:\\a\\b", false, ERROR_PATH_NOT_FOUND},
        {"icons", true, 0},
        {"C:\\", false, ERROR_ALREADY_EXISTS},
    };
    for (const auto &c : cases) {
        SetLastError(0);
        EXPECT_EQ(CreateDirectoryA(c.path, nullptr) != FALSE, c.makes) << c.path;
        if (!c.makes) {
            EXPECT_EQ(GetLastError(), c.error) << c.path;
        }
    }
    EXPECT_TRUE(fs::is_directory(C("WINDOWS/Start Menu/Programs/Halvane")));
    EXPECT_TRUE(fs::is_directory(C("Games/Zarn Hold/icons")));
}

TEST_F(Files, RemoveDirectoryGivesWindows95OrNtErrors)
{
    fs::create_directories(C("full/inner"));
    fs::create_directories(C("readonly"));
    ::chmod(C("readonly").c_str(), 0555);
    struct {
        const char *path;
        bool removes;
        DWORD error95;
        DWORD errorNt;
    } cases[] = {
        {"C:\\full", false, ERROR_ACCESS_DENIED, ERROR_DIR_NOT_EMPTY},
        {"C:\\nothing", false, ERROR_PATH_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {"C:\\locked.txt", false, ERROR_PATH_NOT_FOUND, ERROR_DIRECTORY},
        {"C:\\readonly", false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {"C:\\", false, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {"C:\\Games\\Zarn Hold", false, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION},  // the current one
    };
    for (hostwin::Platform platform : {hostwin::Platform::Windows95, hostwin::Platform::WindowsNT}) {
        hostwin::SetPlatform(platform);
        for (const auto &c : cases) {
            SetLastError(0);
            EXPECT_FALSE(RemoveDirectoryA(c.path)) << c.path;
            EXPECT_EQ(GetLastError(), platform == hostwin::Platform::WindowsNT ? c.errorNt : c.error95) << c.path;
        }
    }
    EXPECT_TRUE(RemoveDirectoryA("C:\\FULL\\INNER"));
    EXPECT_TRUE(RemoveDirectoryA("C:\\full"));
    EXPECT_FALSE(fs::exists(C("full")));
}

TEST_F(Files, SearchesMatchWildcardsCaseInsensitively)
{
    WriteText(C("Games/Zarn Hold/icons/zh5.ico"), "");
    WriteText(C("Games/Zarn Hold/icons/zh5setup.ico"), "");
    WriteText(C("Games/Zarn Hold/icons/ZH5UNINS.ICO"), "");
    WriteText(C("Games/Zarn Hold/icons/notes"), "");
    struct {
        const char *pattern;
        std::vector<std::string> names;
    } cases[] = {
        {"icons\\*.ico", {"zh5.ico", "zh5setup.ico", "ZH5UNINS.ICO"}},
        {"icons\\*", {".", "..", "notes", "zh5.ico", "zh5setup.ico", "ZH5UNINS.ICO"}},
        {"icons\\*.*", {".", "..", "notes", "zh5.ico", "zh5setup.ico", "ZH5UNINS.ICO"}},
        {"icons\\zh5?.ico", {}},
        {"icons\\zh5*.ICO", {"zh5.ico", "zh5setup.ico", "ZH5UNINS.ICO"}},
        {"icons\\zh5?????.ico", {"zh5setup.ico", "ZH5UNINS.ICO"}},
        {"icons\\*.", {"notes"}},  // names without an extension
        {"icons\\NOTES", {"notes"}},
        {"C:\\WINDOWS\\SYSTEM\\..\\explorer.exe", {"EXPLORER.EXE"}},
        {"C:\\*", {"empty", "Games", "locked.txt", "WINDOWS"}},  // a drive's root has no "." or ".."
        {"C:\\WINDOWS\\wininit.ini", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Search(c.pattern), c.names) << c.pattern;
}

TEST_F(Files, SearchReportsWhatItFound)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\locked.txt", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "locked.txt");
    EXPECT_EQ(data.dwFileAttributes, (DWORD)(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(data.nFileSizeLow, 6u);
    EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
    EXPECT_STREQ(data.cAlternateFileName, "");  // already a short name
    // Searches end with FindClose; CloseHandle does not take them.
    EXPECT_FALSE(CloseHandle(search));
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);

    search = FindFirstFileA("C:\\Games\\*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    while (strcmp(data.cFileName, "Zarn Hold") != 0)
        ASSERT_TRUE(FindNextFileA(search, &data));
    EXPECT_EQ(data.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_STREQ(data.cAlternateFileName, "ZARNHO~1");
    FindClose(search);

    struct {
        const char *pattern;
        DWORD error;
    } failures[] = {
        {"C:\\WINDOWS\\wininit.ini", ERROR_FILE_NOT_FOUND},
        {"C:\\nowhere\\*", ERROR_PATH_NOT_FOUND},
        {"C:\\nowhere\\wininit.ini", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\", ERROR_FILE_NOT_FOUND},
        {"C:\\WIN*\\SYSTEM", ERROR_INVALID_NAME},
    };
    for (const auto &f : failures) {
        SetLastError(0);
        EXPECT_EQ(FindFirstFileA(f.pattern, &data), INVALID_HANDLE_VALUE) << f.pattern;
        EXPECT_EQ(GetLastError(), f.error) << f.pattern;
    }
}

TEST_F(Files, MutatingCallsAreJournaled)
{
    NewJournal();
    CreateDirectoryA("C:\\j", nullptr);
    MoveFileA("readme.txt", "C:\\j\\r.txt");
    MoveFileA("readme.txt", "C:\\j\\r.txt");
    DeleteFileA("C:\\j\\r.txt");
    RemoveDirectoryA("C:\\j");
    GetFileAttributesA("C:\\j");  // only looks
    unsetenv("HOSTWIN_JOURNAL");
    EXPECT_EQ(ReadText(journal),
              "CreateDirectoryA\tC:\\j\t=> 1\n"
              "MoveFileA\treadme.txt\tC:\\j\\r.txt\t=> 1\n"
              "MoveFileA\treadme.txt\tC:\\j\\r.txt\t=> 0 error 2\n"
              "DeleteFileA\tC:\\j\\r.txt\t=> 1\n"
              "RemoveDirectoryA\tC:\\j\t=> 1\n");
}

}  // namespace
