// The throwaway machine every host test runs on: a temporary folder holding the machine and, beside
// it, an "outside" folder for sentinels that nothing done through the machine may reach; with the
// helpers the tests share to make and read files, run host commands and read the journal of calls.
// Paths are translated by hand here, so the tests do not lean on the code under test.
#pragma once
#include <hostwin/control.h>
#include <hostwin/windows.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace machinetest {

namespace fs = std::filesystem;

// A host file's bytes; "" when there is none.
inline std::string ReadText(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes a host file whole, making the folders above it.
inline void WriteText(const fs::path &file, const std::string &text)
{
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

// Programs and host tools built beside the test program.
inline fs::path BuiltBeside(const std::string &name)
{
    return fs::read_symlink("/proc/self/exe").parent_path() / name;
}

// Runs a host command and gives what it printed; nullopt when it could not run or failed.
inline std::optional<std::string> Output(const std::string &command)
{
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return std::nullopt;
    std::string text;
    char chunk[512];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), pipe)) > 0)
        text.append(chunk, got);
    return pclose(pipe) == 0 ? std::optional<std::string>(text) : std::nullopt;
}

// A text as one word for the host shell.
inline std::string Quoted(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A fault on the next call of a name.
inline hostwin::Fault NextCallFails(const char *call, uint32_t error = 0)
{
    hostwin::Fault fault;
    fault.call = call;
    fault.error = error;
    return fault;
}

// How a snapshot shows a file (not a folder or a symbolic link); nullopt leaves it out.
using FileView = std::function<std::optional<std::string>(const fs::directory_entry &)>;

// Every file and folder below a host folder, to see that nothing changed there: folders as "<dir>",
// symbolic links as where they lead, files as `view` shows them (their bytes unless given).
inline std::map<std::string, std::string> Snapshot(const fs::path &folder, const FileView &view = nullptr)
{
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it); it.increment(ec)) {
        std::string name = it->path().lexically_relative(folder).native();
        if (it->is_symlink()) {
            entries[name] = "<link " + fs::read_symlink(it->path()).native() + ">";
        } else if (it->is_directory()) {
            entries[name] = "<dir>";
        } else if (!view) {
            entries[name] = ReadText(it->path());
        } else if (auto shown = view(*it)) {
            entries[name] = *shown;
        }
    }
    return entries;
}

// One call as the journal records it: its name, its arguments and what follows "=> ".
struct JournalLine {
    std::string call;
    std::vector<std::string> arguments;
    std::string result;
};

