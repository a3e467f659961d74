// BgSession: ending a procedure and the two characteristic look-ups, which never insert.
#include "conduit/bg/bg_session.h"

void BgSession::endProcedure() {
    state = SessionState::Idle;
    pendingUuids.clear();
    foundHandles.clear();
    writeBuffer.clear();
    writeOffset = 0;
}

std::optional<int32_t> BgSession::charHandle(uint8_t index) const {
    const auto found = charHandleByIndex.find(index);
    if (found == charHandleByIndex.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<uint8_t> BgSession::charIndex(int32_t handle) const {
    const auto found = charIndexByHandle.find(handle);
    if (found == charIndexByHandle.end()) {
        return std::nullopt;
    }
    return static_cast<uint8_t>(found->second);
}

uint32_t BgSession::writeBytesLeft() const {
    return writeOffset < writeBuffer.size()
               ? static_cast<uint32_t>(writeBuffer.size()) - writeOffset
               : 0;
}
