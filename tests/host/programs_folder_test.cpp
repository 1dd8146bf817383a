// GetProgramsFolder against the machine's shell: the path, and the item-ID list freed exactly
// once through the shell allocator whatever the lookup's outcome.
#include "programs_folder.h"
#include "machine_fixture.h"

#include <cstring>
#include <functional>

namespace {

using namespace machinetest;

class ProgramsFolder : public Machine {};

struct LookupCase {
    const char *name;
    std::function<void(ProgramsFolder *)> arrange;
    BOOL expectedResult;
    unsigned expectedItemLists;  // lists the shell handed out
    unsigned expectedFrees;      // IMalloc.Free calls, each on the list handed out
};

TEST_F(ProgramsFolder, FreesTheListExactlyOnceWhateverTheOutcome)
{
    const LookupCase cases[] = {
        {"found", [](ProgramsFolder *) {}, TRUE, 1, 1},
        {"no shell allocator",
         [](ProgramsFolder *) { hostwin::InjectFault(NextCallFails("SHGetMalloc", (uint32_t)E_OUTOFMEMORY)); }, FALSE,
         0, 0},
        {"no location for the folder",
         [](ProgramsFolder *) { hostwin::InjectFault(NextCallFails("SHGetSpecialFolderLocation", (uint32_t)E_FAIL)); },
         FALSE, 0, 0},
        {"the folder is missing from the machine",
         [](ProgramsFolder *t) { fs::remove_all(t->Host("C:\\WINDOWS\\Start Menu\\Programs")); }, FALSE,
         0, 0},
        {"the location is no file-system folder",
         [](ProgramsFolder *) { hostwin::InjectFault(NextCallFails("SHGetPathFromIDListA")); }, FALSE, 1, 1},
    };
    for (const LookupCase &c : cases) {
        SCOPED_TRACE(c.name);
        hostwin::ResetControls();
        fs::create_directories(Host("C:\\WINDOWS\\Start Menu\\Programs"));
        size_t liveBefore = hostwin::ShellAllocations().liveBlocks;
        c.arrange(this);
        CHAR path[MAX_PATH];
        std::memset(path, 'x', sizeof(path));

        BOOL found = GetProgramsFolder(path);

        EXPECT_EQ(c.expectedResult, found);
        hostwin::ShellAllocatorRecord record = hostwin::ShellAllocations();
        EXPECT_EQ(c.expectedItemLists, record.itemLists.size());
        EXPECT_EQ(c.expectedFrees, hostwin::CallCount("IMalloc.Free"));
        EXPECT_EQ(record.itemLists, record.freed) << "every Free is of the list the shell handed out";
        EXPECT_EQ(liveBefore, record.liveBlocks) << "nothing of the shell allocator is left allocated";
        if (found) {
            EXPECT_STREQ("C:\\WINDOWS\\Start Menu\\Programs", path);
        }
    }
}

TEST_F(ProgramsFolder, EveryLookupStartsAfresh)
{
    CHAR path[MAX_PATH];
    for (unsigned lookup = 1; lookup <= 3; lookup++) {
        ASSERT_TRUE(GetProgramsFolder(path));
        EXPECT_EQ(lookup, hostwin::CallCount("SHGetMalloc"));
        EXPECT_EQ(lookup, hostwin::CallCount("SHGetSpecialFolderLocation"));
        EXPECT_EQ(lookup, hostwin::CallCount("IMalloc.Free"));
    }
    EXPECT_NE(nullptr, shellAllocator);
    hostwin::ShellAllocatorRecord record = hostwin::ShellAllocations();
    EXPECT_EQ(3u, record.itemLists.size());
    EXPECT_EQ(record.itemLists, record.freed);
}

}  // namespace
