#include <qarn/toolkit/LineOptions.h>

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <qarn/rtu/LineSettings.h>
#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

const char* const QuickOptions[] = {"--device",   "--baud",   "--parity", "--bits",
                                    "--stopbits", "--mode",   "--model",  "--node",
                                    "--timeout",  "--repeat", "--delay",  "--preset-function"};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string canonicalMode(const std::string& given) {
    std::string m = lower(given);
    m.erase(std::remove(m.begin(), m.end(), '-'), m.end());
    if (m == "rs232" || m == "rs485" || m == "rs422") {
        return "RS-" + m.substr(2);
    }
    throw UsageError("--mode must be RS-232, RS-485 or RS-422, not '" + given + "'");
}

// Configuration values end at white space; a blank inside one travels as "&nbsp;".
std::string configValue(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == ' ') {
            out += "&nbsp;";
        } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            throw UsageError("'" + text +
                             "' holds a line break or tab, which a configuration "
                             "value cannot carry");
        } else {
            out += c;
        }
    }
    return out;
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        throw UsageError("cannot resolve the relative path '" + path + "'");
    }
    return std::string(cwd) + "/" + path;
}

std::string standardRates() {
    std::string list;
    for (const int rate : rtu::StandardBaudRates) {
        list += (list.empty() ? "" : ", ") + std::to_string(rate);
    }
    return list;
}

}  // namespace

void addLineOptions(CLI::App& app, LineOptions& o) {
    const char* line = "Line (full configuration)";
    const char* quick = "Line (quick form)";
    const char* host = "Host";
    auto* config = app.add_option("--config", o.config, "full configuration string (CfgVer=1 ...)")
                       ->group(line);
    auto* configFile =
        app.add_option("--config-file", o.configFile, "file holding the full configuration string")
            ->group(line);
    config->excludes(configFile);

    app.add_option("--device", o.device, "serial device, e.g. /dev/ttyUSB0 (becomes uart=PATH)")
        ->group(quick);
    app.add_option("--baud", o.baud, "baud rate: " + standardRates())
        ->check(CLI::Validator(
            [](std::string& text) {
                // The text as given; one that is no number fails the conversion after this.
                return rtu::isStandardBaud(std::atoi(text.c_str()))
                           ? std::string()
                           : "a baud rate must be one of " + standardRates() + ", not " + text;
            },
            "RATE"))
        ->capture_default_str()
        ->group(quick);
    app.add_option("--parity", o.parity, "none, even, odd or mark")
        ->capture_default_str()
        ->group(quick);
    app.add_option("--bits", o.bits, "data bits, 7 or 8")
        ->check(CLI::IsMember({7, 8}))
        ->capture_default_str()
        ->group(quick);
    app.add_option("--stopbits", o.stopbits, "stop bits, 1 or 2")
        ->check(CLI::IsMember({1, 2}))
        ->capture_default_str()
        ->group(quick);
    app.add_option("--mode", o.mode, "RS-232, RS-485 or RS-422")
        ->capture_default_str()
        ->group(quick);
    app.add_option("--model", o.model,
                   "device model: EM21, EM24, EM26, WM30, WM40, ISMG1xx, ISMG3xx, GenericModbus")
        ->capture_default_str()
        ->group(quick);
    app.add_option("--node", o.node,
                   "default node id (defNodeId); tag addresses carry their own node")
        ->check(CLI::Range(0, 255))
        ->capture_default_str()
        ->group(quick);
    app.add_option("--timeout", o.timeout, "answer time-out per request in ms (default 2000)")
        ->check(CLI::NonNegativeNumber)
        ->group(quick);
    app.add_option("--repeat", o.repeat, "repeats of a failed request (default 2)")
        ->check(CLI::NonNegativeNumber)
        ->group(quick);
    app.add_option("--delay", o.delay, "wait before each request in ms (default 0)")
        ->check(CLI::NonNegativeNumber)
        ->group(quick);
    app.add_option("--preset-function", o.presetFunction,
                   "16 writes holding registers with function 16 (default: 6)")
        ->check(CLI::IsMember({6, 16}))
        ->group(quick);

    app.add_option("--port-map", o.portMaps,
                   "NAME=PATH: a port name of the configuration string, e.g. com1=/dev/ttyUSB0")
        ->group(host);
    app.add_option("--store", o.store,
                   "permanent store file (default $XDG_STATE_HOME/qarn/store.ini or "
                   "~/.local/state/qarn/store.ini)")
        ->group(host);
    app.add_flag("--store-reset", o.storeReset,
                 "move a damaged store file aside (it is kept) and start with an empty store")
        ->group(host);
    app.add_option("--ident", o.ident, "instance name; also the store section (default QARN)")
        ->group(host);
    app.add_option("--plugin", o.plugin,
                   "plug-in to load (default: installed or built beside qarn)")
        ->group(host);
    app.add_flag("--trace", o.traceFile,
                 "print every frame to standard error; --trace=FILE appends to FILE")
        ->group(host);
}

