// The service program's command line: --listen with its default, --version, and the
// errors that end the program at start.
#include "service/service_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ServiceOptionsTest, ListenDefaultsToEveryInterfaceOnPort9089) {
    ServiceOptions options;
    std::string error;
    ASSERT_TRUE(parseServiceOptions({"--simulate"}, options, error)) << error;
    EXPECT_EQ(options.listen.host, "0.0.0.0");
    EXPECT_EQ(options.listen.port, 9089);
    EXPECT_FALSE(options.version);
}

TEST(ServiceOptionsTest, ListenAndVersionAreTaken) {
    ServiceOptions options;
    std::string error;
    ASSERT_TRUE(
        parseServiceOptions({"--listen", "127.0.0.1", "--port", "/dev/ttyACM3"}, options, error))
        << error;
    EXPECT_EQ(options.listen.host, "127.0.0.1");
    EXPECT_EQ(options.listen.port, 9089);
    EXPECT_EQ(options.port, "/dev/ttyACM3");

    ServiceOptions other;
    ASSERT_TRUE(parseServiceOptions({"--version", "--listen", "10.1.2.3:9100"}, other, error));
    EXPECT_TRUE(other.version);
    EXPECT_EQ(other.listen.host, "10.1.2.3");
    EXPECT_EQ(other.listen.port, 9100);
}

TEST(ServiceOptionsTest, BadListenValuesNameTheOptionAndTheValue) {
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {{"--listen"}, "--listen needs HOST[:PORT]"},
        {{"--listen", ""}, "--listen \"\": the address is empty"},
        {{"--listen", "1.2.3"},
         "--listen \"1.2.3\": \"1.2.3\" is not an IPv4 address (four numbers from 0 to 255)"},
        {{"--listen", "host:99999"},
         "--listen \"host:99999\": port \"99999\" is not a number from 1 to 65535"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.error);
        ServiceOptions options;
        std::string error;
        EXPECT_FALSE(parseServiceOptions(bad.arguments, options, error));
        EXPECT_EQ(error, bad.error);
    }
}

TEST(ServiceOptionsTest, UsageNamesListenAndVersion) {
    for (const bool windows : {false, true}) {
        const std::string usage = serviceUsage(windows);
        EXPECT_NE(usage.find("--listen HOST[:PORT]"), std::string::npos);
        EXPECT_NE(usage.find("default 0.0.0.0:9089"), std::string::npos);
        EXPECT_NE(usage.find("--version"), std::string::npos);
        EXPECT_EQ(usage.find("--console") != std::string::npos, windows);
    }
}

} // namespace
