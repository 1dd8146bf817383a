// The rest of kernel32: version and platform, code pages and conversion, memory, the module, the
// last error and environment texts.
#include "machine_fixture.h"

#include "internal.h"

#include <cstring>
#include <thread>

namespace {

using namespace machinetest;

class Kernel : public Machine {};

OSVERSIONINFOA Version(BOOL *result)
{
    OSVERSIONINFOA info;
    memset(&info, 0xCC, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    *result = GetVersionExA(&info);
    return info;
}

TEST_F(Kernel, VersionOfEachPlatform)
{
    ASSERT_EQ(sizeof(OSVERSIONINFOA), 148u);
    struct {
        hostwin::Platform platform;
        DWORD major, minor, build, id;
    } cases[] = {
        {hostwin::Platform::Windows95, 4, 0, 0x040003B6, VER_PLATFORM_WIN32_WINDOWS},  // 4.00.950
        {hostwin::Platform::WindowsNT, 4, 0, 1381, VER_PLATFORM_WIN32_NT},
        {hostwin::Platform::Win32s, 3, 10, 0, VER_PLATFORM_WIN32s},
    };
    for (const auto &c : cases) {
        hostwin::SetPlatform(c.platform);
        BOOL result;
        OSVERSIONINFOA info = Version(&result);
        EXPECT_TRUE(result);
        EXPECT_EQ(info.dwMajorVersion, c.major);
        EXPECT_EQ(info.dwMinorVersion, c.minor);
        EXPECT_EQ(info.dwBuildNumber, c.build);
        EXPECT_EQ(info.dwPlatformId, c.id);
        EXPECT_STREQ(info.szCSDVersion, "");
    }
    hostwin::SetPlatform(hostwin::Platform::Failing);
    BOOL result;
    Version(&result);
    EXPECT_FALSE(result);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CALL_NOT_IMPLEMENTED);

    // The structure's size must be the one Windows 95 knows.
    hostwin::SetPlatform(hostwin::Platform::Windows95);
    OSVERSIONINFOA info;
    info.dwOSVersionInfoSize = 156;
    EXPECT_FALSE(GetVersionExA(&info));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(Kernel, PlatformAndCodePageComeFromControlThenEnvironmentThenMachine)
{
    BOOL result;
    EXPECT_EQ(Version(&result).dwPlatformId, (DWORD)VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_EQ(GetACP(), 1252u);
    WriteText(machine / "hostwin.ini", "[Machine]\r\nPlatform=nt\r\nCodePage=932\r\n");
    EXPECT_EQ(Version(&result).dwPlatformId, (DWORD)VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(GetACP(), 932u);
    setenv("HOSTWIN_PLATFORM", "win32s", 1);
    setenv("HOSTWIN_ACP", "1252", 1);
    EXPECT_EQ(Version(&result).dwPlatformId, (DWORD)VER_PLATFORM_WIN32s);
    EXPECT_EQ(GetACP(), 1252u);
    hostwin::SetPlatform(hostwin::Platform::Windows95);
    hostwin::SetCodePage(932);
    EXPECT_EQ(Version(&result).dwPlatformId, (DWORD)VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_EQ(GetACP(), 932u);
    unsetenv("HOSTWIN_PLATFORM");
    unsetenv("HOSTWIN_ACP");
    hostwin::ResetControls();
    EXPECT_EQ(Version(&result).dwPlatformId, (DWORD)VER_PLATFORM_WIN32_NT);
}

TEST_F(Kernel, LeadBytesOfTheCodePage)
{
    hostwin::SetCodePage(1252);
    for (int b = 0; b < 256; b++)
        EXPECT_FALSE(IsDBCSLeadByte((BYTE)b)) << b;
    hostwin::SetCodePage(932);
    struct {
        BYTE byte;
        BOOL lead;
    } cases[] = {{0x40, FALSE}, {0x80, FALSE}, {0x81, TRUE}, {0x82, TRUE}, {0x9F, TRUE}, {0xA0, FALSE},
                 {0xA1, FALSE}, {0xDF, FALSE}, {0xE0, TRUE}, {0xFC, TRUE}, {0xFD, FALSE}, {0xFF, FALSE}};
    for (const auto &c : cases)
        EXPECT_EQ(IsDBCSLeadByte(c.byte), c.lead) << std::hex << (int)c.byte;
}

std::u16string Convert(UINT codePage, const std::string &text, int length, DWORD flags = 0)
{
    WCHAR buffer[64];
    int count = MultiByteToWideChar(codePage, flags, text.c_str(), length, buffer, 64);
    return std::u16string(buffer, count > 0 ? count : 0);
}

TEST_F(Kernel, MultiByteToWideCharTables)
{
    hostwin::SetCodePage(1252);
    struct {
        UINT codePage;
        std::string text;
        std::u16string wide;
    } cases[] = {
        {CP_ACP, "Zarn-Hold", u"Zarn-Hold"},
        {1252, "\x80\x81\x82\x83\x8a\x8d\x8e\x8f\x90\x91\x92\x99\x9d\x9e\x9f",
         u"\u20ac\u0081\u201a\u0192\u0160\u008d\u017d\u008f\u0090\u2018\u2019\u2122\u009d\u017e\u0178"},
        {1252, "\xa0\xe9\xff", u"\u00a0\u00e9\u00ff"},
        {932, "a\xb1\xdf", u"a\uff71\uff9f"},                 // half-width katakana
        {932, "\x82\xa0\x83\x41\x82\x60", u"\u3042\u30a2\uff21"},  // hiragana, katakana, full-width A
        {932, "\x81\x40", u"\u3000"},
        {932, "\x82" "\"", u"\u30fb\""},                      // a quote is no trail byte
    };
    for (const auto &c : cases)
        EXPECT_EQ(Convert(c.codePage, c.text, (int)c.text.size()), c.wide) << c.text;
}

TEST_F(Kernel, MultiByteToWideCharLengthsAndErrors)
{
    const char *path = "C:\\WINDOWS\\Start Menu\\Programs\\Halvane\\Zarn-Hold Demo.pif";
    int length = (int)strlen(path);
    // -1 converts the terminating NUL too and counts it.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0), length + 1);
    WCHAR wide[MAX_PATH];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH), length + 1);
    EXPECT_EQ(wide[length], 0);
    EXPECT_EQ(wide[0], u'C');
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, path, length, wide, MAX_PATH), length);

    struct {
        UINT codePage;
        DWORD flags;
        const char *text;
        int length;
        int room;
        DWORD error;
    } failures[] = {
        {CP_ACP, 0, path, -1, length, ERROR_INSUFFICIENT_BUFFER},  // no room for the NUL
        {CP_ACP, 0, path, 0, MAX_PATH, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, nullptr, -1, MAX_PATH, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0, path, -2, MAX_PATH, ERROR_INVALID_PARAMETER},
        {12345, 0, path, -1, MAX_PATH, ERROR_INVALID_PARAMETER},
        {CP_ACP, 0x100, path, -1, MAX_PATH, 1004},  // ERROR_INVALID_FLAGS
        {932, MB_ERR_INVALID_CHARS, "ab\x82", 3, MAX_PATH, ERROR_NO_UNICODE_TRANSLATION},
    };
    for (const auto &f : failures) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(f.codePage, f.flags, f.text, f.length, wide, f.room), 0) << f.error;
        EXPECT_EQ(GetLastError(), f.error);
    }
}

