#include <qarn/commission/SettingsSearch.h>

#include <qarn/commission/ConfigText.h>
#include <qarn/host/IProtocol.h>
#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

std::string protocolText(const IProtocol& protocol) {
    const char* text = protocol.GetLastErrorString();
    return text != nullptr ? text : "";
}

}  // namespace

std::string settingName(const LineSetting& s) {
    const char* const letters = "NEOM";
    const int parity = static_cast<int>(s.parity);
    return std::to_string(s.baud) + " 8" + (parity >= 0 && parity <= 3 ? letters[parity] : '?') +
           std::to_string(s.stopBits);
}

std::vector<LineSetting> searchOrder() {
    using rtu::Parity;
    const int bauds[] = {9600, 19200, 38400, 115200, 57600, 4800, 2400, 1200};
    const std::vector<std::vector<std::pair<Parity, int>>> groups = {
        {{Parity::None, 1}, {Parity::Even, 1}},
        {{Parity::None, 2}, {Parity::Odd, 1}},
        {{Parity::Even, 2}, {Parity::Odd, 2}},
    };
    std::vector<LineSetting> order;
    for (const auto& group : groups) {
        for (const int baud : bauds) {
            for (const auto& [parity, stopBits] : group) {
                order.push_back(LineSetting{baud, parity, stopBits});
            }
        }
    }
    return order;
}

std::string configWithSetting(const std::string& config, const LineSetting& s) {
    std::string out = withConfigValue(config, "baudrate", std::to_string(s.baud));
    out = withConfigValue(out, "parity", rtu::parityName(static_cast<int>(s.parity)));
    out = withConfigValue(out, "bits", "8");
    return withConfigValue(out, "stopbits", std::to_string(s.stopBits));
}

SettingsSearch::SettingsSearch(IProtocol& protocol, NodeProber& prober, std::string config,
                               SearchHooks hooks)
    : protocol_(protocol), prober_(prober), config_(std::move(config)), hooks_(std::move(hooks)) {}

SearchResult SettingsSearch::run(int node, const std::vector<LineSetting>& order) {
    SearchResult result;
    for (size_t i = 0; i < order.size(); ++i) {
        const LineSetting& s = order[i];
        if (hooks_.stopRequested && hooks_.stopRequested()) {
            result.stopped = true;
            return result;
        }
        const ProbeTiming timing = probeTiming(s.baud, s.parity, s.stopBits);
        if (hooks_.beforeTry) {
            hooks_.beforeTry(s, timing, i);
        }
        std::string config = configWithSetting(config_, s);
        config = withConfigValue(config, "timeout", std::to_string(timing.timeoutMs));
        config = withConfigValue(config, "repeat", "0");
        protocol_.Stop();
        if (!protocol_.Config(config.c_str())) {
            throw Failure("configuration refused at " + settingName(s) + ": " +
                          protocolText(protocol_));
        }
        if (!protocol_.Start()) {
            // An adapter that cannot do this speed or framing: the node is not there either.
            result.portRefusals += (result.portRefusals.empty() ? "" : "; ") + settingName(s) +
                                   ": " + protocolText(protocol_);
            ++result.tried;
            continue;
        }
        const NodeProbe probe = prober_.probe(node);
        if (probe.state == NodeState::Stopped) {
            result.stopped = true;
            return result;
        }
        ++result.tried;
        if (isPresent(probe)) {
            result.found = true;
            result.setting = s;
            result.probe = probe;
            result.config =
                withConfigValue(configWithSetting(config_, s), "defNodeId", std::to_string(node));
            return result;
        }
    }
    return result;
}

}  // namespace qarn
