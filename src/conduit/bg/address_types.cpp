// The bounded table of advertised address types. See address_types.h.
#include "conduit/bg/address_types.h"

AddressTypes::AddressTypes(size_t capacity) : capacity(capacity) {}

void AddressTypes::seen(const BleAddress& address, uint8_t type) {
    const auto found = entries.find(address);
    if (found != entries.end()) {
        found->second.type = type;
        recency.splice(recency.begin(), recency, found->second.place);
        return;
    }
    if (capacity == 0) {
        return;
    }
    if (entries.size() >= capacity) {
        entries.erase(recency.back());
        recency.pop_back();
    }
    recency.push_front(address);
    entries.emplace(address, Entry{type, recency.begin()});
}

uint8_t AddressTypes::typeOf(const BleAddress& address) const {
    const auto found = entries.find(address);
    return found != entries.end() ? found->second.type : publicAddress;
}
