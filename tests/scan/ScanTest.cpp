// One scan cycle against the real driver on a scripted port: what a failed request, a value that
// does not convert and a request the driver answers itself do to the results and the summary.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/host/ErrorCodes.h>
#include <qarn/plugin/HostServices.h>
#include <qarn/scan/Scan.h>
#include "RecordingHost.h"

namespace {

using qarntest::Bytes;

TEST(Scan, AFailedRequestMarksItsTagsAndTheCycleGoesOn) {
    qarntest::RecordingHost host;
    qarntest::ScriptedSerialPort port;
    piMultiTask = &host.multiTask();
    piSerialFactory = &host.serialFactory();
    piPermanentStorage = &host.store();
    host.serialFactory().usePort(&port);
    Protocol_QARN protocol;
    ASSERT_TRUE(
        protocol.Config("CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 "
                        "mode=RS-485 defNodeId=1 model=GenericModbus repeat=0"));
    ASSERT_TRUE(protocol.Start());
    std::vector<const ITag*> tags;
    for (const char* address : {"1?HREG?400001?unsignedShort", "1?HREG?400002?unsignedShort(bcd)",
                                "1?IREG?300001?short", "1?NO?0?unsignedByte"}) {
        tags.push_back(protocol.CreateTag(address));
        ASSERT_NE(tags.back(), nullptr) << address;
    }
    bool stop = false;
    bool stopDuringNextRead = false;
    qarn::ScanHooks hooks;
    hooks.stopRequested = [&stop] { return stop; };
    hooks.beforeRead = [&] { stop = stop || stopDuringNextRead; };
    hooks.answeredLocally = [](const ITag& t) {
        return std::string(t.GetVarName()).find("?NO?") != std::string::npos;
    };
    qarn::Scan scan(protocol, tags, hooks);
    ASSERT_EQ(scan.plan().size(), 3U);
    EXPECT_EQ(scan.lineRequests(), 2U) << "the node override is no request";

    // Both holding registers in one answer, the second not BCD; the input register unanswered.
    port.answer(qarntest::withCrc(qarntest::hexBytes("01 03 04 12 34 00 AB")));
    port.silence();
    const qarn::CycleSummary summary = scan.runCycle();
    EXPECT_TRUE(summary.complete);
    EXPECT_EQ(summary.requests, 2U);
    EXPECT_EQ(summary.failedRequests, 1U);
    EXPECT_EQ(summary.failedTags, 2U);
    const std::vector<qarn::TagResult>& r = scan.results();
    EXPECT_TRUE(r[0].ok && r[0].value == (Bytes{0x34, 0x12}));
    EXPECT_EQ(std::make_pair(r[1].ok, r[1].code), std::make_pair(false, ErrorCode::Conversion));
    EXPECT_EQ(std::make_pair(r[2].code, r[2].text),
              std::make_pair(ErrorCode::Communication, std::string("Communication error")));
    EXPECT_TRUE(r[3].ok && r[3].value == Bytes{1});

    // A stop request abandons the next cycle before its first request.
    const size_t sent = port.requests().size();
    stop = true;
    EXPECT_FALSE(scan.runCycle().complete);
    EXPECT_EQ(port.requests().size(), sent);

    // One that comes while a request waits (and makes it fail) abandons the cycle after it.
    stop = false;
    stopDuringNextRead = true;
    port.silence();
    EXPECT_FALSE(scan.runCycle().complete);
    EXPECT_EQ(port.requests().size(), sent + 1);
}

}  // namespace
