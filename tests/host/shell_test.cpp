// The shell's allocator and special folders, and the message box with its sources of answers.
#include "machine_fixture.h"

#include "internal.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>

#include <cstring>
#include <fstream>

namespace {

using namespace machinetest;
using fs::path;

class Shell : public Machine {};

// --- the shell allocator ---

TEST_F(Shell, TheAllocatorIsOneObjectThatReleaseNeverDestroys)
{
    IMalloc *first = nullptr, *second = nullptr;
    ASSERT_EQ(S_OK, SHGetMalloc(&first));
    ASSERT_EQ(S_OK, SHGetMalloc(&second));
    EXPECT_EQ(first, second);
    for (int i = 0; i < 5; i++)
        first->Release();
    void *block = first->Alloc(24);
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(1, first->DidAlloc(block));
    EXPECT_EQ(24u, first->GetSize(block));
    first->Free(block);
    EXPECT_EQ(0, first->DidAlloc(block));
}

TEST_F(Shell, FreeIsTheSixthEntryOfTheAllocatorsTable)
{
    // The programs call Free through the table the way Windows lays it out: QueryInterface,
    // AddRef, Release, Alloc, Realloc, Free.
    IMalloc *allocator = nullptr;
    ASSERT_EQ(S_OK, SHGetMalloc(&allocator));
    void *block = allocator->Alloc(8);
    using FreeEntry = void (*)(IMalloc *, void *);
    void **table = *reinterpret_cast<void ***>(allocator);
    reinterpret_cast<FreeEntry>(table[5])(allocator, block);
    EXPECT_EQ(1u, hostwin::CallCount("IMalloc.Free"));
    ASSERT_EQ(1u, hostwin::ShellAllocations().freed.size());
    EXPECT_EQ((uintptr_t)block, hostwin::ShellAllocations().freed[0]);
}

TEST_F(Shell, AFailedSHGetMallocGivesNoAllocator)
{
    hostwin::InjectFault(NextCallFails("SHGetMalloc", (uint32_t)E_OUTOFMEMORY));
    IMalloc *allocator = reinterpret_cast<IMalloc *>(1);
    EXPECT_EQ(E_OUTOFMEMORY, SHGetMalloc(&allocator));
    EXPECT_EQ(nullptr, allocator);
}

// --- special folders ---

struct FolderCase {
    int folder;
    HRESULT expectedResult;
    BOOL expectedFileSystem;
    const char *expectedPath;
};

TEST_F(Shell, SpecialFoldersAndTheirPaths)
{
    const FolderCase cases[] = {
        {CSIDL_PROGRAMS, S_OK, TRUE, "C:\\WINDOWS\\Start Menu\\Programs"},
        {CSIDL_STARTMENU, S_OK, TRUE, "C:\\WINDOWS\\Start Menu"},
        {CSIDL_DESKTOP, S_OK, TRUE, "C:\\WINDOWS\\Desktop"},
        {0x0011 /* CSIDL_DRIVES: My Computer */, S_OK, FALSE, ""},
        {0x0004 /* CSIDL_PRINTERS */, S_OK, FALSE, ""},
        {0x7777, E_INVALIDARG, FALSE, ""},
    };
    IMalloc *allocator = nullptr;
    ASSERT_EQ(S_OK, SHGetMalloc(&allocator));
    size_t liveBefore = hostwin::ShellAllocations().liveBlocks;
    for (const FolderCase &c : cases) {
        SCOPED_TRACE(c.folder);
        LPITEMIDLIST list = reinterpret_cast<LPITEMIDLIST>(1);
        EXPECT_EQ(c.expectedResult, SHGetSpecialFolderLocation(NULL, c.folder, &list));
        if (FAILED(c.expectedResult)) {
            EXPECT_EQ(nullptr, list);
            continue;
        }
        ASSERT_NE(nullptr, list);
        EXPECT_EQ(1, allocator->DidAlloc(list)) << "lists come from the shell allocator";
        CHAR path[MAX_PATH] = "junk";
        EXPECT_EQ(c.expectedFileSystem, SHGetPathFromIDListA(list, path));
        EXPECT_STREQ(c.expectedPath, path);
        allocator->Free(list);
    }
    EXPECT_EQ(liveBefore, hostwin::ShellAllocations().liveBlocks);
}

TEST_F(Shell, NoPathForAForeignOrMissingList)
{
    CHAR path[MAX_PATH] = "junk";
    EXPECT_FALSE(SHGetPathFromIDListA(NULL, path));
    const BYTE foreign[] = {6, 0, 'A', 'B', 'C', 'D', 0, 0};
    EXPECT_FALSE(SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(foreign), path));
    EXPECT_STREQ("", path);
}

