// The handler of each response and event that the conduit acts on; every other known
// message reaches unhandledMessage.
#include "conduit/bg/conduit_bg.h"
#include "conduit/bgapi/bgapi_dispatch.h"

const ConduitBg::Handlers& ConduitBg::handlers() {
    static const Handlers table = [] {
        Handlers built;
        built.attach(BgMessage::RspSystemHello, &ConduitBg::onHelloResponse);
        built.attach(BgMessage::RspConnectionDisconnect, &ConduitBg::onDisconnectResponse);
        built.attach(BgMessage::RspConnectionGetRssi, &ConduitBg::onRssiResponse);
        built.attach(BgMessage::RspAttclientReadByGroupType, &ConduitBg::onReadByGroupTypeResponse);
        built.attach(BgMessage::RspAttclientReadByType, &ConduitBg::onReadByTypeResponse);
        built.attach(BgMessage::RspAttclientReadByHandle, &ConduitBg::onReadByHandleResponse);
        built.attach(BgMessage::RspAttclientAttributeWrite, &ConduitBg::onAttributeWriteResponse);
        built.attach(BgMessage::RspAttclientWriteCommand, &ConduitBg::onWriteCommandResponse);
        built.attach(BgMessage::RspAttclientPrepareWrite, &ConduitBg::onPrepareWriteResponse);
        built.attach(BgMessage::RspAttclientExecuteWrite, &ConduitBg::onExecuteWriteResponse);
        built.attach(BgMessage::RspGapDiscover, &ConduitBg::onDiscoverResponse);
        built.attach(BgMessage::RspGapConnectDirect, &ConduitBg::onConnectDirectResponse);
        built.attach(BgMessage::RspGapEndProcedure, &ConduitBg::onEndProcedureResponse);
        built.attach(BgMessage::RspGapSetScanParameters, &ConduitBg::onSetScanParametersResponse);
        built.attach(BgMessage::EvtConnectionStatus, &ConduitBg::onConnectionStatus);
        built.attach(BgMessage::EvtConnectionDisconnected, &ConduitBg::onConnectionDisconnected);
        built.attach(BgMessage::EvtAttclientProcedureCompleted, &ConduitBg::onProcedureCompleted);
        built.attach(BgMessage::EvtAttclientGroupFound, &ConduitBg::onGroupFound);
        built.attach(BgMessage::EvtAttclientAttributeValue, &ConduitBg::onAttributeValue);
        built.attach(BgMessage::EvtGapScanResponse, &ConduitBg::onScanResponse);
        return built;
    }();
    return table;
}
