// The `session` command: a connection to the service held open while commands are read
// one per line, from a person at a prompt or from a script, and events are printed as
// they arrive.
//
// Threads: run() executes the commands on the caller's thread; its EventFeed prints
// events on a thread of its own. The session's own members belong to the caller's thread.
#pragma once

#include "linkrelay/client.h"
#include "tools/command_line.h"
#include "tools/event_feed.h"
#include "tools/event_printer.h"

#include <chrono>
#include <istream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace linkrelay::cli {

// A command line that cannot be carried out as written.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Session {
public:
    // How long discovery waits for one more result after the last.
    static constexpr std::chrono::milliseconds discoverySettle{250};

    Session(Client& client, EventPrinter& printer, std::chrono::milliseconds timeout)
        : client(client), printer(printer), feed(client, printer), timeout(timeout) {}

    // Reads and runs commands until quit or the end of `in`. A script echoes each command
    // and stops at the first failure, whose exit code it returns. At the prompt a failed
    // command is reported and the next one read; the session ends early only when the
    // service ends the connection. Returns an ExitCode.
    int run(std::istream& in, bool script);

private:
    using Words = std::vector<Word>;
    using Handler = void (Session::*)(const Words&);

    // Runs one line; throws UsageError or ClientError.
    void execute(const std::string& line);
    // Prints the error; returns `code`.
    int report(const std::exception& error, int code);
    // Ends the session after a failure of the connection; returns its exit code.
    int endedByService(const ClientError& error);

    void connectCommand(const Words& words);
    void servicesCommand(const Words& words);
    void charsCommand(const Words& words);
    void readCommand(const Words& words);
    void writeCommand(const Words& words);
    void notifyCommand(const Words& words);
    void indicateCommand(const Words& words);
    void unsubscribeCommand(const Words& words);
    void rssiCommand(const Words& words);
    void disconnectCommand(const Words& words);
    void scanCommand(const Words& words);
    void waitCommand(const Words& words);
    void sleepCommand(const Words& words);
    void helpCommand(const Words& words);
    void quitCommand(const Words& words);

    // The device of the last connect; UsageError when there is none.
    const BleAddress& currentDevice() const;
    // A characteristic index, given as a number or as a UUID found by `chars`.
    uint8_t characteristicOf(const Word& word) const;
    void awaitWriteDone();

    static const std::map<std::string, Handler>& handlers();

    Client& client;
    EventPrinter& printer;
    EventFeed feed;
    const std::chrono::milliseconds timeout;
    std::optional<BleAddress> device;
    std::map<std::string, uint8_t> indexByUuid; // full UUID text -> index, for `device`
    bool quitRequested = false;
};

} // namespace linkrelay::cli