// --- message boxes ---

class MessageBox : public Machine {};

struct DismissalCase {
    UINT style;
    int expectedAnswer;
};

TEST_F(MessageBox, WithoutAnswersABoxIsDismissed)
{
    const DismissalCase cases[] = {
        {MB_OK | MB_ICONEXCLAMATION, IDOK},
        {MB_OKCANCEL, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, IDNO},
        {MB_YESNOCANCEL, IDCANCEL},
        {MB_RETRYCANCEL, IDCANCEL},
        {MB_ABORTRETRYIGNORE, IDABORT},
    };
    for (const DismissalCase &c : cases) {
        SCOPED_TRACE(c.style);
        EXPECT_EQ(c.expectedAnswer, MessageBoxA(NULL, "text", "caption", c.style));
    }
}

TEST_F(MessageBox, QueuedAnswersAreUsedInTurnAndRecorded)
{
    hostwin::QueueMessageBoxAnswers({IDYES, IDNO, IDYES, IDCANCEL});
    HWND owner = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(IDYES, MessageBoxA(owner, "Are you sure ?", "Zarn-Hold Demo", MB_ICONQUESTION | MB_YESNO));
    EXPECT_EQ(IDNO, MessageBoxA(NULL, "Again ?", "Zarn-Hold Demo", MB_YESNO));
    // IDYES cannot come from an OK box: the box is dismissed instead, and the answer is used up.
    EXPECT_EQ(IDOK, MessageBoxA(NULL, "Run 'Install' to install this demo", NULL, MB_OK));
    EXPECT_EQ(IDCANCEL, MessageBoxA(NULL, "last", "c", MB_OKCANCEL));
    EXPECT_EQ(IDNO, MessageBoxA(NULL, "none left", "c", MB_YESNO));

    auto boxes = hostwin::MessageBoxes();
    ASSERT_EQ(5u, boxes.size());
    EXPECT_EQ(0x1234u, boxes[0].owner);
    EXPECT_EQ("Are you sure ?", boxes[0].text);
    EXPECT_EQ("Zarn-Hold Demo", boxes[0].caption);
    EXPECT_EQ(0x24u, boxes[0].style);
    EXPECT_EQ(IDYES, boxes[0].answer);
    EXPECT_EQ("Error", boxes[2].caption) << "a box without caption is titled Error";
    EXPECT_EQ(IDOK, boxes[2].answer);
}

TEST_F(MessageBox, EnvironmentAnswersComeAfterQueuedOnes)
{
    setenv("HOSTWIN_ANSWERS", "IDYES, 7,idno ,bogus,6", 1);
    hostwin::ResetControls();  // HOSTWIN_ANSWERS is read afresh from its first answer
    hostwin::QueueMessageBoxAnswers({IDNO});
    int answers[6];
    for (int &answer : answers)
        answer = MessageBoxA(NULL, "q", "c", MB_YESNO);
    unsetenv("HOSTWIN_ANSWERS");
    const int expected[6] = {IDNO, IDYES, IDNO, IDNO, IDNO /* bogus: dismissed */, IDYES};
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(expected[i], answers[i]) << "box " << i;
    EXPECT_EQ(IDNO, MessageBoxA(NULL, "q", "c", MB_YESNO)) << "all answers used: dismissed";
}

