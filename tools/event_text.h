// How the tool shows events: one line of text, or one JSON object, per event.
//
// Pure functions; safe on any thread.
#pragma once

#include "linkrelay/client_events.h"

#include <span>
#include <string>
#include <vector>

namespace linkrelay::cli {

// "0x0102ff", followed by the bytes as quoted text when they are all printable.
std::string valueText(std::span<const uint8_t> value);

// The text forms of UUIDs, each, and joined with commas.
std::vector<std::string> uuidTexts(const std::vector<UuidRecord>& uuids);
std::string uuidList(const std::vector<UuidRecord>& uuids);

// One line without its end, beginning with the event's name: "connected: AA:BB:...".
std::string eventText(const Event& event);

// One JSON object whose "event" member holds the event's name.
std::string eventJson(const Event& event);

} // namespace linkrelay::cli
