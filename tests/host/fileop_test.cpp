// SHFileOperationA deleting through the shell: whole trees, names as the uninstaller hands them
// over, missing names, wildcards, the question, the progress line, and never a step outside the
// machine.
#include "machine_fixture.h"

#include <sys/stat.h>

#include <cstring>
#include <vector>

namespace {

using namespace machinetest;
using fs::path;

class FileOperation : public Machine {
protected:
    // A small installed directory: files, a read-only file, a read-only subfolder with a file.
    void MakeTree(const std::string &windowsFolder)
    {
        path root = Host(windowsFolder);
        WriteText(root / "zarnhold.exe", "game");
        WriteText(root / "readme.txt", "readme");
        WriteText(root / "icons" / "zh5.ico", "icon");
        WriteText(root / "saves" / "deep" / "slot1.sav", "save");
        fs::permissions(root / "readme.txt", fs::perms::owner_read);
        fs::permissions(root / "saves" / "deep" / "slot1.sav", fs::perms::owner_read);
        fs::permissions(root / "saves" / "deep", fs::perms::owner_read | fs::perms::owner_exec);
    }

    // The uninstaller's call: one name, closed by two NULs, with its flags and title.
    int Delete(const std::vector<std::string> &names, FILEOP_FLAGS flags = FOF_SIMPLEPROGRESS | FOF_NOCONFIRMATION,
               BOOL *aborted = nullptr)
    {
        std::string list;
        for (const std::string &name : names)
            list += name + '\0';
        list += '\0';
        SHFILEOPSTRUCTA operation;
        std::memset(&operation, 0, sizeof(operation));
        operation.wFunc = FO_DELETE;
        operation.pFrom = list.c_str();
        operation.fFlags = flags;
        operation.lpszProgressTitle = "Removing Zarn-Hold Demo....";
        operation.fAnyOperationsAborted = 12345;
        int result = SHFileOperationA(&operation);
        if (aborted != nullptr)
            *aborted = operation.fAnyOperationsAborted;
        return result;
    }
};

struct TreeCase {
    const char *name;
    const char *folder;  // where the tree is made
    const char *given;   // the name handed to the shell
};

TEST_F(FileOperation, DeletesAWholeTree)
{
    const TreeCase cases[] = {
        {"plain", "C:\\ZARN", "C:\\ZARN"},
        {"blanks in the name", "C:\\Program Files\\Zarn Hold Demo", "C:\\Program Files\\Zarn Hold Demo"},
        {"other case, forward slashes, trailing backslash", "C:\\Games\\Zarn", "c:/GAMES/zarn\\"},
        {"dots resolved by their text", "C:\\Games\\Zarn", "C:\\Games\\other\\..\\.\\Zarn"},
    };
    for (const TreeCase &c : cases) {
        SCOPED_TRACE(c.name);
        MakeTree(c.folder);
        WriteText(Host(c.folder).parent_path() / "neighbour.txt", "stays");
        BOOL aborted = -1;
        EXPECT_EQ(0, Delete({c.given}, FOF_SIMPLEPROGRESS | FOF_NOCONFIRMATION, &aborted));
        EXPECT_FALSE(aborted);
        EXPECT_FALSE(fs::exists(Host(c.folder)));
        EXPECT_TRUE(fs::exists(Host(c.folder).parent_path() / "neighbour.txt"));
    }
}

TEST_F(FileOperation, AMissingNameFailsButTheOthersAreDeleted)
{
    MakeTree("C:\\A");
    MakeTree("C:\\B");
    int result = Delete({"C:\\A", "C:\\not there", "C:\\no folder\\x", "C:\\B"});
    EXPECT_NE(0, result);
    EXPECT_FALSE(fs::exists(Host("C:\\A")));
    EXPECT_FALSE(fs::exists(Host("C:\\B")));
    EXPECT_NE(0, Delete({"C:\\ZARN"})) << "a second removal finds nothing";
}

TEST_F(FileOperation, WildcardsInTheLastComponentDeleteTheMatches)
{
    WriteText(Host("C:\\T\\a.tmp"), "");
    WriteText(Host("C:\\T\\B.TMP"), "");
    WriteText(Host("C:\\T\\sub.tmp\\inner.txt"), "");
    WriteText(Host("C:\\T\\keep.txt"), "");
    EXPECT_EQ(0, Delete({"C:\\T\\*.tmp"}));
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(Host("C:\\T")))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(std::vector<std::string>{"keep.txt"}, left);
    EXPECT_NE(0, Delete({"C:\\T\\*.none"}));
    EXPECT_EQ(0, Delete({"C:\\T\\*.*"}));
    EXPECT_TRUE(fs::is_empty(Host("C:\\T")));
}

TEST_F(FileOperation, NeverFollowsALinkOutOfTheMachine)
{
    WriteText(outside / "sentinel.txt", "must stay");
    WriteText(outside / "folder" / "inner.txt", "must stay");
    MakeTree("C:\\ZARN");
    fs::create_symlink(outside, Host("C:\\ZARN") / "to outside");
    fs::create_symlink(outside / "sentinel.txt", Host("C:\\ZARN") / "sentinel link");
    fs::create_symlink(outside / "folder", (machine / "C") / "linked folder");

    EXPECT_EQ(0, Delete({"C:\\ZARN", "C:\\linked folder"}));
    EXPECT_FALSE(fs::exists(fs::symlink_status(Host("C:\\ZARN"))));
    EXPECT_FALSE(fs::exists(fs::symlink_status(machine / "C" / "linked folder"))) << "the link itself goes";
    EXPECT_EQ("must stay", ReadText(outside / "sentinel.txt"));
    EXPECT_EQ("must stay", ReadText(outside / "folder" / "inner.txt"));
}

