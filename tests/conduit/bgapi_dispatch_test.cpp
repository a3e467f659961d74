// BgHandlerTable and unhandledMessage: attached handlers get the payload, the rest print
// the unhandled line on standard output.
#include "conduit/bgapi/bgapi_dispatch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Recorder {
    void onStatus(const uint8_t* payload, size_t length) {
        calls.push_back("status " + std::to_string(payload[0]) + "/" + std::to_string(length));
    }
    void onValue(const uint8_t* payload, size_t length) {
        calls.push_back("value " + std::to_string(payload[0]) + "/" + std::to_string(length));
    }
    std::vector<std::string> calls;
};

TEST(BgapiDispatch, RunsTheHandlerAttachedToTheRow) {
    BgHandlerTable<Recorder> table;
    table.attach(BgMessage::EvtConnectionStatus, &Recorder::onStatus);
    table.attach(BgMessage::EvtAttclientAttributeValue, &Recorder::onValue);
    Recorder recorder;
    const uint8_t payload[3] = {9, 8, 7};
    testing::internal::CaptureStdout();
    table.run(recorder, bgMessage(BgMessage::EvtAttclientAttributeValue), payload, 3);
    table.run(recorder, bgMessage(BgMessage::EvtConnectionStatus), payload, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"value 9/3", "status 9/1"}));
}

TEST(BgapiDispatch, RowsWithoutAHandlerPrintTheUnhandledLine) {
    BgHandlerTable<Recorder> table;
    table.attach(BgMessage::EvtConnectionStatus, &Recorder::onStatus);
    Recorder recorder;
    const uint8_t payload[1] = {0};
    testing::internal::CaptureStdout();
    table.run(recorder, bgMessage(BgMessage::EvtSystemBoot), payload, 1);
    table.run(recorder, bgMessage(BgMessage::RspConnectionGetStatus), payload, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "RVL: unhandled BG response\nRVL: unhandled BG response\n");
    EXPECT_TRUE(recorder.calls.empty());
}

} // namespace
