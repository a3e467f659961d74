// Names of the client error kinds.
#include "linkrelay/client_error.h"

namespace linkrelay {

std::string clientErrorKindName(ClientErrorKind kind) {
    switch (kind) {
    case ClientErrorKind::Refused:
        return "refused";
    case ClientErrorKind::ConnectFailed:
        return "connect failed";
    case ClientErrorKind::Closed:
        return "closed";
    case ClientErrorKind::Timeout:
        return "timeout";
    case ClientErrorKind::Malformed:
        return "malformed";
    case ClientErrorKind::NotOpen:
        return "not open";
    }
    return "unknown";
}

} // namespace linkrelay