// The lines of a journal file (HOSTWIN_JOURNAL), each split at its tabs.
inline std::vector<JournalLine> ReadJournal(const fs::path &file)
{
    std::vector<JournalLine> lines;
    std::istringstream text(ReadText(file));
    std::string line;
    while (std::getline(text, line)) {
        std::vector<std::string> fields;
        for (size_t start = 0;;) {
            size_t end = line.find('\t', start);
            fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        JournalLine entry;
        entry.call = fields.front();
        for (size_t i = 1; i < fields.size(); i++) {
            if (i + 1 == fields.size() && fields[i].rfind("=> ", 0) == 0)
                entry.result = fields[i].substr(3);
            else
                entry.arguments.push_back(fields[i]);
        }
        lines.push_back(entry);
    }
    return lines;
}

class Machine : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/hostwin-machine-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        temp = pattern;
        outside = temp / "outside";
        fs::create_directories(outside);
        // A box nobody answers is dismissed, also when the tests run at a terminal (the programs
        // started here inherit this standard input too).
        savedInput = dup(STDIN_FILENO);
        int nothing = open("/dev/null", O_RDONLY);
        ASSERT_GE(nothing, 0);
        dup2(nothing, STDIN_FILENO);
        close(nothing);
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        savedDirectory = cwd;
        UseNewMachine("machine");
    }

    void TearDown() override
    {
        hostwin::ResetControls();
        unsetenv("HOSTWIN_JOURNAL");
        if (chdir(savedDirectory.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << savedDirectory;
        if (savedInput >= 0) {
            dup2(savedInput, STDIN_FILENO);
            close(savedInput);
        }
        // Read-only files and folders left by a test must not stop the clean-up.
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(temp, ec); !ec && it != fs::end(it); it.increment(ec))
            if (!it->is_symlink())
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        // A program a test started and did not wait for (an Explorer) may still be writing there.
        for (int attempt = 0; attempt < 20 && fs::exists(temp, ec); attempt++) {
            fs::remove_all(temp, ec);
            if (fs::exists(temp, ec))
                usleep(50000);
        }
    }

    // Points the process (and the programs it starts) at a fresh machine in a folder of that name in
    // the temporary folder, laid out as a new Windows 95, with the controls reset.
    void UseNewMachine(const std::string &name)
    {
        machine = temp / name;
        hostwin::UseMachine(machine);
        machine = hostwin::MachineRoot();
        hostwin::ResetControls();
    }

public:
    // The host path of a Windows path on one of the machine's drives ("C:\...", "D:\", "C:").
    fs::path Host(const std::string &windowsPath) const
    {
        EXPECT_TRUE(windowsPath.size() >= 2 && windowsPath[1] == ':') << windowsPath;
        std::string rest = windowsPath.substr(std::min<size_t>(2, windowsPath.size()));
        for (char &c : rest)
            if (c == '\\')
                c = '/';
        while (!rest.empty() && rest[0] == '/')
            rest.erase(0, 1);
        fs::path drive = machine / std::string(1, (char)toupper((unsigned char)windowsPath[0]));
        return rest.empty() ? drive : drive / rest;
    }

    // The host path of a place on drive C, given below its root ("WINDOWS/SYSTEM"); C() is the root.
    fs::path C(const std::string &relative = "") const { return Host("C:\\" + relative); }

    bool Exists(const std::string &windowsPath) const
    {
        std::error_code ec;
        return fs::exists(Host(windowsPath), ec);
    }

    std::string Read(const std::string &windowsPath) const { return ReadText(Host(windowsPath)); }
    void Write(const std::string &windowsPath, const std::string &text) const { WriteText(Host(windowsPath), text); }

    // The names in a folder, sorted.
    std::vector<std::string> Listing(const std::string &windowsPath) const
    {
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(Host(windowsPath), ec), end; !ec && it != end; it.increment(ec))
            names.push_back(it->path().filename().native());
        std::sort(names.begin(), names.end());
        return names;
    }

    void EnterFolder(const fs::path &host) const { ASSERT_EQ(chdir(host.c_str()), 0) << host; }

    static void MakeReadOnly(const fs::path &host) { ::chmod(host.c_str(), 0444); }

    // A journal of the calls from here on (HOSTWIN_JOURNAL, inherited by the programs started),
    // in a file of its own; the earlier ones stay, for what comes late to them.
    void NewJournal()
    {
        journal = temp / ("journal" + std::to_string(++journals) + ".txt");
        setenv("HOSTWIN_JOURNAL", journal.c_str(), 1);
    }

    std::vector<JournalLine> Journal() const { return ReadJournal(journal); }

    std::vector<JournalLine> Calls(const std::string &call) const
    {
        std::vector<JournalLine> found;
        for (const JournalLine &line : Journal())
            if (line.call == call)
                found.push_back(line);
        return found;
    }

    // The journal as "Call arg1" texts (no results) of the calls named, for order checks.
    std::vector<std::string> CallOrder(const std::vector<std::string> &names) const
    {
        std::vector<std::string> order;
        for (const JournalLine &line : Journal())
            if (std::find(names.begin(), names.end(), line.call) != names.end()) {
                std::string text = line.call;
                if (!line.arguments.empty())
                    text += " " + line.arguments.front();
                order.push_back(text);
            }
        return order;
    }

    fs::path temp, machine, outside, journal, savedDirectory;
    int savedInput = -1;
    int journals = 0;
};

}  // namespace machinetest