TEST_F(Kernel, MemoryIsFixedAndZeroFilledOnRequest)
{
    unsigned live = hostwin::LiveMemoryBlocks();
    unsigned char *global = (unsigned char *)GlobalAlloc(GMEM_ZEROINIT, 1064);
    unsigned char *local = (unsigned char *)LocalAlloc(LPTR, 1032);
    ASSERT_NE(global, nullptr);
    ASSERT_NE(local, nullptr);
    for (int i = 0; i < 1064; i++)
        ASSERT_EQ(global[i], 0) << i;
    for (int i = 0; i < 1032; i++)
        ASSERT_EQ(local[i], 0) << i;
    EXPECT_EQ(hostwin::LiveMemoryBlocks(), live + 2);
    EXPECT_EQ(GlobalFree(global), nullptr);
    EXPECT_EQ(LocalFree(local), nullptr);
    EXPECT_EQ(hostwin::LiveMemoryBlocks(), live);
    // Freeing what is not a block fails and hands it back.
    int notABlock;
    EXPECT_EQ(GlobalFree(&notABlock), (HGLOBAL)&notABlock);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    // Moveable memory needs the lock calls the programs do not use.
    EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, 16), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST_F(Kernel, ModuleOfTheProgram)
{
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(GetModuleHandleA("nosuch.dll"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
    // The test program lies outside the machine: it has no Windows file name.
    char name[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(nullptr, name, sizeof name), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
}

TEST_F(Kernel, LastErrorBelongsToEachThread)
{
    SetLastError(80);
    DWORD other = 0;
    std::thread([&] {
        SetLastError(5);
        other = GetLastError();
    }).join();
    EXPECT_EQ(other, 5u);
    EXPECT_EQ(GetLastError(), 80u);
}

TEST_F(Kernel, EnvironmentTextsAndStrings)
{
    setenv("PROBE_THING", "value", 1);
    char buffer[16];
    EXPECT_EQ(GetEnvironmentVariableA("PROBE_THING", buffer, sizeof buffer), 5u);
    EXPECT_STREQ(buffer, "value");
    EXPECT_EQ(GetEnvironmentVariableA("PROBE_THING", buffer, 5), 6u);  // the size needed
    unsetenv("PROBE_THING");
    EXPECT_EQ(GetEnvironmentVariableA("PROBE_THING", buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ENVVAR_NOT_FOUND);

    char text[32];
    lstrcpyA(text, "Zarn");
    lstrcatA(text, "-Hold");
    EXPECT_STREQ(text, "Zarn-Hold");
    EXPECT_EQ(lstrlenA(text), 9);
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrcmpiA("ZARN", "zarn"), 0);
    EXPECT_LT(lstrcmpiA("a", "B"), 0);
}

}  // namespace