void addPortOptions(CLI::App& app, LineOptions& o) {
    const char* port = "Port";
    app.add_option("--echo", o.echo,
                   "whether the adapter hands back our own requests: auto finds out from the "
                   "first answer that tells, on strips them, off takes what comes as the answer")
        ->check(CLI::IsMember({"auto", "on", "off"}, CLI::ignore_case))
        ->capture_default_str()
        ->group(port);
    app.add_option("--late-guard", o.lateGuardMs,
                   "ms of quiet the line needs after a request without a proper answer before "
                   "the next one, so a late answer is not taken for it (default: the time-out "
                   "just used)")
        ->check(CLI::NonNegativeNumber)
        ->type_name("MS")
        ->group(port);
    app.add_option("--trace-pcap", o.tracePcap,
                   "add every frame to FILE, a capture for Wireshark or tshark (read it with "
                   "tshark -r FILE -o mbrtu.udp.port:502)")
        ->type_name("FILE")
        ->group(port);
}

void finishLineOptions(const CLI::App& app, LineOptions& o) {
    o.quickGiven = std::any_of(std::begin(QuickOptions), std::end(QuickOptions),
                               [&app](const char* name) { return app.count(name) > 0; });
    o.trace = app.count("--trace") > 0;
    // A bare --trace stores the flag's "true"; only --trace=FILE names a file.
    if (!o.trace || o.traceFile == "true") {
        o.traceFile.clear();
    }
}

rtu::Parity lineParity(const LineOptions& o) {
    rtu::Parity parity = rtu::Parity::None;
    if (!rtu::parseParity(o.parity, parity)) {
        throw UsageError("--parity must be none, even, odd or mark, not '" + o.parity + "'");
    }
    return parity;
}

bool hasLine(const LineOptions& o) {
    return !o.config.empty() || !o.configFile.empty() || !o.device.empty();
}

std::string configurationString(const LineOptions& o) {
    const bool full = !o.config.empty() || !o.configFile.empty();
    if (full && o.quickGiven) {
        throw UsageError(
            "--config/--config-file and the quick line options (--device, --baud, "
            "...) exclude each other");
    }
    if (!o.config.empty()) {
        return o.config;
    }
    if (!o.configFile.empty()) {
        std::ifstream in(o.configFile);
        if (!in) {
            throw UsageError("cannot read the configuration file '" + o.configFile + "'");
        }
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    if (o.device.empty()) {
        throw UsageError(o.quickGiven ? "the quick line options need --device PATH"
                                      : "no line configured: give --device PATH (quick form) or "
                                        "--config/--config-file");
    }
    std::string cfg = "CfgVer=1 uart=" + configValue(absolutePath(o.device)) +
                      " baudrate=" + std::to_string(o.baud) +
                      " parity=" + rtu::parityName(static_cast<int>(lineParity(o))) +
                      " bits=" + std::to_string(o.bits) +
                      " stopbits=" + std::to_string(o.stopbits) + " mode=" + canonicalMode(o.mode) +
                      " defNodeId=" + std::to_string(o.node) + " model=" + configValue(o.model);
    if (o.timeout) {
        cfg += " timeout=" + std::to_string(*o.timeout);
    }
    if (o.repeat) {
        cfg += " repeat=" + std::to_string(*o.repeat);
    }
    if (o.delay) {
        cfg += " delay=" + std::to_string(*o.delay);
    }
    if (o.presetFunction) {
        cfg += " presetFunction=" + std::to_string(*o.presetFunction);
    }
    return cfg;
}

std::string defaultStorePath(const char* xdgStateHome, const char* home) {
    // Relative values of these variables are to be ignored.
    if (xdgStateHome != nullptr && xdgStateHome[0] == '/') {
        return std::string(xdgStateHome) + "/qarn/store.ini";
    }
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/qarn/store.ini";
    }
    return std::string();
}

std::string defaultPluginPath() {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string dir(exe, static_cast<size_t>(n));
        dir.erase(dir.rfind('/'));
        // bin/qarn beside lib/.../qarn/libqarn.so, as installed.
        const std::string installed = dir + "/" QARN_BIN_TO_PLUGIN_DIR "/libqarn.so";
        char resolved[4096];
        if (realpath(installed.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return QARN_BUILD_PLUGIN_PATH;
}

}  // namespace qarn
