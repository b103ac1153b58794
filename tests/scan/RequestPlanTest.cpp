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
    host.serialFactory().usePort(&port);
    Protocol_QARN protocol;
    ASSERT_TRUE(protocol.Config(
        "CfgVer=1 uart=com1 baudrate=9600 parity=none bits=8 stopbits=1 mode=RS-485 defNodeId=1 "
        "model=GenericModbus repeat=0 Node2::defNodeId=2 Node2::model=EM24"));
    ASSERT_TRUE(protocol.Start());
    // Tags (';'), then each request "node function start count", "-" for none.
    const std::pair<const char*, const char*> cases[] = {
        // Registers from the one holding the group's first byte to the one holding its last.
        {"1?HREG?400001?short;1?HREG?400002?float", "1 3 0 3"},
        {"1?IREG?300010.1?string-3", "1 4 9 2"},
        {"1?HREG?400010.1?byte;1?HREG?400011.9?boolean", "1 3 9 2"},
        // Bits: the leader's own; OUTP from 10001 to 19999 is a discrete input to the driver.
        {"1?OUTP?5?boolean-3;1?INP?100020?boolean;1?OUTP?10001?boolean;1?OUTP?20001?boolean",
         "1 1 4 3|1 2 0 1|1 2 19 1|1 1 20000 1"},
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
        std::string described, sent;
        for (size_t i = 0; i < plan.size(); ++i) {
            const qarn::PlannedRequest& r = requests[i];
            const auto text = [](int node, int function, int start, int count) {
                return "|" + std::to_string(node) + " " + std::to_string(function) + " " +
                       std::to_string(start) + " " + std::to_string(count);
            };
            described += r.function == 0 ? "|-" : text(r.node, r.function, r.start, r.count);
            port.clearCalls();
            port.silence();
            std::vector<uint8_t> block(static_cast<size_t>(plan[i].length));
            protocol.ReadBlock(tags[plan[i].tags.front()], block.data(), plan[i].length);
            const std::vector<qarntest::Bytes> frames = port.requests();
            const qarntest::Bytes f = frames.empty() ? qarntest::Bytes(6) : frames.front();
            sent += frames.empty() ? "|-" : text(f[0], f[1], f[2] << 8 | f[3], f[4] << 8 | f[5]);
        }
        EXPECT_EQ(described, "|" + std::string(expected)) << addresses;
        EXPECT_EQ(sent, described) << addresses << ": what the driver sent";
    }
}

}  // namespace
