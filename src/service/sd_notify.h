// The systemd notification protocol: one datagram to the socket named by $NOTIFY_SOCKET.
#pragma once

#include <string>

// Sends `message` when $NOTIFY_SOCKET is set; true when it was sent.
bool sdNotify(const std::string& message);
