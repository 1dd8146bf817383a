// Process start-up: the command line a program is started with, what WinMain receives of it
// (lpCmdLine, nCmdShow), and the hand-over from one hostwin program to the next.
#include "machine_fixture.h"
#include "startup.h"

#include "internal.h"

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using namespace machinetest;

struct CommandLineCase {
    int line;
    std::string raw;
    std::string expected;
    bool hostOnly = false;
    unsigned codePage = 1252;
};

std::string Unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 't')
            out += '\t';
        else if (c == 'n')
            out += '\n';
        else if (c == 'r')
            out += '\r';
        else if (c == 'x' && i + 2 < text.size()) {
            out += (char)std::stoi(text.substr(i + 1, 2), nullptr, 16);
            i += 2;
        } else
            out += c;
    }
    return out;
}

// The shared table of command lines (tests/cmdline_cases.txt), also run under Wine.
std::vector<CommandLineCase> LoadCases()
{
    std::vector<CommandLineCase> cases;
    std::ifstream in(CMDLINE_CASES_FILE, std::ios::binary);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        number++;
        if (line.empty() || line[0] == '#')
            continue;
        size_t first = line.find('\t');
        size_t second = line.find('\t', first + 1);
        if (first == std::string::npos || second == std::string::npos) {
            ADD_FAILURE() << "cmdline_cases.txt line " << number << " has not three columns";
            continue;
        }
        CommandLineCase c;
        c.line = number;
        c.raw = Unescape(line.substr(0, first));
        c.expected = Unescape(line.substr(first + 1, second - first - 1));
        std::string flags = line.substr(second + 1) + ",";
        for (size_t at = 0, comma; (comma = flags.find(',', at)) != std::string::npos; at = comma + 1) {
            std::string flag = flags.substr(at, comma - at);
            if (flag == "host-only")
                c.hostOnly = true;
            else if (flag.rfind("cp=", 0) == 0)
                c.codePage = (unsigned)std::stoul(flag.substr(3));
            else if (flag != "-" && !flag.empty())
                ADD_FAILURE() << "cmdline_cases.txt line " << number << ": unknown flag " << flag;
        }
        cases.push_back(c);
    }
    EXPECT_GT(cases.size(), 0u) << "no cases read from " << CMDLINE_CASES_FILE;
    return cases;
}

std::string Visible(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c < 32 || c >= 127) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else
            out += (char)c;
    }
    return "\"" + out + "\"";
}

class Startup : public Machine {
protected:
    // Starts the probe with an exact command line, as one hostwin program starts another.
    // Returns what the probe recorded: nCmdShow, a newline and lpCmdLine.
    std::string RunProbe(const std::string &commandLine, std::vector<std::string> environment)
    {
        fs::remove(C("probe.txt"));
        environment.push_back("PROBE_OUTPUT=C:\\probe.txt");
        int error = 0;
        int pid = hostwin::detail::StartProcessIn(BuiltBeside("cmdline_probe"), commandLine, environment, nullptr,
                                                  &error);
        EXPECT_GT(pid, 0) << "cannot start the probe: " << strerror(error);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "probe status " << status;
        return ReadText(C("probe.txt"));
    }

    // Runs the probe straight from the host, with host arguments and no hand-over.
    std::string RunProbeDirectly(const std::vector<std::string> &arguments, const std::vector<std::string> &extra)
    {
        fs::remove(C("probe.txt"));
        std::vector<std::string> variables;
        for (char **entry = environ; *entry != nullptr; entry++)
            variables.push_back(*entry);
        variables.push_back("PROBE_OUTPUT=C:\\probe.txt");
        variables.insert(variables.end(), extra.begin(), extra.end());
        std::vector<char *> argv, envp;
        std::vector<std::string> args = arguments;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string &v : variables)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        pid_t pid;
        std::string program = BuiltBeside("cmdline_probe").native();
        EXPECT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()), 0);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "probe status " << status;
        return ReadText(C("probe.txt"));
    }
};

TEST_F(Startup, SkipProgramNameGivesEveryTableRowItsCommandLineText)
{
    for (const CommandLineCase &c : LoadCases()) {
        hostwin::SetCodePage(c.codePage);
        std::vector<char> buffer(c.raw.begin(), c.raw.end());
        buffer.push_back(0);
        std::string got = SkipProgramName(buffer.data());
        EXPECT_EQ(Visible(got), Visible(c.expected))
            << "cmdline_cases.txt line " << c.line << ": raw " << Visible(c.raw) << ", code page " << c.codePage;
    }
}

TEST_F(Startup, StartedProgramReceivesEveryTableRowThroughItsOwnStartUp)
{
    for (const CommandLineCase &c : LoadCases()) {
        std::string recorded = RunProbe(c.raw, {"HOSTWIN_ACP=" + std::to_string(c.codePage), "HOSTWIN_SHOW"});
        EXPECT_EQ(Visible(recorded), Visible("10\n" + c.expected))
            << "cmdline_cases.txt line " << c.line << ": raw " << Visible(c.raw) << ", code page " << c.codePage;
    }
}

