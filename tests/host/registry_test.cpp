// The machine's registry: the Reg* calls, the REGEDIT4 file behind them, and several processes
// sharing it (through the regtool host tool, built beside this test).
#include "machine_fixture.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <functional>

extern char **environ;

namespace {

using namespace machinetest;

std::string Bytes(const char *text, size_t size) { return std::string(text, size); }

class Registry : public Machine {
protected:
    fs::path RegistryFile() const { return machine / "registry.reg"; }

    // Creates (or opens) a key below HKEY_LOCAL_MACHINE and hands back its handle.
    HKEY Create(HKEY parent, const char *subKey, DWORD *disposition = nullptr)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                  &key, disposition),
                  ERROR_SUCCESS)
            << subKey;
        return key;
    }
    LONG SetString(HKEY key, const char *name, const std::string &text)
    {
        return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                              DWORD(text.size() + 1));
    }
    LONG SetDword(HKEY key, const char *name, DWORD value)
    {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value), 4);
    }
    // The value's type and bytes as RegQueryValueExA gives them, or the error as the type.
    std::pair<LONG, std::string> Query(HKEY key, const char *name, DWORD *type = nullptr)
    {
        DWORD size = 0;
        LONG error = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
        if (error != ERROR_SUCCESS)
            return {error, ""};
        std::string data(size, '\0');
        error = RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<BYTE *>(&data[0]), &size);
        data.resize(size);
        return {error, data};
    }

    // regtool, started with this test's machine; its stdout is collected in *output when given.
    pid_t StartTool(const std::vector<std::string> &args, const std::vector<std::string> &extraEnvironment,
                    int *output)
    {
        fs::path tool = BuiltBeside("regtool");
        if (!fs::exists(tool)) {
            ADD_FAILURE() << "regtool is not built: " << tool;
            return -1;
        }
        std::vector<std::string> argStrings = {tool.string()};
        argStrings.insert(argStrings.end(), args.begin(), args.end());
        std::vector<std::string> envStrings;
        for (char **e = environ; *e; e++)
            if (std::strncmp(*e, "HOSTWIN_", 8) != 0)
                envStrings.push_back(*e);
        envStrings.push_back("HOSTWIN_ROOT=" + machine.string());
        envStrings.insert(envStrings.end(), extraEnvironment.begin(), extraEnvironment.end());
        std::vector<char *> argv, envp;
        for (auto &s : argStrings)
            argv.push_back(&s[0]);
        argv.push_back(nullptr);
        for (auto &s : envStrings)
            envp.push_back(&s[0]);
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int pipeFds[2] = {-1, -1};
        if (output) {
            EXPECT_EQ(pipe(pipeFds), 0);
            posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
            posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
            posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
        }
        pid_t pid = -1;
        int error = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(error, 0) << std::strerror(error);
        if (output) {
            close(pipeFds[1]);
            *output = pipeFds[0];
        }
        return error ? -1 : pid;
    }
    static int Wait(pid_t pid)
    {
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid)
            return -1000;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
    }
    struct ToolRun {
        int exitCode;
        std::string output;
    };
    ToolRun RunTool(const std::vector<std::string> &args, const std::vector<std::string> &extraEnvironment = {})
    {
        int fd = -1;
        pid_t pid = StartTool(args, extraEnvironment, &fd);
        std::string output;
        char buffer[4096];
        ssize_t n;
        while (fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0)
            output.append(buffer, size_t(n));
        if (fd >= 0)
            close(fd);
        return {Wait(pid), output};
    }
};

const char UNINSTALL_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zarn-Hold Demo";

