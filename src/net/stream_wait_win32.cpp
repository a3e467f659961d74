// The readiness wait on Windows: select over three socket sets (read, write, exception)
// that grow together in units of 64 sockets and keep their storage from pass to pass.
//
// Each set is one block laid out as the platform's fd_set: the count, then the sockets.
// The blocks are sized from the platform's own types (the offset of fd_array in fd_set and
// the size of SOCKET, 8 bytes on 64-bit Windows), so a capacity of N units holds N * 64
// sockets. The capacity is 0 until the first socket is added, then 1, and doubles whenever
// a set would overflow; the new part of each block is zeroed. The exception set is passed
// to select but watched for no socket.
//
// The wait has no end when WaitTimeout asks for none (a null timeval). select leaves in
// each set only the sockets that are ready; after the wait the remaining
// entries are looked up by socket to mark their slots. When select fails the sets keep
// every socket they were given, so every condition asked for counts as met.
//
// Threads: used by the stream layer on its one thread only.
#include "net/stream_internal.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>
#include <winsock2.h>

namespace {

constexpr std::size_t socketsPerUnit = 64;

static_assert(offsetof(fd_set, fd_count) == 0);
static_assert(offsetof(fd_set, fd_array) % sizeof(SOCKET) == 0);
constexpr std::size_t headerEntries = offsetof(fd_set, fd_array) / sizeof(SOCKET);

// One socket set: a block of SOCKET-sized entries holding the fd_set count at its start.
struct SocketSet {
    std::vector<SOCKET> block;

    u_int count() const {
        u_int value = 0;
        if (!block.empty()) {
            std::memcpy(&value, block.data(), sizeof value);
        }
        return value;
    }
    void setCount(u_int value) {
        if (!block.empty()) {
            std::memcpy(block.data(), &value, sizeof value);
        }
    }
    SOCKET at(u_int index) const { return block[headerEntries + index]; }
    void append(SOCKET socket) {
        const u_int index = count();
        block[headerEntries + index] = socket;
        setCount(index + 1);
    }
    fd_set* view() { return block.empty() ? nullptr : reinterpret_cast<fd_set*>(block.data()); }
};

enum SlotBits : unsigned char { WatchRead = 1, WatchWrite = 2, Readable = 4, Writable = 8 };

} // namespace

struct StreamWait::Sets {
    std::size_t capacity = 0; // in units of 64 sockets, the same for all three sets
    SocketSet read;
    SocketSet write;
    SocketSet exception;
    std::vector<SOCKET> sockets;                          // by slot
    std::vector<unsigned char> bits;                      // SlotBits by slot
    std::vector<std::pair<SOCKET, std::size_t>> bySocket; // (socket, slot), sorted after a wait

    void growIfFull(const SocketSet& set) {
        if (set.count() < capacity * socketsPerUnit) {
            return;
        }
        capacity = capacity == 0 ? 1 : capacity * 2;
        const std::size_t entries = headerEntries + capacity * socketsPerUnit;
        growOrPanic([&] {
            read.block.resize(entries);
            write.block.resize(entries);
            exception.block.resize(entries);
        });
    }

    void mark(const SocketSet& set, unsigned char bit) {
        for (u_int i = 0; i < set.count(); ++i) {
            const SOCKET socket = set.at(i);
            const auto found = std::lower_bound(bySocket.begin(), bySocket.end(),
                                                std::make_pair(socket, std::size_t{0}));
            if (found != bySocket.end() && found->first == socket) {
                bits[found->second] |= bit;
            }
        }
    }
};

StreamWait::StreamWait() : sets(std::make_unique<Sets>()) {}

StreamWait::~StreamWait() = default;

void StreamWait::clear() {
    sets->read.setCount(0);
    sets->write.setCount(0);
    sets->exception.setCount(0);
    sets->sockets.clear();
    sets->bits.clear();
}

std::size_t StreamWait::add(SocketHandle socket, bool watchRead, bool watchWrite) {
    const auto native = static_cast<SOCKET>(socket);
    if (watchRead) {
        sets->growIfFull(sets->read);
        sets->read.append(native);
    }
    if (watchWrite) {
        sets->growIfFull(sets->write);
        sets->write.append(native);
    }
    growOrPanic([&] {
        sets->sockets.push_back(native);
        sets->bits.push_back(static_cast<unsigned char>((watchRead ? WatchRead : 0) |
                                                        (watchWrite ? WatchWrite : 0)));
    });
    return sets->sockets.size() - 1;
}

void StreamWait::wait(WaitTimeout timeout) {
    timeval limit{timeout.seconds, timeout.microseconds};
    ::select(1, sets->read.view(), sets->write.view(), sets->exception.view(),
             timeout.forever ? nullptr : &limit);
    growOrPanic([&] {
        sets->bySocket.clear();
        for (std::size_t slot = 0; slot < sets->sockets.size(); ++slot) {
            sets->bySocket.emplace_back(sets->sockets[slot], slot);
        }
    });
    std::sort(sets->bySocket.begin(), sets->bySocket.end());
    sets->mark(sets->read, Readable);
    sets->mark(sets->write, Writable);
}

bool StreamWait::readable(std::size_t slot) const {
    return (sets->bits[slot] & WatchRead) != 0 && (sets->bits[slot] & Readable) != 0;
}

bool StreamWait::writable(std::size_t slot) const {
    return (sets->bits[slot] & WatchWrite) != 0 && (sets->bits[slot] & Writable) != 0;
}

void StreamWait::release() {
    *sets = Sets{};
}
