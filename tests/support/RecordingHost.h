#pragma once
// Host factory double: one object for each of the nine host services (any can be withheld), and
// the names asked for and the services given back, in order. Also the services the driver calls.

#include <algorithm>
#include <array>

#include <qarn/host/ICDSBuffer.h>
#include <qarn/host/IDiag.h>
#include <qarn/host/IDriverInterface.h>
#include <qarn/host/IFastTimer.h>
#include <qarn/host/IInterfaceFactory.h>
#include <qarn/host/IMultiTask2.h>
#include <qarn/host/ISerialFactory.h>
#include <qarn/host/ISmux.h>
#include <qarn/host/ISocketFactory.h>
#include "MemoryStore.h"
#include "ScriptedSerialPort.h"

namespace qarntest {

// Sleep records what was asked and returns at once, so delays cost no time and can be checked.
class RecordingMultiTask : public HostService<IMultiTask2> {
  public:
    RecordingMultiTask() : HostService("IMultiTask2", "TestMultiTask", 3) {}
    void Sleep(int ms) override { sleeps.push_back({ms, nextCallStamp()}); }
    std::vector<std::pair<int, unsigned long>> sleeps;  // ms, stamp
};

// Hands out the port a test installs, can refuse every open, records "open NAME" and "close".
class RecordingSerialFactory : public HostService<ISerialFactory> {
  public:
    RecordingSerialFactory() : HostService("ISerialFactory", "TestSerialFactory", 2) {}
    ISerialPort* OpenSerial(const char* name) override {
        calls.push_back(std::string("open ") + (name != nullptr ? name : ""));
        openPorts += openFails ? 0 : 1;
        return openFails ? nullptr : port_;
    }
    void CloseSerial(ISerialPort*) override {
        calls.push_back("close");
        --openPorts;
    }
    void usePort(ISerialPort* port) { port_ = port; }  // the caller keeps ownership

    bool openFails = false;
    int openPorts = 0;  // handed out and not given back
    std::vector<std::string> calls;

  private:
    ISerialPort* port_ = nullptr;
};

class RecordingHost final : public IInterfaceFactory {
  public:
    // The services in the order the module asks for them.
    inline static const std::vector<std::string> ServiceNames = {
        "IMultiTask2",       "ISerialFactory",   "ISocketFactory", "ICDSBuffer", "IDiag",
        "IPermanentStorage", "IDriverInterface", "ISmux",          "IFastTimer"};

    IInterface* CreateInterface(const char* name) override {
        created.push_back(name != nullptr ? name : "");
        const size_t i = index(created.back());
        return i < objects_.size() && !withheld_[i] ? objects_[i] : nullptr;
    }
    void ReleaseInterface(IInterface* object) override {
        const auto found = std::find(objects_.begin(), objects_.end(), object);
        const bool ours = object != nullptr && found != objects_.end();
        released.push_back(ours ? ServiceNames[found - objects_.begin()] : "");
    }
    // From now on the named service is refused (or delivered again); throws for other names.
    void withhold(const std::string& name, bool refused = true) {
        withheld_.at(index(name)) = refused;
    }
    IInterface* service(const std::string& name) const { return objects_.at(index(name)); }
    void clearCalls() {
        created.clear();
        released.clear();
    }
    RecordingMultiTask& multiTask() { return multiTask_; }
    RecordingSerialFactory& serialFactory() { return serialFactory_; }
    MemoryStore& store() { return store_; }

    std::vector<std::string> created, released;  // names asked for, services given back ("": none)

  private:
    static size_t index(const std::string& name) {
        return static_cast<size_t>(std::find(ServiceNames.begin(), ServiceNames.end(), name) -
                                   ServiceNames.begin());
    }

    RecordingMultiTask multiTask_;
    RecordingSerialFactory serialFactory_;
    HostService<ISocketFactory> socketFactory_{"ISocketFactory", "TestSocketFactory", 1};
    HostService<ICDSBuffer> cdsBuffer_{"ICDSBuffer", "TestCDSBuffer", 1};
    HostService<IDiag> diag_{"IDiag", "TestDiag", 1};
    MemoryStore store_;
    HostService<IDriverInterface> driverInterface_{"IDriverInterface", "TestDriverInterface", 1};
    HostService<ISmux> smux_{"ISmux", "TestSmux", 1};
    HostService<IFastTimer> fastTimer_{"IFastTimer", "TestFastTimer", 1};
    // In the order of ServiceNames.
    const std::array<IInterface*, 9> objects_ = {static_cast<IMultiTask2*>(&multiTask_),
                                                 static_cast<ISerialFactory*>(&serialFactory_),
                                                 &socketFactory_,
                                                 &cdsBuffer_,
                                                 &diag_,
                                                 static_cast<IPermanentStorage*>(&store_),
                                                 &driverInterface_,
                                                 &smux_,
                                                 &fastTimer_};
    std::array<bool, 9> withheld_ = {};
};

}  // namespace qarntest
