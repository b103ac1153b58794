// What one probe makes of what comes back, through the real driver on a scripted port, with and
// without what the reference host's port saw.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include <qarn/commission/NodeProber.h>
#include <qarn/refhost/LineReport.h>
#include <qarn/toolkit/Errors.h>
#include "ProbeRig.h"

namespace {

using qarn::NodeState;
using qarntest::hexBytes;
using qarntest::withCrc;

struct Rig {
    Rig() {
        EXPECT_TRUE(protocol.Config(commissiontest::Line));
        EXPECT_TRUE(protocol.Start());
    }
    qarntest::RecordingHost host;
    qarntest::ScriptedSerialPort port;
    // Before the protocol, which takes its host services when it is made.
    const bool installed = commissiontest::useHost(host, port);
    Protocol_QARN protocol;
};

TEST(NodeProber, EachKindOfReplyGivesItsResult) {
    const struct {
        const char* what;
        std::optional<std::string> reply;  // nothing: silence
        std::optional<refhost::LineReport> seen;
        NodeState state;
        std::string text;
    } cases[] = {
        {"answer", "05 03 02 00 2A", std::nullopt, NodeState::Answer, "answer"},
        {"exception named by the plug-in", "05 83 02", std::nullopt, NodeState::Exception,
         "exception 2"},
        {"exception of a code the plug-in does not name", "05 83 0B", std::nullopt,
         NodeState::Exception, "exception"},
        {"... which the port saw", "05 83 0B", refhost::LineReport{}, NodeState::Exception,
         "exception 11"},
        {"another node's answer", "06 03 02 00 2A", std::nullopt, NodeState::Garbled, "garbled"},
        {"silence", std::nullopt, std::nullopt, NodeState::Silent, "silent"},
        {"a bad CRC, dropped by the port", std::nullopt, refhost::LineReport{}, NodeState::Garbled,
         "garbled"},
        {"the stop request", std::nullopt, refhost::LineReport{}, NodeState::Stopped, "stopped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        std::optional<refhost::LineReport> seen = c.seen;
        if (seen && c.text == "exception 11") {
            seen->lastException = 11;
        } else if (seen && c.state == NodeState::Garbled) {
            seen->crcErrors = 1;
        } else if (seen) {
            seen->cancelled = true;
        }
        qarn::ProbeHooks hooks;
        int before = 0;
        hooks.beforeProbe = [&before] { ++before; };
        hooks.report = [&seen]() -> const refhost::LineReport* { return seen ? &*seen : nullptr; };
        if (c.reply) {
            rig.port.answer(withCrc(hexBytes(*c.reply)));
        } else {
            rig.port.silence();
        }
        qarn::NodeProber prober(rig.protocol, "HREG?400001?unsignedShort", hooks);
        const qarn::NodeProbe p = prober.probe(5);
        EXPECT_EQ(p.node, 5);
        EXPECT_EQ(p.state, c.state);
        EXPECT_EQ(qarn::resultText(p), c.text);
        EXPECT_EQ(qarn::isPresent(p),
                  c.state == NodeState::Answer || c.state == NodeState::Exception);
        EXPECT_EQ(before, 1);
        // One read of one holding register at 0 for node 5, no repeat.
        ASSERT_EQ(rig.port.requests().size(), 1U);
        EXPECT_EQ(rig.port.requests()[0], withCrc(hexBytes("05 03 00 00 00 01")));
    }
}

TEST(NodeProber, FailuresOfTheToolOrTheDeviceEndTheScan) {
    Rig rig;
    qarn::NodeProber badRead(rig.protocol, "HREG?nowhere?unsignedShort");
    EXPECT_THROW(badRead.probe(1), qarn::Failure);

    refhost::LineReport gone;
    gone.gone = true;
    gone.osReason = "hang-up";
    qarn::ProbeHooks hooks;
    hooks.report = [&gone] { return &gone; };
    qarn::NodeProber prober(rig.protocol, "HREG?400001?unsignedShort", hooks);
    rig.port.silence();
    try {
        prober.probe(1);
        ADD_FAILURE() << "a gone device is no silent node";
    } catch (const qarn::Failure& e) {
        EXPECT_NE(std::string(e.what()).find("device gone: hang-up"), std::string::npos);
    }
}

TEST(NodeProber, TheGuardAfterASilentNodeIsWaitedOutBeforeTheClockStarts) {
    using Clock = std::chrono::steady_clock;
    Rig rig;
    qarn::NodeProber prober(rig.protocol, "HREG?400001?unsignedShort");
    prober.setGuardMs(200);
    rig.port.silence();
    EXPECT_EQ(prober.probe(3).state, NodeState::Silent);
    for (int i = 0; i < 2; ++i) {
        // The guard holds the next request and, once more, the one after the first answer.
        rig.port.answer(withCrc(hexBytes("04 03 02 00 2A")));
        const Clock::time_point start = Clock::now();
        const qarn::NodeProbe p = prober.probe(4);
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200)) << i;
        EXPECT_EQ(p.state, NodeState::Answer);
        EXPECT_LT(p.latencyMs, 150.0) << "the guard counted as the node's latency";
    }
    rig.port.answer(withCrc(hexBytes("04 03 02 00 2A")));
    const Clock::time_point start = Clock::now();
    prober.probe(4);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(150)) << "a healthy line waits";
}

}  // namespace
