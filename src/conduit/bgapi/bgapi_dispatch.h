// Handlers of received BGAPI messages: unhandledMessage, the handler of every known message
// that has none of its own, and BgHandlerTable, which maps rows of messageTable to member
// functions of the object that handles them.
//
// Threads: a BgHandlerTable is filled once, before the first message is received, and only
// read afterwards. run calls the handler on the caller's thread (the reader), under
// whatever lock the caller holds.
#pragma once

#include "conduit/bgapi/bgapi_table.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Writes "RVL: unhandled BG response\n" to standard output (not to the log).
void unhandledMessage(const uint8_t* payload);

template <typename Owner> class BgHandlerTable {
public:
    // A handler gets the received payload and the number of bytes that arrived.
    using Handler = void (Owner::*)(const uint8_t* payload, size_t length);

    void attach(BgMessage message, Handler handler) { handlers[bgIndex(message)] = handler; }

    // Runs the handler attached to `def`'s row on `owner`, or unhandledMessage.
    void run(Owner& owner, const MessageDef& def, const uint8_t* payload, size_t length) const {
        const Handler handler = handlers[bgIndex(def.message)];
        if (handler == nullptr) {
            unhandledMessage(payload);
            return;
        }
        (owner.*handler)(payload, length);
    }

private:
    std::array<Handler, bgMessageCount> handlers{};
};
