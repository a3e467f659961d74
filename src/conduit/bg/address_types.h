// AddressTypes: the address type (0 public, 1 random) each device advertised with, as
// gap_scan_response reports it, for the address type of gap_connect_direct. A device
// with a random address answers only a connect that names its address as random.
//
// Bounded: the table holds up to `capacity` addresses (1,024 by default); seeing one
// more drops the address seen least recently. A device never seen in a scan, or dropped
// since, is taken as public.
//
// Threads: plain value; ConduitBg keeps its table under its conduit lock.
#pragma once

#include "gob/ble_types.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>

class AddressTypes {
public:
    static constexpr size_t defaultCapacity = 1024;
    static constexpr uint8_t publicAddress = 0;

    explicit AddressTypes(size_t capacity = defaultCapacity);

    // Records that `address` advertised with `type` just now.
    void seen(const BleAddress& address, uint8_t type);
    // The type `address` last advertised with, or publicAddress.
    uint8_t typeOf(const BleAddress& address) const;
    size_t size() const { return entries.size(); }

private:
    struct Entry {
        uint8_t type;
        std::list<BleAddress>::iterator place; // in `recency`
    };

    size_t capacity;
    std::list<BleAddress> recency; // most recently seen first
    std::map<BleAddress, Entry> entries;
};
