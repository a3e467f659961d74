// The Linux log folder: systemd's, root's, or the user's state folder.
#include "log/log_platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

class LogFolderTest : public testing::Test {
protected:
    void SetUp() override {
        unsetenv("LOGS_DIRECTORY");
        setenv("XDG_STATE_HOME", "/state", 1);
        setenv("HOME", "/home/someone", 1);
    }
};

TEST_F(LogFolderTest, SystemdFolderComesFirstAndOnlyItsFirstEntryIsUsed) {
    setenv("LOGS_DIRECTORY", "/var/log/zevlog:/var/log/other", 1);
    EXPECT_EQ(logFolder(), "/var/log/zevlog");
    setenv("LOGS_DIRECTORY", "/run/logs", 1);
    EXPECT_EQ(logFolder(), "/run/logs");
}

TEST_F(LogFolderTest, WithoutSystemdRootUsesVarLogAndUsersTheirStateFolder) {
    if (geteuid() == 0) {
        EXPECT_EQ(logFolder(), "/var/log/zevlog");
        return;
    }
    EXPECT_EQ(logFolder(), "/state/zevlog");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(logFolder(), "/home/someone/.local/state/zevlog");
    unsetenv("HOME");
    EXPECT_EQ(logFolder(), "");
}

} // namespace
