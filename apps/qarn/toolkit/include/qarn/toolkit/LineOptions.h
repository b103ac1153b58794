#pragma once
// The options every sub-command shares: how the line is configured (a full configuration string,
// or the quick form that qarn turns into one) and how the host around the plug-in is set up.

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}
namespace rtu {
enum class Parity : int;
}

namespace qarn {

struct LineOptions {
    // Full configuration string, inline or from a file.
    std::string config;
    std::string configFile;

    // Quick form.
    std::string device;
    int baud = 9600;
    std::string parity = "even";
    int bits = 8;
    int stopbits = 1;
    std::string mode = "RS-485";
    std::string model = "GenericModbus";
    int node = 1;
    std::optional<int> timeout;
    std::optional<int> repeat;
    std::optional<int> delay;
    std::optional<int> presetFunction;

    // The host's port, for commands that talk to the line.
    std::string echo = "auto";       // auto, on or off
    std::optional<int> lateGuardMs;  // unset: the time-out of the wait that armed the guard
    std::string tracePcap;           // capture file of the line's frames; empty: none
    // Set by the parser: whether any quick-form option was given.
    bool quickGiven = false;

    // Host.
    std::vector<std::string> portMaps;
    std::string store;
    bool storeReset = false;  // move a damaged store aside and start an empty one
    std::string ident;
    std::string plugin;
    bool trace = false;
    std::string traceFile;  // empty: standard error
};

// Declares the shared options on a sub-command.
void addLineOptions(CLI::App& app, LineOptions& options);
// Declares the port options (--echo, --late-guard, --trace-pcap) on a sub-command that talks to
// the line.
void addPortOptions(CLI::App& app, LineOptions& options);
// After parsing `app`: records which quick options were given and normalises the trace option.
void finishLineOptions(const CLI::App& app, LineOptions& options);

// The quick form's parity. Throws UsageError when --parity names none of the four.
rtu::Parity lineParity(const LineOptions& options);
// True when the options configure a line (a configuration string or a device).
bool hasLine(const LineOptions& options);
// The configuration string for Config, built from the quick form or taken from --config or
// --config-file. Throws UsageError for conflicting or bad options.
std::string configurationString(const LineOptions& options);

// Where the store lives when --store is not given: $XDG_STATE_HOME/qarn/store.ini, else
// $HOME/.local/state/qarn/store.ini. Empty when neither tells a place.
std::string defaultStorePath(const char* xdgStateHome, const char* home);

// The plug-in to load when --plugin is not given: the one installed beside the tool, else the one
// of the build tree the tool was built in.
std::string defaultPluginPath();

}  // namespace qarn
