// The Linux serial port on a real pseudo-terminal: the test holds the master side, the
// port under test opens the slave (or a link to it).
#include "conduit/serial/serial_port_platform.h"
#include "conduit/serial/serial_source.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Whether thread `thread` of this process is blocked in poll, where the port's read waits.
bool waitsInPoll(pid_t thread) {
    std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1; // stays so for "running"
    file >> number;
#ifdef SYS_poll
    if (number == SYS_poll) {
        return true;
    }
#endif
    return number == SYS_ppoll;
}

// A pty pair; the master is the dongle's side.
class PtyPair {
public:
    PtyPair() {
        std::array<char, 128> name{};
        if (openpty(&master, &slave, name.data(), nullptr, nullptr) == 0) {
            slaveName = name.data();
        }
    }
    ~PtyPair() {
        closeMaster();
        if (slave >= 0) {
            ::close(slave);
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slaveName; }
    void send(const Bytes& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads from the master until `count` bytes came or 5 s passed without any.
    Bytes receive(size_t count) const {
        Bytes got;
        while (got.size() < count) {
            pollfd fd = {master, POLLIN, 0};
            if (::poll(&fd, 1, 5000) <= 0) {
                break;
            }
            std::array<uint8_t, 4096> buffer{};
            const ssize_t n = ::read(master, buffer.data(), buffer.size());
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        }
        return got;
    }
    void closeMaster() {
        if (master >= 0) {
            ::close(master);
            master = -1;
        }
    }

private:
    int master = -1;
    int slave = -1; // held so that the pty lives while the port is closed
    std::string slaveName;
};

// Reads from `port` until `count` bytes came or a round failed; the rounds' results go
// to `results`.
Bytes readBytes(SerialPort& port, size_t count, std::vector<int>* results = nullptr) {
    Bytes got;
    for (int round = 0; round < 50 && got.size() < count; ++round) {
        std::array<uint8_t, 256> buffer{};
        const int n = port.readSome(static_cast<uint32_t>(count - got.size()), buffer.data(), 200);
        if (results != nullptr) {
            results->push_back(n);
        }
        if (n < 0) {
            break;
        }
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    return got;
}

class LinuxSerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.slavePath().empty());
        port = openSerialPort(pty.slavePath());
        ASSERT_NE(port, nullptr);
    }

    PtyPair pty;
    std::unique_ptr<SerialPort> port;
};

TEST_F(LinuxSerialPortTest, ReadsWhatArrivedAtMostMaxPerRound) {
    pty.send({0x80, 0x0C, 0x00, 0x00, 0x01, 0x02});
    std::array<uint8_t, 4> header{};
    int first = 0;
    for (int round = 0; round < 10 && first == serialReadEmpty; ++round) {
        first = port->readSome(4, header.data(), 500);
    }
    ASSERT_GT(first, 0);
    ASSERT_LE(first, 4);
    const Bytes rest = readBytes(*port, 6 - static_cast<size_t>(first));
    Bytes all(header.begin(), header.begin() + first);
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(all, (Bytes{0x80, 0x0C, 0x00, 0x00, 0x01, 0x02}));
}

TEST_F(LinuxSerialPortTest, RawBytesPassUnchangedBothWays) {
    // Bytes a terminal's line discipline would translate or act on: CR, NL, ^C, ^D,
    // XON/XOFF, ^Z, ^\, DEL, and a high byte.
    const Bytes special = {0x0D, 0x0A, 0x03, 0x04, 0x11, 0x13, 0x1A, 0x1C, 0x7F, 0xFF, 0x00};
    pty.send(special);
    EXPECT_EQ(readBytes(*port, special.size()), special);
    ASSERT_EQ(port->write(static_cast<uint32_t>(special.size()), special.data()), 0);
    EXPECT_EQ(pty.receive(special.size()), special);
}

TEST_F(LinuxSerialPortTest, EmptyRoundWhenNothingArrives) {
    std::array<uint8_t, 4> buffer{};
    EXPECT_EQ(port->readSome(4, buffer.data(), 30), serialReadEmpty);
    EXPECT_EQ(port->readSome(4, buffer.data(), 0), serialReadEmpty);
}

TEST_F(LinuxSerialPortTest, CancelEndsThePendingRead) {
    std::atomic<pid_t> readerThread{0};
    auto reading = std::async(std::launch::async, [this, &readerThread] {
        readerThread = gettid();
        std::array<uint8_t, 4> buffer{};
        return port->readSome(4, buffer.data(), 60000);
    });
    // The read is pending once its thread waits in poll.
    ASSERT_TRUE(harness::waitUntil([&] { return readerThread != 0 && waitsInPoll(readerThread); },
                                   std::chrono::seconds(10)));
    port->cancelRead();
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(reading.get(), serialReadCancelled);
}

