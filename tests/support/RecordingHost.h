#pragma once
// Host factory double. Hands out one object for each of the nine host services, can withhold any
// of them by name, and records every CreateInterface and ReleaseInterface call in order with the
// service name and the object. Also the doubles of the services the driver calls.

#include <algorithm>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "ICDSBuffer.h"
#include "IDiag.h"
#include "IDriverInterface.h"
#include "IFastTimer.h"
#include "IInterfaceFactory.h"
#include "IMultiTask2.h"
#include "ISerialFactory.h"
#include "ISmux.h"
#include "ISocketFactory.h"
#include "MemoryStore.h"
#include "ScriptedSerialPort.h"

namespace qarntest {

// Sleep records what was asked and returns at once, so delays cost no time and can be checked.
class RecordingMultiTask : public HostService<IMultiTask2> {
  public:
    struct SleepCall {
        int ms;
        unsigned long stamp;
    };
    RecordingMultiTask() : HostService("IMultiTask2", "TestMultiTask", 3) {}
    void Sleep(int ms) override { sleeps_.push_back({ms, nextCallStamp()}); }
    const std::vector<SleepCall>& sleeps() const { return sleeps_; }
    void clearCalls() { sleeps_.clear(); }

  private:
    std::vector<SleepCall> sleeps_;
};

// Hands out one port (its own quiet one, or one a test installs), can refuse every open, and
// records OpenSerial and CloseSerial in order.
class RecordingSerialFactory : public HostService<ISerialFactory> {
  public:
    enum class Op { Open, Close };
    struct Call {
        Op op;
        std::string name;  // Open only
    };
    RecordingSerialFactory() : HostService("ISerialFactory", "TestSerialFactory", 2) {}

    ISerialPort* OpenSerial(const char* name) override {
        calls_.push_back({Op::Open, name != nullptr ? name : ""});
        openPorts_ += openFails_ ? 0 : 1;
        return openFails_ ? nullptr : &port();
    }
    void CloseSerial(ISerialPort*) override {
        calls_.push_back({Op::Close, ""});
        --openPorts_;
    }

    void setOpenFails(bool fails) { openFails_ = fails; }
    // Hands out `port` from now on; the caller keeps ownership. Null returns to the own port.
    void usePort(RecordingSerialPort* port) { installed_ = port; }
    RecordingSerialPort& port() { return installed_ != nullptr ? *installed_ : ownPort_; }
    // True while more ports were handed out than given back.
    bool portOpen() const { return openPorts_ > 0; }
    const std::vector<Call>& calls() const { return calls_; }
    void clearCalls() { calls_.clear(); }

  private:
    bool openFails_ = false;
    RecordingSerialPort ownPort_;
    RecordingSerialPort* installed_ = nullptr;
    int openPorts_ = 0;
    std::vector<Call> calls_;
};

class RecordingHost final : public IInterfaceFactory {
  public:
    enum class Op { Create, Release };
    struct Call {
        Op op;
        // Create: the name asked for; Release: the name of the service given back ("" when the
        // object is none of the host's).
        std::string name;
        const IInterface* object;  // Create: the answer (null when refused)
    };

    // The services in the order the module asks for them.
    static const std::vector<std::string>& serviceNames() {
        static const std::vector<std::string> names = {
            "IMultiTask2",       "ISerialFactory",   "ISocketFactory", "ICDSBuffer", "IDiag",
            "IPermanentStorage", "IDriverInterface", "ISmux",          "IFastTimer"};
        return names;
    }

    RecordingHost() = default;
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    IInterface* CreateInterface(const char* name) override {
        const int i = name != nullptr ? index(name) : -1;
        IInterface* answer = i >= 0 && !withheld_[i] ? objects_[i] : nullptr;
        calls_.push_back({Op::Create, name != nullptr ? name : "", answer});
        return answer;
    }
    void ReleaseInterface(IInterface* object) override {
        const auto* found = std::find(std::begin(objects_), std::end(objects_), object);
        const bool ours = object != nullptr && found != std::end(objects_);
        calls_.push_back({Op::Release, ours ? serviceNames()[found - objects_] : "", object});
    }

    // From now on the named service is refused (or delivered again). Throws for a name that is
    // no service of the host.
    void withhold(const std::string& name) { withheld_[known(name)] = true; }
    void deliver(const std::string& name) { withheld_[known(name)] = false; }
    // Withholds the five services a module may do without.
    void withholdOptional() {
        for (const char* name :
             {"IDiag", "IPermanentStorage", "IDriverInterface", "ISmux", "IFastTimer"}) {
            withhold(name);
        }
    }
    // The object handed out for a service name, whether withheld or not; null for other names.
    IInterface* service(const std::string& name) const {
        return index(name) >= 0 ? objects_[index(name)] : nullptr;
    }

    const std::vector<Call>& calls() const { return calls_; }
    // The names of the Create (or Release) calls, in order.
    std::vector<std::string> names(Op op) const {
        std::vector<std::string> result;
        for (const Call& call : calls_) {
            if (call.op == op) {
                result.push_back(call.name);
            }
        }
        return result;
    }
    void clearCalls() { calls_.clear(); }

    RecordingMultiTask& multiTask() { return multiTask_; }
    RecordingSerialFactory& serialFactory() { return serialFactory_; }
    MemoryStore& store() { return store_; }

  private:
    static int index(const std::string& name) {
        const auto& all = serviceNames();
        const auto found = std::find(all.begin(), all.end(), name);
        return found != all.end() ? static_cast<int>(found - all.begin()) : -1;
    }
    static int known(const std::string& name) {
        if (index(name) < 0) {
            throw std::invalid_argument("no host service named " + name);
        }
        return index(name);
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
    // In the order of serviceNames().
    IInterface* const objects_[9] = {static_cast<IMultiTask2*>(&multiTask_),
                                     static_cast<ISerialFactory*>(&serialFactory_),
                                     &socketFactory_,
                                     &cdsBuffer_,
                                     &diag_,
                                     static_cast<IPermanentStorage*>(&store_),
                                     &driverInterface_,
                                     &smux_,
                                     &fastTimer_};
    bool withheld_[9] = {};
    std::vector<Call> calls_;
};

}  // namespace qarntest
