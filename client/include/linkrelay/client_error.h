// The one exception type of the client library, with the kind of failure.
//
// Plain value; safe on any thread.
#pragma once

#include <stdexcept>
#include <string>

namespace linkrelay {

enum class ClientErrorKind {
    Refused,       // nothing accepts connections at the host and port
    ConnectFailed, // the host did not resolve, or the connection failed another way
    Closed,        // the service ended the TCP session (it does so when it refuses a request)
    Timeout,       // the connection or an awaited event did not come in time
    Malformed,     // the service sent bytes that are not a valid event
    NotOpen,       // a call needs an open session and there is none
};

class ClientError : public std::runtime_error {
public:
    ClientError(ClientErrorKind kind, const std::string& text)
        : std::runtime_error(text), errorKind(kind) {}

    ClientErrorKind kind() const { return errorKind; }

private:
    ClientErrorKind errorKind;
};

// "refused", "connect failed", "closed", "timeout", "malformed", "not open".
std::string clientErrorKindName(ClientErrorKind kind);

} // namespace linkrelay
