// The host entry of every hostwin program: puts together the Windows command line the program was
// started with, then enters the same start-up code as the Windows build.
#include "internal.h"
#include "startup.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    // A hostwin program that started this one handed over the exact command line, meant for this
    // process only; otherwise the host arguments stand for it.
    const char *given = std::getenv("HOSTWIN_CMDLINE");
    const char *pid = std::getenv("HOSTWIN_CMDLINE_PID");
    std::string commandLine;
    if (given != nullptr && pid != nullptr && std::to_string(::getpid()) == pid) {
        commandLine = given;
    } else {
        std::vector<std::string> arguments(argv, argv + argc);
        commandLine = hostwin::detail::CommandLineFromArguments(arguments);
    }
    ::unsetenv("HOSTWIN_CMDLINE");
    ::unsetenv("HOSTWIN_CMDLINE_PID");
    hostwin::detail::SetCommandLine(commandLine);
    ProgramStart();
    return 0;
}
