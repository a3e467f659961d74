// ConduitBgTestPeer: what the ConduitBg tests (and the BGAPI reader's fuzz target) reach
// beyond the public operations: the conduit's records, the GAP step and completion, the
// write queue's advance and the characteristic look-up steps. A test conduit derives from
// it; nothing in the program does.
//
// Threads: as ConduitBg. The records it exposes are guarded by the conduit lock, which
// the tests' single thread holds (or, in the thread tests, takes).
#pragma once

#include "conduit/bg/conduit_bg.h"

class ConduitBgTestPeer : public ConduitBg {
public:
    using ConduitBg::ConduitBg;

    using ConduitBg::connections;
    using ConduitBg::gapOps;
    using ConduitBg::lastHelloMs;
    using ConduitBg::ready;
    using ConduitBg::scanWanted;
    using ConduitBg::sessions;
    using ConduitBg::silentMs;
    using ConduitBg::state;

    using ConduitBg::advanceWriteQueue;
    using ConduitBg::characteristicFound;
    using ConduitBg::completeGapOp;
    using ConduitBg::lookUpNextCharacteristic;
    using ConduitBg::runGapStep;
    using ConduitBg::sendNextPrepareWrite;
    using ConduitBg::startWaitingRequests;
};