TEST_F(MessageBox, IsJournaled)
{
    NewJournal();
    hostwin::QueueMessageBoxAnswers({IDYES});
    MessageBoxA(NULL, "Line one\nline\ttwo", "Zarn-Hold Demo", MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ("MessageBoxA\tNULL\tLine one\\nline\\ttwo\tZarn-Hold Demo\t0x00000024\t=> 6\n",
              ReadText(journal));
}

TEST_F(MessageBox, APersonAtATerminalAnswersByLetter)
{
    int terminal = -1;
    pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(MessageBoxA(NULL, "Are you sure you want to remove it ?", "Zarn-Hold Demo", MB_YESNO));

    std::string shown;
    bool answered = false;
    for (int round = 0; round < 500 && !answered; round++) {
        pollfd ready = {terminal, POLLIN, 0};
        if (poll(&ready, 1, 20) <= 0)
            continue;
        char chunk[256];
        ssize_t got = read(terminal, chunk, sizeof(chunk));
        if (got <= 0)
            break;
        shown.append(chunk, (size_t)got);
        if (shown.find("> ") != std::string::npos) {
            ASSERT_EQ(4, write(terminal, "x\nn\n", 4)) << "an unknown letter asks again";
            answered = true;
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(terminal);
    EXPECT_TRUE(answered) << shown;
    EXPECT_NE(std::string::npos, shown.find("Zarn-Hold Demo")) << shown;
    EXPECT_NE(std::string::npos, shown.find("Are you sure you want to remove it ?")) << shown;
    EXPECT_NE(std::string::npos, shown.find("[Y]es")) << shown;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(IDNO, WEXITSTATUS(status));
}

// --- Explorer ---

class Explorer : public Machine {};

TEST_F(Explorer, ShowsTheGroupItIsOpenedOn)
{
    path tool = BuiltBeside("explorer");
    if (!fs::exists(tool))
        GTEST_SKIP() << "explorer is not built beside the tests";
    const std::string group = "C:\\WINDOWS\\Start Menu\\Programs\\Halvane";
    path folder = Host(group);
    fs::create_directories(folder);
    hostwin::detail::ShellLink game;
    game.target = "C:\\ZARN\\zarnhold.exe";
    game.description = "Zarn_Hold Demo";
    ASSERT_TRUE(hostwin::detail::WriteShellLink(folder / "Zarn-Hold Demo.pif", game));
    hostwin::detail::ShellLink readme;
    readme.target = "C:\\ZARN\\readme.txt";
    readme.description = "Readme for Zarn-Hold Demo";
    ASSERT_TRUE(hostwin::detail::WriteShellLink(folder / "Readme for Zarn-Hold Demo.lnk", readme));
    WriteText(folder / "notes.txt", "not a link");
    NewJournal();

    const std::string expected = "Explorer: " + group + "\n" +
                                 "notes.txt\n"
                                 "Readme for Zarn-Hold Demo.lnk\tC:\\ZARN\\readme.txt\tReadme for Zarn-Hold Demo\n"
                                 "Zarn-Hold Demo.pif\tC:\\ZARN\\zarnhold.exe\tZarn_Hold Demo\n";
    // As WinExec hands it over (unquoted, blanks and all) and as a shell would quote it.
    const std::string commandTails[] = {"'C:\\WINDOWS\\Start' 'Menu\\Programs\\Halvane'", Quoted(group)};
    for (const std::string &tail : commandTails) {
        SCOPED_TRACE(tail);
        auto shown = Output(Quoted(tool.string()) + " " + tail);
        ASSERT_TRUE(shown.has_value());
        EXPECT_EQ(expected, *shown);
    }
    EXPECT_EQ("Explorer\t" + group + "\t=> 3\nExplorer\t" + group + "\t=> 3\n", ReadText(journal));

    EXPECT_FALSE(Output(Quoted(tool.string()) + " 'C:\\no such folder' 2>/dev/null"));
}

}  // namespace
