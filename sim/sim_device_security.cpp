// SimDevice: the security manager. A peripheral marked bondable pairs when asked, so
// the link becomes encrypted and, with bonding, the module stores a bond; any other
// peripheral refuses to pair. See sim_device.h.
//
// sm_encrypt_start is answered at once (the request goes on the air); the pairing ends
// two connection intervals later (one on an instant device) with connection_status
// (flag 0x02 encrypted) and, for a new bond, sm_bond_status, or with sm_bonding_fail
// carrying 0x0205 (authentication failure), which is what a module reports when the
// peer rejects pairing.
#include "sim/sim_device_internal.h"

#include <algorithm>

namespace sim {

namespace {

constexpr uint8_t noBond = 0xFF;
constexpr int keySize = 16;
constexpr int noMitm = 0;
// Keys kept for the bond: the long-term key with its EDIV and RAND.
constexpr int bondKeys = 0x01 | 0x10;

} // namespace

int SimDevice::bondOf(const Address& address) const {
    const auto found = std::find(bondStore.begin(), bondStore.end(), address);
    return found != bondStore.end() ? static_cast<int>(found - bondStore.begin()) : noBond;
}

// The bond's index; noBond when the store is full.
int SimDevice::storeBond(const Address& address) {
    const int existing = bondOf(address);
    if (existing != noBond || bondStore.size() >= maxBonds) {
        return existing;
    }
    bondStore.push_back(address);
    return static_cast<int>(bondStore.size() - 1);
}

void SimDevice::smEncryptStart(const Message& message, SimTime now) {
    const int64_t handle = message.number("handle");
    Connection* connection = handle < static_cast<int64_t>(connectionSlots.size())
                                 ? connectionSlots[static_cast<size_t>(handle)].get()
                                 : nullptr;
    if (connection == nullptr) {
        respond("sm_encrypt_start", {number(handle), number(result::notConnected)});
        return;
    }
    respond("sm_encrypt_start", {number(handle), number(result::ok)});
    const SimTime done = now + connection->intervalTime() * (settings.instant ? 1 : 2);
    scheduleInBoot(done, [this, link = connection->handle, id = connection->id,
                          bonding = message.number("bonding") != 0](SimTime) {
        Connection* current = connectionSlots[link].get();
        if (current == nullptr || current->id != id) {
            return;
        }
        if (!current->peripheral->profile.bondable) {
            emit("sm_bonding_fail", {number(link), number(result::authenticationFailure)});
            return;
        }
        encrypt(*current, bonding);
    });
}

void SimDevice::encrypt(Connection& connection, bool bonding) {
    const Address& address = connection.peripheral->profile.address;
    const bool known = bondOf(address) != noBond;
    if (bonding) {
        connection.bond = static_cast<uint8_t>(storeBond(address));
    }
    connection.encrypted = true;
    emitConnectionStatus(connection, linkFlag::connected | linkFlag::encrypted);
    if (bonding && !known && connection.bond != noBond) {
        emit("sm_bond_status",
             {number(connection.bond), number(keySize), number(noMitm), number(bondKeys)});
    }
}

void SimDevice::smGetBonds(const Message& /*message*/, SimTime /*now*/) {
    respond("sm_get_bonds", {number(static_cast<int64_t>(bondStore.size()))});
    for (size_t bond = 0; bond < bondStore.size(); ++bond) {
        emit("sm_bond_status", {number(static_cast<int64_t>(bond)), number(keySize), number(noMitm),
                                number(bondKeys)});
    }
}

// Deletes one bond by index, or every bond for 0xFF. Later bonds keep their indexes
// only until the next deletion: the store is kept packed.
void SimDevice::smDeleteBonding(const Message& message, SimTime /*now*/) {
    const int64_t bond = message.number("handle");
    if (bond == noBond) {
        bondStore.clear();
    } else if (bond < static_cast<int64_t>(bondStore.size())) {
        bondStore.erase(bondStore.begin() + static_cast<std::ptrdiff_t>(bond));
    } else {
        respond("sm_delete_bonding", {number(result::invalidParameter)});
        return;
    }
    for (auto& connection : connectionSlots) {
        if (connection != nullptr) {
            connection->bond =
                static_cast<uint8_t>(bondOf(connection->peripheral->profile.address));
        }
    }
    respond("sm_delete_bonding", {number(result::ok)});
}

} // namespace sim
