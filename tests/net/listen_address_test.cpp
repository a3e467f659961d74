// Reading HOST[:PORT]: the accepted forms with what they become, and the refused ones
// with their reasons.
#include "net/listen_address.h"

#include "gob/gob_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int defaultPort = gobDefaultPort;

TEST(ListenAddressTest, AddressesPortsAndNamesAreRead) {
    const struct {
        std::string text;
        std::string host;
        int port;
    } cases[] = {
        {"0.0.0.0", "0.0.0.0", defaultPort},
        {"127.0.0.1", "127.0.0.1", defaultPort},
        {"127.0.0.1:1", "127.0.0.1", 1},
        {"192.168.10.254:65535", "192.168.10.254", 65535},
        {"10.0.0.1:09100", "10.0.0.1", 9100},
        {"localhost:9100", "127.0.0.1", 9100},
        {"10.100.0.200", "10.100.0.200", defaultPort},
    };
    for (const auto& good : cases) {
        SCOPED_TRACE(good.text);
        ListenAddress address;
        std::string error;
        ASSERT_TRUE(parseListenAddress(good.text, defaultPort, address, error)) << error;
        EXPECT_EQ(address.host, good.host);
        EXPECT_EQ(address.port, good.port);
        EXPECT_EQ(listenAddressText(address), good.host + ":" + std::to_string(good.port));
    }
}

TEST(ListenAddressTest, BadValuesAreRefusedWithTheirReasonAndChangeNothing) {
    const struct {
        std::string text;
        std::string reason;
    } cases[] = {
        {"", "the address is empty"},
        {"1.2.3", "\"1.2.3\" is not an IPv4 address (four numbers from 0 to 255)"},
        {"1.2.3.4.5", "\"1.2.3.4.5\" is not an IPv4 address (four numbers from 0 to 255)"},
        {"1.2.3.256", "\"1.2.3.256\" is not an IPv4 address (four numbers from 0 to 255)"},
        {"1..2.3", "\"1..2.3\" is not an IPv4 address (four numbers from 0 to 255)"},
        {"1.2.3.0004", "\"1.2.3.0004\" is not an IPv4 address (four numbers from 0 to 255)"},
        {"127.000.000.010", "\"127.000.000.010\" has a number with a leading zero (the system "
                            "would read it as octal)"},
        {"010.0.0.1",
         "\"010.0.0.1\" has a number with a leading zero (the system would read it as octal)"},
        {"10.0.0.01",
         "\"10.0.0.01\" has a number with a leading zero (the system would read it as octal)"},
        {"10.00.0.1",
         "\"10.00.0.1\" has a number with a leading zero (the system would read it as octal)"},
        {"12345", "\"12345\" is not an IPv4 address (four numbers from 0 to 255)"},
        {"host:99999", "port \"99999\" is not a number from 1 to 65535"},
        {"127.0.0.1:65536", "port \"65536\" is not a number from 1 to 65535"},
        {"127.0.0.1:0", "port \"0\" is not a number from 1 to 65535"},
        {"127.0.0.1:", "port \"\" is not a number from 1 to 65535"},
        {"127.0.0.1:-1", "port \"-1\" is not a number from 1 to 65535"},
        {"127.0.0.1:80a", "port \"80a\" is not a number from 1 to 65535"},
        {"127.0.0.1:00000009089", "port \"00000009089\" is not a number from 1 to 65535"},
        {":9089", "no host before the ':'"},
        {"::1", "\"::1\" has more than one ':' (IPv6 is not supported)"},
        {"[::1]:9089", "\"[::1]:9089\" has more than one ':' (IPv6 is not supported)"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.text);
        ListenAddress address{"unchanged", 7};
        std::string error;
        EXPECT_FALSE(parseListenAddress(bad.text, defaultPort, address, error));
        EXPECT_EQ(error, bad.reason);
        EXPECT_EQ(address.host, "unchanged");
        EXPECT_EQ(address.port, 7);
    }
}

TEST(ListenAddressTest, NameThatDoesNotResolveIsRefused) {
    ListenAddress address;
    std::string error;
    // .invalid never resolves.
    EXPECT_FALSE(parseListenAddress("no-such-host.invalid:9100", defaultPort, address, error));
    EXPECT_TRUE(error.starts_with("cannot resolve \"no-such-host.invalid\" to an IPv4 address: "))
        << error;
    EXPECT_GT(error.size(), std::string("cannot resolve \"no-such-host.invalid\" to an IPv4 "
                                        "address: ")
                                .size());
}

} // namespace
