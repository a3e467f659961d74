// Requests that wait for a busy session, and what is forgotten when a client leaves.
//
// FindServices, FindAttributes and Write run one at a time on a connection. One that
// finds its session busy joins the session's waiting list (at most maxWaitingPerDevice)
// and starts, in arrival order, once the session is Idle again, whether the procedure
// before it succeeded or failed. It then runs exactly as if it had just arrived, for the
// client that asked for it; its results are routed as any others. Waiting requests go
// with their session when the connection ends.
//
// Threads: waitForIdle and forgetRequester run on the mux thread, startWaitingRequests
// on the reader thread; all under `lock`.
#include "conduit/bg/conduit_bg.h"
#include "log/log.h"

#include <algorithm>
#include <utility>

bool ConduitBg::waitForIdle(BgSession& session, WaitingRequest request) {
    if (session.waiting.size() >= maxWaitingPerDevice) {
        logPrint(LogStamp::With,
                 "BG conduit: %u requests wait for this session already, request refused\n",
                 static_cast<unsigned>(maxWaitingPerDevice));
        return false;
    }
    request.requester = requester;
    session.waiting.push_back(std::move(request));
    logPrint(LogStamp::With, "BG conduit: request waits for the session, %u waiting\n",
             static_cast<unsigned>(session.waiting.size()));
    return true;
}

void ConduitBg::startWaitingRequests() {
    for (auto& [connection, session] : sessions) {
        while (session.state == SessionState::Idle && !session.waiting.empty()) {
            const WaitingRequest request = std::move(session.waiting.front());
            session.waiting.pop_front();
            startWaiting(session.address, request);
        }
    }
}

void ConduitBg::startWaiting(const BleAddress& address, const WaitingRequest& request) {
    const uint64_t caller = requester;
    requester = request.requester;
    bool accepted = false;
    switch (request.kind) {
    case WaitingRequest::Kind::FindServices:
        accepted = findServices(address);
        break;
    case WaitingRequest::Kind::FindAttributes:
        accepted = findCharsAndDescs(address, request.uuids);
        break;
    case WaitingRequest::Kind::Write:
        accepted = write(address, request.index, request.data.data(),
                         static_cast<uint32_t>(request.data.size()), request.withResponse);
        break;
    }
    requester = caller;
    if (!accepted) {
        logPrint(LogStamp::With, "BG conduit: waiting request refused when its turn came\n");
    }
}

void ConduitBg::forgetRequester(uint64_t client) {
    removeGapOpsOf(gapOps, client);
    for (auto& [connection, session] : sessions) {
        std::erase_if(session.waiting, [client](const WaitingRequest& request) {
            return request.requester == client;
        });
    }
}