TEST_F(Registry, ValueWrittenByOneProcessIsReadByAnother)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    ASSERT_EQ(SetString(key, "UninstallString", "C:\\WINDOWS\\SYSTEM\\zh5ddins.exe C:\\Zarn Hold"), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    auto got = RunTool({"get", std::string("HKEY_LOCAL_MACHINE\\") + UNINSTALL_KEY, "UninstallString"});
    EXPECT_EQ(got.exitCode, 0);
    EXPECT_EQ(got.output, "C:\\WINDOWS\\SYSTEM\\zh5ddins.exe C:\\Zarn Hold\n");

    ASSERT_EQ(RunTool({"dword", "HKLM\\Software\\Halvane\\ZARN5DEMO", "Installed Version", "7"}).exitCode, 0);
    EXPECT_EQ(hostwin::RegistryDword("HKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO", "Installed Version"), 7u);
    HKEY demo = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvane\\ZARN5DEMO", 0, KEY_ALL_ACCESS, &demo),
              ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(Query(demo, "Installed Version", &type), std::make_pair(LONG(ERROR_SUCCESS), Bytes("\7\0\0\0", 4)));
    EXPECT_EQ(type, DWORD(REG_DWORD));

    // Deleted by the other process while this one holds it open.
    ASSERT_EQ(RunTool({"delete", "HKLM\\Software\\Halvane\\ZARN5DEMO"}).exitCode, 0);
    EXPECT_EQ(Query(demo, "Installed Version").first, ERROR_KEY_DELETED);
    EXPECT_FALSE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO"));
    EXPECT_TRUE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Halvane"));
    EXPECT_EQ(RunTool({"exists", "HKLM\\Software\\Halvane\\ZARN5DEMO"}).exitCode, 1);
    RegCloseKey(demo);
}

TEST_F(Registry, NamesAreCaseInsensitiveAndKeepTheirFirstCase)
{
    DWORD disposition = 0;
    HKEY first = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\ZARN5DEMO", &disposition);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    HKEY second = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\halvane\\zarn5demo", &disposition);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));

    ASSERT_EQ(SetDword(first, "Installed Version", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(second, "INSTALLED VERSION", 2), ERROR_SUCCESS);
    EXPECT_EQ(Query(first, "installed version"), std::make_pair(LONG(ERROR_SUCCESS), Bytes("\2\0\0\0", 4)));
    EXPECT_EQ(hostwin::RegistryDword("hkey_local_machine\\software\\HALVANE\\Zarn5Demo", "iNSTALLED vERSION"), 2u);

    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\HALVANE", 0, KEY_ALL_ACCESS, &opened), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(opened, "Zarn5Demo"), ERROR_SUCCESS);
    EXPECT_FALSE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO"));
    // "SOFTWARE" is as a fresh Windows 95 machine spells it; "Halvane" as first written.
    std::string text = ReadText(RegistryFile());
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvane]\r\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("halvane"), std::string::npos) << text;

    for (HKEY key : {first, second, opened})
        RegCloseKey(key);
}

TEST_F(Registry, TwoProcessesWritingAtOnceBothLand)
{
    const int rounds = 200;
    const std::string key = "HKEY_LOCAL_MACHINE\\Software\\Halvane\\Race";
    HKEY probe = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\Race");
    ASSERT_EQ(SetString(probe, "Steady", "unchanged"), ERROR_SUCCESS);

    pid_t a = StartTool({"fill", key, "a", std::to_string(rounds)}, {}, nullptr);
    pid_t b = StartTool({"fill", key, "b", std::to_string(rounds)}, {}, nullptr);
    // Meanwhile this process keeps reading: it must never meet a half-written file.
    int reads = 0, badReads = 0;
    int exitA = -1, exitB = -1;
    while (exitA < 0 || exitB < 0) {
        for (auto [pid, exit] : {std::make_pair(a, &exitA), std::make_pair(b, &exitB)}) {
            int status = 0;
            if (*exit < 0 && waitpid(pid, &status, WNOHANG) != 0)
                *exit = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
        }
        auto value = Query(probe, "Steady");
        reads++;
        if (value != std::make_pair(LONG(ERROR_SUCCESS), std::string("unchanged", 10)))
            badReads++;
    }
    EXPECT_EQ(exitA, 0);
    EXPECT_EQ(exitB, 0);
    EXPECT_EQ(badReads, 0) << "of " << reads << " reads";

    int missing = 0;
    for (int i = 0; i < rounds; i++)
        for (const char *prefix : {"a", "b"})
            if (hostwin::RegistryDword(key, prefix + std::to_string(i)) != uint32_t(i))
                missing++;
    EXPECT_EQ(missing, 0) << "values lost or wrong of " << 2 * rounds;
    RegCloseKey(probe);
}

