#pragma once
// Finds the line settings a node answers at: tries baud rates, parity and stop bits (8 data bits
// only, as RTU requires), most common first, until a probe of the node gets an answer or an
// exception with a good CRC.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <qarn/commission/NodeProber.h>
#include <qarn/rtu/LineSettings.h>

class IProtocol;

namespace qarn {

struct LineSetting {
    int baud = 9600;
    rtu::Parity parity = rtu::Parity::Even;
    int stopBits = 1;
};

// "19200 8N1".
std::string settingName(const LineSetting& setting);

// Every setting the search tries, in order: 8N1 and 8E1 (the most common factory setting and the
// Modbus default), then 8N2 and 8O1, then 8E2 and 8O2, each group at 9600, 19200, 38400, 115200,
// 57600, 4800, 2400 and 1200 baud. Mark parity is left out: on the wire 8M1 is 8N2.
std::vector<LineSetting> searchOrder();

// `config` with the setting's baud rate, parity, 8 data bits and stop bits.
std::string configWithSetting(const std::string& config, const LineSetting& setting);

struct SearchHooks {
    // Before each try (index counts from 0), e.g. to set the late-answer guard and show progress.
    std::function<void(const LineSetting& setting, const ProbeTiming& timing, size_t index)>
        beforeTry;
    // Polled before each try; true ends the search.
    std::function<bool()> stopRequested;
};

struct SearchResult {
    bool found = false;
    bool stopped = false;      // the stop request ended the search first
    size_t tried = 0;          // settings probed
    LineSetting setting;       // when found
    NodeProbe probe;           // when found: the answer
    std::string config;        // when found: the configuration string at the setting
    std::string portRefusals;  // settings the port could not be set to, and why
};

class SettingsSearch {
  public:
    // `config` is the line's configuration string; each try runs the protocol on a copy with the
    // setting, no repeats and the probe time-out of its speed (Stop, Config, Start).
    SettingsSearch(IProtocol& protocol, NodeProber& prober, std::string config,
                   SearchHooks hooks = {});

    // Throws Failure when the plug-in refuses a configuration (a fault of the given string).
    SearchResult run(int node, const std::vector<LineSetting>& order = searchOrder());

  private:
    IProtocol& protocol_;
    NodeProber& prober_;
    std::string config_;
    SearchHooks hooks_;
};

}  // namespace qarn
