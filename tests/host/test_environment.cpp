// Whatever the shell that runs the tests has set, the tests never see the user's machine
// (~/.hostwin) nor inherit controls: every test program starts on a machine of its own in a
// temporary folder, and each test that needs one points at a fresh one besides.
#include <hostwin/control.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

extern char **environ;

namespace {

class IsolatedMachine : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::vector<std::string> names;
        for (char **entry = environ; *entry != nullptr; entry++)
            if (strncmp(*entry, "HOSTWIN_", 8) == 0)
                names.push_back(std::string(*entry).substr(0, std::string(*entry).find('=')));
        for (const std::string &name : names)
            unsetenv(name.c_str());
        char pattern[] = "/tmp/hostwin-tests-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            FAIL() << "no temporary folder";
        root = pattern;
        hostwin::UseMachine(root);
    }

    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }

private:
    std::filesystem::path root;
};

const ::testing::Environment *const isolated = ::testing::AddGlobalTestEnvironment(new IsolatedMachine);

}  // namespace