TEST_F(Registry, FileIsRegedit4TextThatRoundTrips)
{
    struct Case {
        const char *name;
        DWORD type;
        std::string data;    // as given to RegSetValueExA
        std::string stored;  // as RegQueryValueExA gives it back
        const char *line;    // the value's line in the file
    };
    const std::string expand = Bytes("%windir%\\x\0", 11);
    const Case cases[] = {
        {"", REG_SZ, Bytes("default\0", 8), Bytes("default\0", 8), "@=\"default\""},
        {"Path \"q\"", REG_SZ, Bytes("C:\\Zarn Hold\\\"x\"\\\0", 18), Bytes("C:\\Zarn Hold\\\"x\"\\\0", 18),
         "\"Path \\\"q\\\"\"=\"C:\\\\Zarn Hold\\\\\\\"x\\\"\\\\\""},
        {"High", REG_SZ, Bytes("caf\xe9 \x81\x40 \xff\0", 10), Bytes("caf\xe9 \x81\x40 \xff\0", 10),
         "\"High\"=\"caf\xe9 \x81\x40 \xff\""},
        {"Count", REG_DWORD, Bytes("\x0a\0\0\0", 4), Bytes("\x0a\0\0\0", 4), "\"Count\"=dword:0000000a"},
        {"Big", REG_DWORD, Bytes("\x78\x56\x34\x12", 4), Bytes("\x78\x56\x34\x12", 4), "\"Big\"=dword:12345678"},
        {"Blob", REG_BINARY, Bytes("\0\x01\xfe", 3), Bytes("\0\x01\xfe", 3), "\"Blob\"=hex:00,01,fe"},
        {"Nothing", REG_BINARY, "", "", "\"Nothing\"=hex:"},
        {"Expand", REG_EXPAND_SZ, expand, expand, "\"Expand\"=hex(2):25,77,69,6e,64,69,72,25,5c,78,00"},
        {"Odd", 11, Bytes("\x01", 1), Bytes("\x01", 1), "\"Odd\"=hex(b):01"},
        // A line break cannot stand in a quoted string of the file, so such a string goes as hex.
        {"Lines", REG_SZ, Bytes("a\r\nb\0", 5), Bytes("a\r\nb\0", 5), "\"Lines\"=hex(1):61,0d,0a,62,00"},
    };
    HKEY key = Create(HKEY_CURRENT_USER, "Software\\Test");
    for (const auto &c : cases)
        ASSERT_EQ(RegSetValueExA(key, c.name, 0, c.type, reinterpret_cast<const BYTE *>(c.data.data()),
                                 DWORD(c.data.size())),
                  ERROR_SUCCESS)
            << c.name;
    RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Test\\Empty"));

    std::string text = ReadText(RegistryFile());
    EXPECT_EQ(text.compare(0, 12, "REGEDIT4\r\n\r\n"), 0) << text;
    for (size_t i = 0; i < text.size(); i++)
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
    std::string section = "[HKEY_CURRENT_USER\\Software\\Test]\r\n";
    for (const auto &c : cases)
        section += std::string(c.line) + "\r\n";
    section += "\r\n[HKEY_CURRENT_USER\\Software\\Test\\Empty]\r\n\r\n";
    EXPECT_NE(text.find(section), std::string::npos) << "expected\n" << section << "\nin\n" << text;

    // The same file with LF line ends, as an editor might leave it, reads back the same.
    std::string lf;
    for (char ch : text)
        if (ch != '\r')
            lf += ch;
    WriteText(RegistryFile(), lf);
    for (const auto &c : cases) {
        DWORD type = 0;
        EXPECT_EQ(Query(key, c.name, &type), std::make_pair(LONG(ERROR_SUCCESS), c.stored)) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
    }
    RegCloseKey(key);
}