TEST_F(LinuxSerialPortTest, CancelBeforeReadEndsTheNextReadOnly) {
    port->cancelRead();
    port->cancelRead(); // kicks that no read took yet count as one
    std::array<uint8_t, 4> buffer{};
    EXPECT_EQ(port->readSome(4, buffer.data(), 60000), serialReadCancelled);
    EXPECT_EQ(port->readSome(4, buffer.data(), 0), serialReadEmpty);
    // Bytes that arrive after a cancelled read are read by the next one.
    pty.send({0x42});
    EXPECT_EQ(readBytes(*port, 1), Bytes{0x42});
}

TEST_F(LinuxSerialPortTest, HangUpIsAReadErrorAtOnceAndWritesFail) {
    pty.closeMaster();
    std::array<uint8_t, 4> buffer{};
    EXPECT_EQ(port->readSome(4, buffer.data(), 60000), serialReadError);
    EXPECT_EQ(port->readSome(4, buffer.data(), 60000), serialReadError);
    EXPECT_EQ(port->write(4, buffer.data()), -1);
}

TEST_F(LinuxSerialPortTest, SecondOpenIsRefusedUntilTheFirstIsClosed) {
    EXPECT_EQ(openSerialPort(pty.slavePath()), nullptr);
    EXPECT_EQ(lastOpenFailure(), "flock: " + std::string(std::strerror(EWOULDBLOCK)) + " (errno " +
                                     std::to_string(EWOULDBLOCK) + ")");
    const std::string link = "/tmp/linkrelay-serial-test-link-" + std::to_string(::getpid());
    std::filesystem::create_symlink(pty.slavePath(), link);
    EXPECT_EQ(openSerialPort(link), nullptr) << "a link to the same tty shares its lock";
    EXPECT_EQ(port->close(), 0);
    auto again = openSerialPort(link);
    std::filesystem::remove(link);
    EXPECT_NE(again, nullptr);
}

TEST_F(LinuxSerialPortTest, WritesEveryByteOfALongWrite) {
    // Far more than a pty buffers, so the write has to wait for the other side.
    Bytes big(size_t{256} * 1024);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<uint8_t>(i * 7 + i / 251);
    }
    auto receiving = std::async(std::launch::async, [&] { return pty.receive(big.size()); });
    EXPECT_EQ(port->write(static_cast<uint32_t>(big.size()), big.data()), 0);
    EXPECT_EQ(port->write(0, big.data()), 0);
    EXPECT_EQ(receiving.get(), big);
}

TEST_F(LinuxSerialPortTest, ClosedPortFailsEverythingAndClosesOnce) {
    EXPECT_EQ(port->close(), 0);
    EXPECT_NE(port->close(), 0);
    std::array<uint8_t, 4> buffer{};
    EXPECT_EQ(port->readSome(4, buffer.data(), 0), serialReadError);
    EXPECT_EQ(port->write(4, buffer.data()), -1);
    port->cancelRead(); // nothing to cancel; must not touch a reused descriptor
}

TEST_F(LinuxSerialPortTest, FixedPortSourceFindsThePathWhileItExists) {
    port.reset();
    auto source = makeFixedPortSource(pty.slavePath());
    EXPECT_EQ(source->find(), pty.slavePath());
    EXPECT_NE(source->open(source->find()), nullptr);

    const std::string missingPath = "/nonexistent/ttyACM0";
    auto missing = makeFixedPortSource(missingPath);
    EXPECT_EQ(missing->find(), "");
    EXPECT_EQ(missing->open(missingPath), nullptr);
    EXPECT_EQ(missing->openFailure(), "open: No such file or directory (errno 2)");
}

TEST(LinuxSerialPortOpen, RefusesWhatIsNotATerminal) {
    EXPECT_EQ(openSerialPort("/nonexistent/ttyACM0"), nullptr);
    EXPECT_FALSE(serialPortExists("/nonexistent/ttyACM0"));
    const std::string file = "/tmp/linkrelay-serial-test-file-" + std::to_string(::getpid());
    std::FILE* created = std::fopen(file.c_str(), "w");
    ASSERT_NE(created, nullptr);
    std::fclose(created);
    EXPECT_TRUE(serialPortExists(file));
    EXPECT_EQ(openSerialPort(file), nullptr);
    EXPECT_TRUE(lastOpenFailure().starts_with("TIOCEXCL: ")) << lastOpenFailure();
    std::filesystem::remove(file);
}

} // namespace