TEST_F(FileOperation, NamesThatWouldLeaveTheMachineDeleteNothingThere)
{
    WriteText(outside / "sentinel.txt", "must stay");
    fs::create_symlink(outside, machine / "C" / "out");
    std::string up = "C:";
    for (path at = machine / "C"; at != at.root_path(); at = at.parent_path())
        up += "\\..";
    const std::vector<std::string> names = {
        up + outside.string(),                      // C:\..\..\..\tmp\hostwin-machine-x\outside
        "C:\\..\\..\\..\\..\\..\\..\\..\\..\\tmp",  // never above the root: C:\tmp
        (outside / "sentinel.txt").string(),        // a host path is a path on the current drive
        "\\\\server\\share\\sentinel.txt",
        "C:\\",
        "C:\\..",
        "C:\\out\\sentinel.txt",  // through a link that leads out
        "C:\\out\\*.*",
        "C:\\" + std::string(MAX_PATH, 'x'),
    };
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        EXPECT_NE(0, Delete({name}));
    }
    EXPECT_EQ("must stay", ReadText(outside / "sentinel.txt"));
    EXPECT_TRUE(fs::is_directory(Host("C:\\WINDOWS\\SYSTEM")));
}

struct QuestionCase {
    const char *name;
    std::vector<std::string> given;  // below the case's own installed directory
    std::vector<int> answers;
    bool expectDeleted;
    const char *expectedCaption;
};

TEST_F(FileOperation, WithoutNoConfirmationTheShellAsksFirst)
{
    const QuestionCase cases[] = {
        {"yes to a folder", {""}, {IDYES}, true, "Confirm Folder Delete"},
        {"no to a folder", {""}, {IDNO}, false, "Confirm Folder Delete"},
        {"dismissed", {""}, {}, false, "Confirm Folder Delete"},
        {"a file", {"\\readme.txt"}, {IDYES}, true, "Confirm File Delete"},
        {"several names", {"\\icons", "\\saves"}, {IDYES}, true, "Confirm Multiple File Delete"},
    };
    int number = 0;
    for (const QuestionCase &c : cases) {
        SCOPED_TRACE(c.name);
        hostwin::ResetControls();
        std::string folder = "C:\\ZARN" + std::to_string(++number);
        MakeTree(folder);
        std::vector<std::string> names;
        for (const std::string &name : c.given)
            names.push_back(folder + name);
        hostwin::QueueMessageBoxAnswers(c.answers);
        BOOL aborted = -1;
        int result = Delete(names, FOF_SIMPLEPROGRESS, &aborted);
        EXPECT_EQ(c.expectDeleted, result == 0);
        EXPECT_EQ(!c.expectDeleted, aborted != FALSE);
        for (const std::string &name : names)
            EXPECT_EQ(c.expectDeleted, !fs::exists(Host(name))) << name;
        auto boxes = hostwin::MessageBoxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(c.expectedCaption, boxes[0].caption);
        EXPECT_EQ((UINT)(MB_YESNO | MB_ICONQUESTION), boxes[0].style);
    }
}

struct ProgressCase {
    FILEOP_FLAGS flags;
    const char *expected;
};

TEST_F(FileOperation, TheProgressWindowIsALineOnTheTerminal)
{
    const ProgressCase cases[] = {
        {FOF_SIMPLEPROGRESS | FOF_NOCONFIRMATION, "[progress] Removing Zarn-Hold Demo....\n"},
        {FOF_SIMPLEPROGRESS | FOF_NOCONFIRMATION | FOF_SILENT, ""},
        {FOF_NOCONFIRMATION, "[progress] Deleting C:\\ZARN\n"},
    };
    for (const ProgressCase &c : cases) {
        SCOPED_TRACE(c.flags);
        MakeTree("C:\\ZARN");
        testing::internal::CaptureStderr();
        EXPECT_EQ(0, Delete({"C:\\ZARN"}, c.flags));
        EXPECT_EQ(c.expected, testing::internal::GetCapturedStderr());
    }
}

TEST_F(FileOperation, IsJournaledWithNamesFlagsAndTitle)
{
    NewJournal();
    MakeTree("C:\\Zarn Hold");
    Delete({"C:\\Zarn Hold", "C:\\gone"}, FOF_SIMPLEPROGRESS | FOF_NOCONFIRMATION | FOF_SILENT);
    EXPECT_EQ("SHFileOperationA\tFO_DELETE\tC:\\Zarn Hold|C:\\gone\t0x0114\tRemoving Zarn-Hold Demo....\t=> 2\n",
              ReadText(journal));
}

TEST_F(FileOperation, OnlyDeletionIsSupported)
{
    MakeTree("C:\\ZARN");
    SHFILEOPSTRUCTA operation;
    std::memset(&operation, 0, sizeof(operation));
    operation.wFunc = FO_COPY;
    operation.pFrom = "C:\\ZARN\0";
    operation.pTo = "C:\\COPY\0";
    operation.fFlags = FOF_NOCONFIRMATION | FOF_SILENT;
    EXPECT_NE(0, SHFileOperationA(&operation));
    EXPECT_TRUE(fs::exists(Host("C:\\ZARN\\zarnhold.exe")));
}

}  // namespace
