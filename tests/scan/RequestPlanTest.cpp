// What `--plan` says about each request, checked against the frame the driver then sends for it.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/plugin/HostServices.h>
#include <qarn/scan/RequestPlan.h>
#include "RecordingHost.h"

namespace {

TEST(RequestPlan, NamesTheFunctionStartAndCountTheDriverSends) {
    qarntest::RecordingHost host;
    qarntest::ScriptedSerialPort port;
    piMultiTask = &host.multiTask();
    piSerialFactory = &host.serialFactory();
    piPermanentStorage = &host.store();
    host.serialFactory().usePort(&port);
    Protocol_QARN protocol;
    ASSERT_TRUE(
        protocol.Config("CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 "
                        "mode=RS-485 defNodeId=1 model=GenericModbus repeat=0 "
                        "Node2::defNodeId=2 Node2::model=EM24"));
    ASSERT_TRUE(protocol.Start());

    // Tags (';'), then each request: "node function start count" or "-" for none.
    const std::pair<const char*, const char*> cases[] = {
        // A register group from its first register to the one its furthest tag ends in.
        {"1?HREG?400001?short;1?HREG?400002?float", "1 3 0 3"},
        // Starting at the high byte of a register, a 3-byte string spans two.
        {"1?IREG?300010.1?string-3", "1 4 9 2"},
        {"1?HREG?400010.1?byte;1?HREG?400011.9?boolean", "1 3 9 2"},
        // Bits: the leader's own; OUTP from 10001 is a discrete input to the driver.
        {"1?OUTP?5?boolean-3;1?INP?100020?boolean;1?OUTP?10001?boolean;1?OUTP?20001?boolean",
         "1 1 4 3|1 2 0 1|1 2 19 1|1 1 20000 1"},
        {"1?OUTP?65536?boolean", "1 1 65535 1"},
        // The node areas go nowhere; other nodes are their own requests.
        {"1?NO?0?unsignedByte;2?HREG?400100?unsignedShort", "-|2 3 99 1"},
    };
    for (const auto& [addresses, expected] : cases) {
        protocol.DeleteTags();
        std::vector<const ITag*> tags;
        std::istringstream in(addresses);
        for (std::string a; std::getline(in, a, ';');) {
            tags.push_back(protocol.CreateTag(a.c_str()));
            ASSERT_NE(tags.back(), nullptr) << a << ": " << protocol.GetLastErrorString();
        }
        const std::vector<qarn::ScanGroup> plan = qarn::planScan(protocol, tags);
        const std::vector<qarn::PlannedRequest> requests =
            qarn::describeRequests(protocol, tags, plan);
        ASSERT_EQ(requests.size(), plan.size());
        std::string described;
        std::string sent;
        for (size_t i = 0; i < plan.size(); ++i) {
            const qarn::PlannedRequest& r = requests[i];
            const std::string separator = i == 0 ? "" : "|";
            if (r.function == 0) {
                described += separator + "-";
            } else {
                described += separator + std::to_string(r.node) + " " + std::to_string(r.function) +
                             " " + std::to_string(r.start) + " " + std::to_string(r.count);
            }
            port.clearCalls();
            port.silence();
            std::vector<uint8_t> block(static_cast<size_t>(plan[i].length) + 8);
            protocol.ReadBlock(tags[plan[i].tags.front()], block.data(), plan[i].length);
            port.clearScript();
            const std::vector<qarntest::Bytes> frames = port.requests();
            if (frames.empty()) {
                sent += separator + "-";
            } else {
                const qarntest::Bytes& f = frames.front();
                ASSERT_GE(f.size(), 6U);
                sent += separator + std::to_string(f[0]) + " " + std::to_string(f[1]) + " " +
                        std::to_string(f[2] << 8 | f[3]) + " " + std::to_string(f[4] << 8 | f[5]);
            }
        }
        EXPECT_EQ(described, expected) << addresses;
        EXPECT_EQ(sent, described) << addresses << ": what the driver sent";
    }
    EXPECT_EQ(qarn::tagAddress(2, 19), 100020);
    EXPECT_EQ(qarn::tagAddress(0, 0), -1);
    EXPECT_EQ(qarn::functionName(4), "read input registers");
}

}  // namespace
