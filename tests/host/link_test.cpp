// The shell's link object: COM creation and reference counting, link files saved through
// IPersistFile and read back by the machine, by lnkinfo and by lnkdump, and the reader's refusals.
#include "machine_fixture.h"

#include "internal.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using namespace machinetest;
using fs::path;

class Link : public Machine {
protected:
    void SetUp() override
    {
        Machine::SetUp();
        ASSERT_EQ(S_OK, CoInitialize(NULL));
    }
};

// The program's way to a link file: every property set, then saved under a UTF-16 name.
HRESULT CreateLink(const char *target, const char *file, const char *description, const char *icon,
                   const char *arguments)
{
    IShellLinkA *link = nullptr;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link);
    if (FAILED(result))
        return result;
    link->SetPath(target);
    link->SetDescription(description);
    if (icon != nullptr)
        link->SetIconLocation(icon, 0);
    if (arguments != nullptr)
        link->SetArguments(arguments);
    IPersistFile *persist = nullptr;
    result = link->QueryInterface(IID_IPersistFile, (void **)&persist);
    if (SUCCEEDED(result)) {
        WCHAR name[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, file, -1, name, MAX_PATH);
        result = persist->Save(name, TRUE);
        persist->Release();
    }
    link->Release();
    return result;
}

// --- COM ---

TEST_F(Link, CoInitializeSaysWhenItWasAlreadyDone)
{
    EXPECT_EQ(S_FALSE, CoInitialize(NULL));
    hostwin::ResetControls();
    EXPECT_EQ(S_OK, CoInitialize(NULL));
}

struct CreationCase {
    const char *name;
    bool initialised;
    const CLSID *classId;
    bool outer;
    const IID *interfaceId;
    HRESULT expected;
};

TEST_F(Link, CoCreateInstanceResults)
{
    const CLSID otherClass = {0x12345678, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    const CreationCase cases[] = {
        {"link as IShellLinkA", true, &CLSID_ShellLink, false, &IID_IShellLinkA, S_OK},
        {"link as IUnknown", true, &CLSID_ShellLink, false, &IID_IUnknown, S_OK},
        {"link as IPersistFile", true, &CLSID_ShellLink, false, &IID_IPersistFile, S_OK},
        {"link as IMalloc", true, &CLSID_ShellLink, false, &IID_IMalloc, E_NOINTERFACE},
        {"COM not initialised", false, &CLSID_ShellLink, false, &IID_IShellLinkA, CO_E_NOTINITIALIZED},
        {"aggregated", true, &CLSID_ShellLink, true, &IID_IUnknown, CLASS_E_NOAGGREGATION},
        {"unknown class", true, &otherClass, false, &IID_IUnknown, REGDB_E_CLASSNOTREG},
    };
    for (const CreationCase &c : cases) {
        SCOPED_TRACE(c.name);
        hostwin::ResetControls();
        IUnknown *outer = nullptr;
        if (c.outer) {
            CoInitialize(NULL);
            ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                             (void **)&outer));
            hostwin::ResetControls();
        }
        if (c.initialised)
            CoInitialize(NULL);
        void *object = reinterpret_cast<void *>(1);
        EXPECT_EQ(c.expected, CoCreateInstance(*c.classId, outer, CLSCTX_INPROC_SERVER, *c.interfaceId, &object));
        EXPECT_EQ(SUCCEEDED(c.expected), object != nullptr);
        if (object != nullptr)
            static_cast<IUnknown *>(object)->Release();
        if (outer != nullptr)
            outer->Release();
        EXPECT_EQ(0, hostwin::LiveComObjects());
    }
}

