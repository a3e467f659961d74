// The tool's output: events, device summaries and messages, as text or JSON lines.
//
// Threads: a session prints from its event thread and its command thread; every call
// takes `lock`, which guards both streams, so lines never interleave.
#pragma once

#include "linkrelay/client_events.h"

#include <mutex>
#include <ostream>
#include <string>

namespace linkrelay::cli {

class EventPrinter {
public:
    EventPrinter(std::ostream& out, std::ostream& err, bool json)
        : out(out), err(err), json(json) {}

    bool printsJson() const { return json; }
    // One event, as a text line or a JSON object.
    void event(const Event& event);
    // A line of standard output as it is (a text line, or a JSON object built elsewhere).
    void line(const std::string& text);
    // A text-only line of standard output (a prompt's echo, a help text); nothing in
    // JSON mode.
    void note(const std::string& text);
    // `text` without a line end, flushed; nothing in JSON mode.
    void prompt(const std::string& text);
    // "linkrelay-cli: <text>" on standard error.
    void error(const std::string& text);

private:
    std::mutex lock;
    std::ostream& out;
    std::ostream& err;
    const bool json;
};

} // namespace linkrelay::cli
