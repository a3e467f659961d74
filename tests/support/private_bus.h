// A private D-Bus daemon for the tests: its own socket in a temporary folder and a policy
// that allows everything, so that a test can own any name on it, logind's included.
//
// Threads: made and destroyed by the test's thread; the address may be used anywhere.
#pragma once

#include "process_harness.h"

#include <memory>
#include <string>

namespace harness {

class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus(); // stops the daemon (by its pid)
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // The bus address ("unix:path=..."); empty when the daemon did not come up.
    const std::string& address() const { return busAddress; }
    // Stops the daemon now, as a bus that goes away would.
    void stop();

private:
    TempDir folder;
    std::unique_ptr<ChildProcess> daemon;
    std::string busAddress;
};

} // namespace harness