TEST_F(Link, BothInterfacesShareOneReferenceCount)
{
    IShellLinkA *link = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link));
    EXPECT_EQ(1, hostwin::LiveComObjects());
    IPersistFile *persist = nullptr;
    ASSERT_EQ(S_OK, link->QueryInterface(IID_IPersistFile, (void **)&persist));
    EXPECT_NE(static_cast<void *>(link), static_cast<void *>(persist));
    EXPECT_EQ(3u, persist->AddRef());
    EXPECT_EQ(2u, link->Release());

    IUnknown *fromLink = nullptr, *fromPersist = nullptr;
    ASSERT_EQ(S_OK, link->QueryInterface(IID_IUnknown, (void **)&fromLink));
    ASSERT_EQ(S_OK, persist->QueryInterface(IID_IUnknown, (void **)&fromPersist));
    EXPECT_EQ(fromLink, fromPersist) << "one identity whichever interface is asked";
    EXPECT_EQ(3u, fromLink->Release());
    EXPECT_EQ(2u, fromPersist->Release());
    EXPECT_EQ(1u, persist->Release());
    EXPECT_EQ(1, hostwin::LiveComObjects()) << "the link pointer still holds the object";
    EXPECT_EQ(0u, link->Release());
    EXPECT_EQ(0, hostwin::LiveComObjects());
    // IUnknown is the IShellLinkA pointer, so its releases count there.
    EXPECT_EQ(4u, hostwin::CallCount("IShellLinkA.Release"));
    EXPECT_EQ(1u, hostwin::CallCount("IPersistFile.Release"));
}

TEST_F(Link, AFailedQueryInterfaceGivesNothingAndLeaksNothing)
{
    hostwin::InjectFault(NextCallFails("IShellLinkA.QueryInterface", (uint32_t)E_NOINTERFACE));
    EXPECT_EQ(E_NOINTERFACE, CreateLink("C:\\x.exe", "C:\\x.lnk", "x", nullptr, nullptr));
    EXPECT_EQ(0, hostwin::LiveComObjects());
    EXPECT_FALSE(fs::exists(Host("C:\\x.lnk")));
}

// --- link files ---

struct LinkCase {
    const char *name;
    const char *target;
    const char *file;
    const char *description;
    const char *icon;       // NULL: not set
    const char *arguments;  // NULL: not set
};

const LinkCase linkCases[] = {
    {"game entry, a .pif name", "C:\\ZARN\\zarnhold.exe", "C:\\WINDOWS\\Start Menu\\Programs\\Halvane\\Zarn-Hold Demo.pif",
     "Zarn_Hold Demo", "C:\\ZARN\\icons\\zh5.ico", nullptr},
    {"readme without icon or arguments", "C:\\ZARN\\readme.txt",
     "C:\\WINDOWS\\Start Menu\\Programs\\Halvane\\Readme for Zarn-Hold Demo.lnk", "Readme for Zarn-Hold Demo", nullptr,
     nullptr},
    {"blanks everywhere", "C:\\WINDOWS\\SYSTEM\\zh5ddins.exe",
     "C:\\WINDOWS\\Start Menu\\Programs\\Halvane\\Uninstaller for Zarn-Hold Demo.lnk",
     "Uninstaller for Zarn-Hold Demo", "C:\\Program Files\\Zarn Hold\\icons\\zh5unins.ico",
     "C:\\Program Files\\Zarn Hold"},
    {"high bytes of code page 1252", "C:\\Spiele\\Zarn\xE9 D\xE9mo\\zarnhold.exe",
     "C:\\WINDOWS\\Start Menu\\Programs\\Halvane\\D\xE9mo \x80 \xFF.lnk", "Zarn D\xE9mo \x93quoted\x94",
     "C:\\Spiele\\Zarn\xE9 D\xE9mo\\icons\\zh5.ico", "C:\\Spiele\\Zarn\xE9 D\xE9mo"},
    {"installed at a drive's root", "C:\\\\zarnhold.exe", "C:\\root entry.lnk", "Zarn_Hold Demo", "C:\\\\icons\\zh5.ico",
     "C:\\"},
};