TEST_F(Registry, ReadsHandWrittenFiles)
{
    WriteText(RegistryFile(),
              "REGEDIT4\n"
              "\n"
              "; a comment\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Deep\\Down]\n"
              "\"Long\"=hex:01,02,\\\n"
              "  03,04\n"
              "\"Text\"=\"ends in backslash\\\\\"\n"
              "\"After\"=dword:00000001\n");
    EXPECT_TRUE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Deep"));  // implied by its subkey
    EXPECT_EQ(hostwin::RegistryString("HKEY_LOCAL_MACHINE\\Software\\Deep\\Down", "Text"), "ends in backslash\\");
    EXPECT_EQ(hostwin::RegistryDword("HKEY_LOCAL_MACHINE\\Software\\Deep\\Down", "After"), 1u);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Deep\\Down", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "Long"), std::make_pair(LONG(ERROR_SUCCESS), Bytes("\1\2\3\4", 4)));
    RegCloseKey(key);

    // A file that is not REGEDIT4 text is not taken for an empty registry, nor overwritten.
    WriteText(RegistryFile(), "garbage\r\n");
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_CANTREAD);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_CANTREAD);
    EXPECT_EQ(ReadText(RegistryFile()), "garbage\r\n");
}

TEST_F(Registry, ErrorCodes)
{
    HKEY company = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane");
    HKEY demo = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\ZARN5DEMO");
    HKEY closed = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\Closed");
    ASSERT_EQ(SetDword(demo, "Installed Version", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    HKEY deleted = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\Gone");
    ASSERT_EQ(RegDeleteKeyA(company, "Gone"), ERROR_SUCCESS);
    // The deleted key made again: the old handle still names the deleted one.
    RegCloseKey(Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\Gone"));
    HKEY junk = reinterpret_cast<HKEY>(uintptr_t(0x12345678));
    BYTE three[3] = {1, 2, 3};
    BYTE eight[8] = {};

    struct Case {
        const char *what;
        std::function<LONG()> call;
        LONG expected;
    };
    const Case cases[] = {
        {"open a missing key",
         [&] {
             HKEY k;
             return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvane\\Missing", 0, KEY_READ, &k);
         },
         ERROR_FILE_NOT_FOUND},
        {"query a missing value", [&] { return Query(demo, "Missing").first; }, ERROR_FILE_NOT_FOUND},
        {"query on a deleted key", [&] { return Query(deleted, "x").first; }, ERROR_KEY_DELETED},
        {"set on a deleted key", [&] { return SetDword(deleted, "x", 1); }, ERROR_KEY_DELETED},
        {"create below a deleted key",
         [&] {
             HKEY k;
             return RegCreateKeyExA(deleted, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
         },
         ERROR_KEY_DELETED},
        {"open below a deleted key",
         [&] {
             HKEY k;
             return RegOpenKeyExA(deleted, "", 0, KEY_READ, &k);
         },
         ERROR_KEY_DELETED},
        {"query on a closed handle", [&] { return Query(closed, "x").first; }, ERROR_INVALID_HANDLE},
        {"close a closed handle", [&] { return RegCloseKey(closed); }, ERROR_INVALID_HANDLE},
        {"set on a made-up handle", [&] { return SetDword(junk, "x", 1); }, ERROR_INVALID_HANDLE},
        {"null handle", [&] { return RegDeleteKeyA(nullptr, "Software"); }, ERROR_INVALID_HANDLE},
        {"dword of 3 bytes", [&] { return RegSetValueExA(demo, "Bad", 0, REG_DWORD, three, 3); },
         ERROR_INVALID_PARAMETER},
        {"dword of 8 bytes", [&] { return RegSetValueExA(demo, "Bad", 0, REG_DWORD, eight, 8); },
         ERROR_INVALID_PARAMETER},
        {"delete a missing subkey", [&] { return RegDeleteKeyA(company, "Missing"); }, ERROR_FILE_NOT_FOUND},
        {"delete with an empty subkey name", [&] { return RegDeleteKeyA(demo, ""); }, ERROR_ACCESS_DENIED},
        {"delete with no subkey name", [&] { return RegDeleteKeyA(demo, nullptr); }, ERROR_ACCESS_DENIED},
        {"create with an empty name inside",
         [&] {
             HKEY k;
             return RegCreateKeyExA(company, "A\\\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
         },
         ERROR_BAD_PATHNAME},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.call(), c.expected) << c.what;

    EXPECT_FALSE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Halvane\\A"));
    EXPECT_EQ(hostwin::RegistryString("HKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO", "Bad"), std::nullopt);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    for (HKEY key : {company, demo, deleted})
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, QuerySizesAndStoredStrings)
{
    HKEY key = Create(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    // A string is kept up to its first NUL whatever the size says, and no further than the size.
    ASSERT_EQ(RegSetValueExA(key, "Padded", 0, REG_SZ, reinterpret_cast<const BYTE *>("abc\0def"), 8), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Cut", 0, REG_SZ, reinterpret_cast<const BYTE *>("abcdef"), 3), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(hostwin::RegistryString(std::string("HKEY_LOCAL_MACHINE\\") + UNINSTALL_KEY, "Padded"), "abc");
    EXPECT_EQ(hostwin::RegistryString(std::string("HKEY_LOCAL_MACHINE\\") + UNINSTALL_KEY, "Cut"), "abc");
    EXPECT_EQ(hostwin::RegistryString(std::string("HKEY_LOCAL_MACHINE\\") + UNINSTALL_KEY, "Empty"), "");

    struct Case {
        const char *what;
        bool withData;
        DWORD bufferSize;
        LONG expected;
        DWORD sizeAfter;
    };
    const Case cases[] = {
        {"size only", false, 0, ERROR_SUCCESS, 4},
        {"exact buffer", true, 4, ERROR_SUCCESS, 4},
        {"larger buffer", true, 100, ERROR_SUCCESS, 4},
        {"no room for the NUL", true, 3, ERROR_MORE_DATA, 4},
        {"empty buffer", true, 0, ERROR_MORE_DATA, 4},
    };
    for (const auto &c : cases) {
        BYTE buffer[100];
        std::memset(buffer, 'x', sizeof buffer);
        DWORD size = c.bufferSize, type = 0;
        EXPECT_EQ(RegQueryValueExA(key, "Padded", nullptr, &type, c.withData ? buffer : nullptr, &size), c.expected)
            << c.what;
        EXPECT_EQ(size, c.sizeAfter) << c.what;
        EXPECT_EQ(type, DWORD(REG_SZ)) << c.what;
        if (c.expected == ERROR_SUCCESS && c.withData) {
            EXPECT_EQ(std::memcmp(buffer, "abc\0", 4), 0) << c.what;
        }
    }
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Padded", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(key, "Padded", nullptr, nullptr, reinterpret_cast<BYTE *>(&type), nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(Registry, DeleteKeyRemovesTheWholeSubtreeAndLeavesTheParent)
{
    HKEY deep = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\ZARN5DEMO\\Deep\\Deeper");
    ASSERT_EQ(SetString(deep, "Name", "value"), ERROR_SUCCESS);
    HKEY demo = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\ZARN5DEMO");
    ASSERT_EQ(SetDword(demo, "Installed Version", 0), ERROR_SUCCESS);
    HKEY other = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\Other");
    ASSERT_EQ(SetString(other, "Kept", "yes"), ERROR_SUCCESS);

    HKEY company = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvane", 0, KEY_ALL_ACCESS, &company), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(company, "ZARN5DEMO"), ERROR_SUCCESS);

    for (const char *gone : {"ZARN5DEMO", "ZARN5DEMO\\Deep", "ZARN5DEMO\\Deep\\Deeper"})
        EXPECT_FALSE(hostwin::RegistryKeyExists(std::string("HKEY_LOCAL_MACHINE\\Software\\Halvane\\") + gone))
            << gone;
    EXPECT_TRUE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Halvane"));
    EXPECT_EQ(hostwin::RegistryString("HKEY_LOCAL_MACHINE\\Software\\Halvane\\Other", "Kept"), "yes");
    EXPECT_EQ(ReadText(RegistryFile()).find("ZARN5DEMO"), std::string::npos);
    EXPECT_EQ(Query(deep, "Name").first, ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(company, "ZARN5DEMO"), ERROR_FILE_NOT_FOUND);

    // A subkey path of several levels, through a root handle.
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Halvane\\Other"), ERROR_SUCCESS);
    EXPECT_FALSE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Halvane\\Other"));
    for (HKEY key : {deep, demo, other, company})
        RegCloseKey(key);
}

TEST_F(Registry, EmptySubkeyOpensTheKeyItself)
{
    HKEY demo = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\ZARN5DEMO");
    ASSERT_EQ(SetDword(demo, "Installed Version", 3), ERROR_SUCCESS);
    for (const char *empty : {"", static_cast<const char *>(nullptr)}) {
        HKEY again = nullptr;
        DWORD disposition = 0;
        ASSERT_EQ(RegCreateKeyExA(demo, empty, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &again, &disposition),
                  ERROR_SUCCESS);
        EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
        EXPECT_EQ(Query(again, "Installed Version").second, Bytes("\3\0\0\0", 4));
        EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
        ASSERT_EQ(RegOpenKeyExA(demo, empty, 0, KEY_READ, &again), ERROR_SUCCESS);
        EXPECT_EQ(Query(again, "Installed Version").second, Bytes("\3\0\0\0", 4));
        EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    }
    // Closing one handle leaves the other usable.
    EXPECT_EQ(Query(demo, "Installed Version").first, ERROR_SUCCESS);
    RegCloseKey(demo);
}

TEST_F(Registry, FaultInjectionOfRegCreateKeyExA)
{
    struct Case {
        uint32_t error;
        LONG expected;
    };
    for (const Case &c : {Case{0, ERROR_ACCESS_DENIED}, Case{ERROR_CANTWRITE, ERROR_CANTWRITE}}) {
        hostwin::ResetControls();
        hostwin::Fault fault;
        fault.call = "RegCreateKeyExA";
        fault.error = c.error;
        hostwin::InjectFault(fault);
        HKEY key = reinterpret_cast<HKEY>(uintptr_t(1));
        DWORD disposition = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Halvane\\ZARN5DEMO", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, &disposition),
                  c.expected);
        EXPECT_EQ(key, nullptr);
        EXPECT_FALSE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO"));
        // Only the first call fails.
        RegCloseKey(Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\ZARN5DEMO", &disposition));
        EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
        EXPECT_EQ(hostwin::CallCount("RegCreateKeyExA"), 2u);
        HKEY company = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane");
        RegDeleteKeyA(company, "ZARN5DEMO");
        RegCloseKey(company);
    }

    // The same from outside, through HOSTWIN_FAULTS.
    auto run = RunTool({"sz", "HKLM\\Software\\Faulted", "Name", "text"}, {"HOSTWIN_FAULTS=RegCreateKeyExA:once"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Faulted"));
    run = RunTool({"sz", "HKLM\\Software\\Faulted", "Name", "text"}, {"HOSTWIN_FAULTS=RegSetValueExA:1:1013"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(hostwin::RegistryKeyExists("HKEY_LOCAL_MACHINE\\Software\\Faulted"));
    EXPECT_EQ(hostwin::RegistryString("HKEY_LOCAL_MACHINE\\Software\\Faulted", "Name"), std::nullopt);
}

TEST_F(Registry, JournalRecordsTheChangingCalls)
{
    NewJournal();
    HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane\\ZARN5DEMO");
    SetDword(key, "Installed Version", 0);
    SetString(key, "Name", "a \"b\"");
    RegCloseKey(key);
    HKEY company = Create(HKEY_LOCAL_MACHINE, "Software\\Halvane");
    RegDeleteKeyA(company, "ZARN5DEMO");
    RegDeleteKeyA(company, "ZARN5DEMO");
    RegCloseKey(company);
    unsetenv("HOSTWIN_JOURNAL");

    EXPECT_EQ(ReadText(journal),
              "RegCreateKeyExA\tHKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO\t=> 0\n"
              "RegSetValueExA\tHKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO\t\"Installed Version\"=dword:00000000"
              "\t=> 0\n"
              "RegSetValueExA\tHKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO\t\"Name\"=\"a \\\"b\\\"\"\t=> 0\n"
              "RegCreateKeyExA\tHKEY_LOCAL_MACHINE\\Software\\Halvane\t=> 0\n"
              "RegDeleteKeyA\tHKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO\t=> 0\n"
              "RegDeleteKeyA\tHKEY_LOCAL_MACHINE\\Software\\Halvane\\ZARN5DEMO\t=> 2\n");
}

}  // namespace