TEST_F(Startup, ShowCommandComesFromTheStartUpInformationOnlyWithItsFlag)
{
    struct {
        const char *show;  // HOSTWIN_SHOW, or null for none
        const char *expected;
    } cases[] = {
        {nullptr, "10\n"},  // no STARTF_USESHOWWINDOW: SW_SHOWDEFAULT
        {"3", "3\n"},       // SW_SHOWMAXIMIZED as given
        {"0", "0\n"},       // SW_HIDE is a value like any other once the flag is set
        {"7", "7\n"},
    };
    for (const auto &c : cases) {
        std::string variable = c.show ? std::string("HOSTWIN_SHOW=") + c.show : std::string("HOSTWIN_SHOW");
        EXPECT_EQ(RunProbe("probe.exe zarn5", {variable}), std::string(c.expected) + "zarn5")
            << "HOSTWIN_SHOW " << (c.show ? c.show : "unset");
    }
}

TEST_F(Startup, StartupInfoReportsTheShowStateWithItsFlag)
{
    STARTUPINFOA info;
    unsetenv("HOSTWIN_SHOW");
    memset(&info, 0xAB, sizeof info);
    GetStartupInfoA(&info);
    EXPECT_EQ(info.cb, sizeof info);
    EXPECT_EQ(info.dwFlags, 0u);
    EXPECT_EQ(info.lpTitle, nullptr);

    setenv("HOSTWIN_SHOW", "2", 1);
    GetStartupInfoA(&info);
    EXPECT_EQ(info.dwFlags, (DWORD)STARTF_USESHOWWINDOW);
    EXPECT_EQ(info.wShowWindow, 2);
    EXPECT_EQ(StartupShowCommand(), 2);
    unsetenv("HOSTWIN_SHOW");
    EXPECT_EQ(StartupShowCommand(), SW_SHOWDEFAULT);
}

TEST_F(Startup, WinExecHandsOverItsShowCommand)
{
    ASSERT_TRUE(hostwin::PlaceFile(BuiltBeside("cmdline_probe"), "C:\\probe.exe"));
    setenv("PROBE_OUTPUT", "C:\\probe.txt", 1);
    ASSERT_EQ(WinExec("C:\\probe.exe  zarn5", SW_SHOW), 33u);
    unsetenv("PROBE_OUTPUT");
    std::string recorded;
    for (int i = 0; i < 200 && recorded.empty(); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        recorded = ReadText(C("probe.txt"));
    }
    EXPECT_EQ(recorded, "5\nzarn5");
}

TEST_F(Startup, HostArgumentsBecomeAWindowsCommandLine)
{
    struct {
        std::vector<std::string> arguments;
        const char *expected;
    } cases[] = {
        {{"p"}, "p"},
        {{"p", "zarn5"}, "p zarn5"},
        {{"p", "a", "b"}, "p a b"},
        {{"p", "a b"}, "p \"a b\""},
        {{"p", ""}, "p \"\""},
        {{"p", "tab\there"}, "p \"tab\there\""},
        {{"p", "back\\slash"}, "p back\\slash"},
        {{"p", "a\"b"}, "p \"a\\\"b\""},
        {{"p", "C:\\x y\\"}, "p \"C:\\x y\\\\\""},
        {{"p", "a\\\"b c"}, "p \"a\\\\\\\"b c\""},
        {{"C:\\a b\\p.exe", "x"}, "\"C:\\a b\\p.exe\" x"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(hostwin::detail::CommandLineFromArguments(c.arguments), c.expected);
}

TEST_F(Startup, ProgramStartedFromTheHostShellUsesItsArguments)
{
    EXPECT_EQ(RunProbeDirectly({"cmdline_probe", "C:\\Zarn Hold", "x"}, {}), "10\n\"C:\\Zarn Hold\" x");
    // A hand-over meant for another process is not taken.
    EXPECT_EQ(RunProbeDirectly({"cmdline_probe", "zarn5"}, {"HOSTWIN_CMDLINE=p other", "HOSTWIN_CMDLINE_PID=1"}),
              "10\nzarn5");
}

TEST_F(Startup, HandOverOfThisProcessIsNotPassedOn)
{
    // A stale hand-over in the starting process's environment never reaches the started one.
    setenv("HOSTWIN_CMDLINE", "stale command", 1);
    setenv("HOSTWIN_CMDLINE_PID", "1", 1);
    EXPECT_EQ(RunProbe("probe.exe fresh", {"HOSTWIN_SHOW"}), "10\nfresh");
    unsetenv("HOSTWIN_CMDLINE");
    unsetenv("HOSTWIN_CMDLINE_PID");
}

TEST_F(Startup, ExitCodeOfWinMainIsTheProcessExitCode)
{
    ASSERT_TRUE(hostwin::PlaceFile(BuiltBeside("cmdline_probe"), "C:\\probe.exe"));
    EXPECT_EQ(hostwin::RunProgram("C:\\probe.exe", C(), {"PROBE_OUTPUT=C:\\probe.txt", "PROBE_EXIT=0"}), 0);
    EXPECT_EQ(hostwin::RunProgram("C:\\probe.exe", C(), {"PROBE_OUTPUT=C:\\probe.txt", "PROBE_EXIT=3"}), 3);
    // -1 from WinMain: the host reports the low 8 bits of the exit code.
    EXPECT_EQ(hostwin::RunProgram("C:\\probe.exe", C(), {"PROBE_OUTPUT=C:\\probe.txt", "PROBE_EXIT=-1"}), 255);
}

}  // namespace