TEST_F(Link, SavedLinksReadBackWithEveryProperty)
{
    fs::create_directories(Host("C:\\WINDOWS\\Start Menu\\Programs\\Halvane"));
    for (const LinkCase &c : linkCases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(S_OK, CreateLink(c.target, c.file, c.description, c.icon, c.arguments));
        path file = Host(c.file);
        ASSERT_TRUE(fs::is_regular_file(file));

        auto read = hostwin::detail::ReadShellLink(file);
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(c.target, read->target);
        EXPECT_EQ(c.description, read->description);
        EXPECT_EQ(c.icon ? c.icon : "", read->iconLocation);
        EXPECT_EQ(0, read->iconIndex);
        EXPECT_EQ(c.arguments ? c.arguments : "", read->arguments);
        EXPECT_EQ("", read->workingDirectory);

        // The object loads its own file back too.
        IShellLinkA *link = nullptr;
        IPersistFile *persist = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IPersistFile,
                                         (void **)&persist));
        WCHAR name[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, c.file, -1, name, MAX_PATH);
        EXPECT_EQ(S_OK, persist->Load(name, 0));
        LPWSTR current = nullptr;
        ASSERT_EQ(S_OK, persist->GetCurFile(&current));
        EXPECT_EQ(std::u16string(name), std::u16string(current)) << "the loaded name, back in UTF-16";
        IMalloc *allocator = nullptr;
        ASSERT_EQ(S_OK, SHGetMalloc(&allocator));
        allocator->Free(current);
        ASSERT_EQ(S_OK, persist->QueryInterface(IID_IShellLinkA, (void **)&link));
        CHAR text[MAX_PATH];
        int icon = -1;
        EXPECT_EQ(S_OK, link->GetPath(text, MAX_PATH, nullptr, 0));
        EXPECT_STREQ(c.target, text);
        EXPECT_EQ(S_OK, link->GetDescription(text, MAX_PATH));
        EXPECT_STREQ(c.description, text);
        EXPECT_EQ(S_OK, link->GetIconLocation(text, MAX_PATH, &icon));
        EXPECT_STREQ(c.icon ? c.icon : "", text);
        EXPECT_EQ(0, icon);
        EXPECT_EQ(S_OK, link->GetArguments(text, MAX_PATH));
        EXPECT_STREQ(c.arguments ? c.arguments : "", text);
        link->Release();
        persist->Release();
    }
    EXPECT_EQ(0, hostwin::LiveComObjects());
}

TEST_F(Link, LnkinfoReadsTheSavedLinks)
{
    if (!Output("lnkinfo -V >/dev/null 2>&1"))
        GTEST_SKIP() << "lnkinfo is not installed";
    fs::create_directories(Host("C:\\WINDOWS\\Start Menu\\Programs\\Halvane"));
    for (const LinkCase &c : linkCases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(S_OK, CreateLink(c.target, c.file, c.description, c.icon, c.arguments));
        auto shown = Output("lnkinfo -c windows-1252 " + Quoted(Host(c.file).string()) + " | iconv -f UTF-8 -t CP1252");
        ASSERT_TRUE(shown.has_value());
        EXPECT_NE(std::string::npos, shown->find("Local path\t\t\t: " + std::string(c.target) + "\n")) << *shown;
        EXPECT_NE(std::string::npos, shown->find("Description\t\t\t: " + std::string(c.description) + "\n"))
            << *shown;
        EXPECT_NE(std::string::npos, shown->find("Drive type\t\t\t: Fixed")) << *shown;
        if (c.icon != nullptr)
            EXPECT_NE(std::string::npos, shown->find("Icon location\t\t\t: " + std::string(c.icon) + "\n")) << *shown;
        else
            EXPECT_EQ(std::string::npos, shown->find("Icon location")) << *shown;
        if (c.arguments != nullptr)
            EXPECT_NE(std::string::npos,
                      shown->find("Command line arguments\t\t: " + std::string(c.arguments) + "\n"))
                << *shown;
        else
            EXPECT_EQ(std::string::npos, shown->find("Command line arguments")) << *shown;
    }
}

