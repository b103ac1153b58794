// N reads of the same ten holding registers from one simulated slave that answers at once (no
// pacing), first through the plug-in, loaded and driven as the host does on the reference host's
// serial port, then through libmodbus's modbus_read_registers on the same pty. Both sides must
// read the same values. Meant to run under callgrind with the collection switched on inside
// countedPluginRead and countedLibmodbusRead (bench/callgrind_read.sh), so that both sides are
// counted over the same span: one call of the read function, from building the request to the
// converted values. A few reads before the counted ones bind every library symbol.
//
//   qarn_read_peers [N [PLUGIN]]   N counted reads per side (default 100); the plug-in file
//                                  (default: the one built with this program)

#include <modbus.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/refhost/HostFactory.h>
#include <qarn/refhost/PluginLoader.h>
#include <qarn/sim/LineRunner.h>
#include <qarn/sim/Profile.h>
#include <qarn/sim/SlaveEngine.h>

#include "ServedLine.h"

namespace {

constexpr int Registers = 10;
constexpr int Node = 1;
// Every register holds its own 0-based number.
constexpr char Profile[] = "hreg 400001..400010 uint16 index\n";
// The pty carries bytes at once whatever the rate; a high rate keeps the port's silence before a
// request short.
constexpr int Baud = 115200;

// The slave, not paced: it answers at once.
sim::LineSettings unpacedLine() {
    sim::LineSettings line;
    line.baud = Baud;
    line.parity = sim::Parity::Even;
    line.pace = false;
    return line;
}

constexpr int WarmUpReads = 3;

// The counted spans: one read each and nothing else, out of line so that they keep their names.
[[gnu::noinline]] bool countedPluginRead(IProtocol* protocol, ITag* tag, uint16_t* values) {
    return protocol->Read(tag, reinterpret_cast<uint8_t*>(values));
}

[[gnu::noinline]] int countedLibmodbusRead(modbus_t* ctx, uint16_t* values) {
    return modbus_read_registers(ctx, 0, Registers, values);
}

bool fail(const std::string& what) {
    std::fprintf(stderr, "qarn_read_peers: %s\n", what.c_str());
    return false;
}

bool expected(const uint16_t* values) {
    for (int i = 0; i < Registers; ++i) {
        if (values[i] != i) {
            return false;
        }
    }
    return true;
}

// The plug-in, as the host drives it: loaded, its module initialised with the reference host,
// one protocol configured and started, one tag of ten registers.
bool readThroughPlugin(const std::string& device, const char* file, int reads) {
    refhost::HostFactory host;
    host.serialFactory().map("com1", device);
    refhost::PluginLoader loader;
    if (!loader.load(file, host)) {
        return fail(loader.error());
    }
    IProtocol* protocol = loader.createProtocol();
    if (protocol == nullptr) {
        return fail(loader.error());
    }
    const std::string config = "CfgVer=1 uart=com1 baudrate=" + std::to_string(Baud) +
                               " parity=even bits=8 stopbits=1 mode=RS-232 defNodeId=1 "
                               "model=GenericModbus timeout=1000 repeat=0";
    ITag* tag = nullptr;
    if (!protocol->Config(config.c_str()) || !protocol->Start() ||
        (tag = protocol->CreateTag("1?HREG?400001?unsignedShort-10")) == nullptr) {
        return fail(std::string("plug-in: ") + protocol->GetLastErrorString() + " (" +
                    host.serialFactory().lastError() + ")");
    }
    uint16_t values[Registers] = {};
    for (int i = 0; i < WarmUpReads + reads; ++i) {
        std::memset(values, 0xFF, sizeof values);
        const bool read = i < WarmUpReads ? protocol->Read(tag, reinterpret_cast<uint8_t*>(values))
                                          : countedPluginRead(protocol, tag, values);
        if (!read || !expected(values)) {
            return fail(std::string("plug-in read: ") + protocol->GetLastErrorString());
        }
    }
    protocol->FreeTag(tag);
    loader.deleteProtocol(protocol);
    return true;
}

bool readThroughLibmodbus(const std::string& device, int reads) {
    modbus_t* ctx = modbus_new_rtu(device.c_str(), Baud, 'E', 8, 1);
    if (ctx == nullptr) {
        return fail(std::string("libmodbus: ") + modbus_strerror(errno));
    }
    bool ok = modbus_set_slave(ctx, Node) == 0 && modbus_connect(ctx) == 0;
    if (!ok) {
        fail(std::string("libmodbus: ") + modbus_strerror(errno));
    }
    uint16_t values[Registers] = {};
    for (int i = 0; ok && i < WarmUpReads + reads; ++i) {
        std::memset(values, 0xFF, sizeof values);
        const int read = i < WarmUpReads ? modbus_read_registers(ctx, 0, Registers, values)
                                         : countedLibmodbusRead(ctx, values);
        ok = read == Registers && expected(values);
        if (!ok) {
            fail(std::string("libmodbus read: ") + modbus_strerror(errno));
        }
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int reads = argc > 1 ? std::atoi(argv[1]) : 100;
    const char* plugin = argc > 2 ? argv[2] : QARN_PLUGIN_FILE;
    if (reads <= 0 || argc > 3) {
        std::fprintf(stderr, "usage: qarn_read_peers [N [PLUGIN]]\n");
        return 2;
    }
    try {
        ServedLine slave(Node, sim::parseProfile(Profile, "bench"), unpacedLine());
        const bool ok = readThroughPlugin(slave.path(), plugin, reads) &&
                        readThroughLibmodbus(slave.path(), reads);
        if (!ok || slave.failed()) {
            return 1;
        }
    } catch (const std::exception& e) {
        fail(e.what());
        return 1;
    }
    std::printf("%d reads of %d registers each through the plug-in and through libmodbus\n", reads,
                Registers);
    return 0;
}
