// Output of the tool, one whole line per call.
#include "tools/event_printer.h"

#include "tools/event_text.h"

namespace linkrelay::cli {

void EventPrinter::event(const Event& event) {
    line(json ? eventJson(event) : eventText(event));
}

void EventPrinter::line(const std::string& text) {
    const std::lock_guard guard(lock);
    out << text << std::endl;
}

void EventPrinter::note(const std::string& text) {
    if (!json) {
        line(text);
    }
}

void EventPrinter::prompt(const std::string& text) {
    if (json) {
        return;
    }
    const std::lock_guard guard(lock);
    out << text << std::flush;
}

void EventPrinter::error(const std::string& text) {
    const std::lock_guard guard(lock);
    err << "linkrelay-cli: " << text << std::endl;
}

} // namespace linkrelay::cli