TEST_F(Link, LnkdumpPrintsOneLinePerProperty)
{
    path tool = BuiltBeside("lnkdump");
    if (!fs::exists(tool))
        GTEST_SKIP() << "lnkdump is not built beside the tests";
    const LinkCase &c = linkCases[2];
    fs::create_directories(Host("C:\\WINDOWS\\Start Menu\\Programs\\Halvane"));
    ASSERT_EQ(S_OK, CreateLink(c.target, c.file, c.description, c.icon, c.arguments));
    auto shown = Output(Quoted(tool.string()) + " " + Quoted(Host(c.file).string()));
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(std::string("target: ") + c.target + "\ndescription: " + c.description + "\narguments: " +
                  c.arguments + "\nicon location: " + c.icon + "\nicon index: 0\nworking directory: \n",
              *shown);
    EXPECT_FALSE(Output(Quoted(tool.string()) + " /etc/hostname 2>/dev/null")) << "not a link: fails";
}

TEST_F(Link, TheFileFollowsTheBinaryFormat)
{
    ASSERT_EQ(S_OK, CreateLink("C:\\ZARN\\zarnhold.exe", "C:\\a.lnk", "Zarn_Hold Demo", "C:\\ZARN\\zh5.ico", nullptr));
    std::string bytes = ReadText(Host("C:\\a.lnk"));
    auto u32 = [&](size_t at) {
        uint32_t value = 0;
        std::memcpy(&value, bytes.data() + at, 4);
        return value;
    };
    ASSERT_GE(bytes.size(), 0x4Cu + 0x1Cu);
    EXPECT_EQ(0x4Cu, u32(0));
    const unsigned char linkClass[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    EXPECT_EQ(0, std::memcmp(bytes.data() + 4, linkClass, 16));
    EXPECT_EQ(0x02u | 0x04u | 0x40u, u32(0x14)) << "LinkInfo, name and icon location; ANSI strings, no ID list";
    EXPECT_EQ((uint32_t)SW_SHOWNORMAL, u32(0x3C));
    EXPECT_EQ(0u, u32(0x40) & 0xFFFF) << "no hotkey";
    EXPECT_EQ(0x1Cu, u32(0x4C + 4)) << "LinkInfo header without the Unicode offsets";
    EXPECT_EQ(1u, u32(0x4C + 8)) << "VolumeIDAndLocalBasePath";
    EXPECT_EQ(bytes.size() - 4, bytes.rfind(std::string(4, '\0'))) << "ends in the terminal block";
}

struct SaveFailureCase {
    const char *name;
    const char *file;
    HRESULT expected;
};

TEST_F(Link, SaveFailuresAreWin32Errors)
{
    fs::create_directories(Host("C:\\folder.lnk"));
    WriteText(Host("C:\\readonly.lnk"), "old");
    fs::permissions(Host("C:\\readonly.lnk"), fs::perms::owner_read | fs::perms::group_read);
    const SaveFailureCase cases[] = {
        {"missing folder", "C:\\no such folder\\x.lnk", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"unknown drive", "Q:\\x.lnk", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)},
        {"a folder of that name", "C:\\folder.lnk", HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
        {"a read-only file", "C:\\readonly.lnk", HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
    };
    for (const SaveFailureCase &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, CreateLink("C:\\x.exe", c.file, "x", nullptr, nullptr));
    }
    EXPECT_EQ("old", ReadText(Host("C:\\readonly.lnk")));
    EXPECT_EQ(0, hostwin::LiveComObjects());
}

TEST_F(Link, SaveNeverWritesOutsideTheMachine)
{
    fs::create_symlink(outside, Host("C:\\out"));
    const char *escapes[] = {"C:\\..\\..\\..\\..\\..\\..\\escape.lnk", "\\\\server\\share\\escape.lnk",
                             "C:\\out\\escape.lnk", "/escape.lnk"};
    for (const char *file : escapes) {
        SCOPED_TRACE(file);
        CreateLink("C:\\x.exe", file, "x", nullptr, nullptr);
    }
    // Whatever the machine made of the names, it stayed inside: C:\\escape.lnk at most.
    EXPECT_TRUE(fs::is_empty(outside));
    for (const path &place : {temp / "escape.lnk", temp.parent_path() / "escape.lnk", path("/escape.lnk")})
        EXPECT_FALSE(fs::exists(place)) << place;
}

TEST_F(Link, AFaultedSaveReportsItsError)
{
    hostwin::InjectFault(NextCallFails("IPersistFile.Save", (uint32_t)STG_E_ACCESSDENIED));
    EXPECT_EQ(STG_E_ACCESSDENIED, CreateLink("C:\\x.exe", "C:\\x.lnk", "x", nullptr, nullptr));
    EXPECT_FALSE(fs::exists(Host("C:\\x.lnk")));
    EXPECT_EQ(0, hostwin::LiveComObjects());
}

TEST_F(Link, SaveIsJournaled)
{
    NewJournal();
    CreateLink("C:\\x.exe", "C:\\x.lnk", "x", nullptr, nullptr);
    CreateLink("C:\\x.exe", "C:\\missing\\x.lnk", "x", nullptr, nullptr);
    EXPECT_EQ("IPersistFile.Save\tC:\\x.lnk\tTRUE\t=> 0x00000000\n"
              "IPersistFile.Save\tC:\\missing\\x.lnk\tTRUE\t=> 0x80070003\n",
              ReadText(journal));
}

// --- the reader's refusals ---

TEST_F(Link, TheReaderRefusesAnythingButAWholeLink)
{
    ASSERT_EQ(S_OK, CreateLink("C:\\Program Files\\Zarn\\zarnhold.exe", "C:\\good.lnk", "Zarn_Hold Demo",
                               "C:\\Program Files\\Zarn\\zh5.ico", "C:\\Program Files\\Zarn"));
    std::string good = ReadText(Host("C:\\good.lnk"));
    path probe = temp / "probe.lnk";

    // Every cut short of the whole file is refused, and never read past its end.
    for (size_t length = 0; length < good.size(); length++) {
        WriteText(probe, good.substr(0, length));
        EXPECT_FALSE(hostwin::detail::ReadShellLink(probe).has_value()) << "cut at " << length;
    }

    struct Damage {
        const char *name;
        size_t at;
        char byte;
    } damages[] = {
        {"header size", 0, 0x4D},
        {"class id", 4, 0x02},
        {"LinkInfo size past the end", 0x4C + 1, 0x7F},
        {"local base path offset past LinkInfo", 0x4C + 16, 0x7F},
        {"description count past the end", 0, 0},  // filled in below
    };
    // The description's count follows the LinkInfo.
    uint32_t linkInfoSize = 0;
    std::memcpy(&linkInfoSize, good.data() + 0x4C, 4);
    damages[4].at = 0x4C + linkInfoSize + 1;
    damages[4].byte = 0x7F;
    for (const Damage &damage : damages) {
        SCOPED_TRACE(damage.name);
        std::string bad = good;
        bad[damage.at] = damage.byte;
        WriteText(probe, bad);
        EXPECT_FALSE(hostwin::detail::ReadShellLink(probe).has_value());
    }

    // Extra data blocks before the terminal block are allowed; a block that runs past the end is not.
    std::string extended = good.substr(0, good.size() - 4) + std::string("\x0C\0\0\0\x02\0\0\xA0xxxx", 12) +
                           std::string(4, '\0');
    WriteText(probe, extended);
    EXPECT_TRUE(hostwin::detail::ReadShellLink(probe).has_value());
    std::string overlong = good.substr(0, good.size() - 4) + std::string("\x40\0\0\0\x02\0\0\xA0xxxx", 12) +
                           std::string(4, '\0');
    WriteText(probe, overlong);
    EXPECT_FALSE(hostwin::detail::ReadShellLink(probe).has_value());
    EXPECT_FALSE(hostwin::detail::ReadShellLink(temp / "no such file").has_value());
}

}  // namespace
