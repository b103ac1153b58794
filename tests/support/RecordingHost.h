#pragma once
// Host factory double. Hands out one object for each of the nine host services, can withhold any
// of them by name, and records every CreateInterface and ReleaseInterface call in order with the
// service name and the object.

#include <string>
#include <vector>

#include "HostService.h"
#include "ICDSBuffer.h"
#include "IDiag.h"
#include "IDriverInterface.h"
#include "IFastTimer.h"
#include "IInterfaceFactory.h"
#include "ISmux.h"
#include "ISocketFactory.h"
#include "MemoryStore.h"
#include "RecordingMultiTask.h"
#include "RecordingSerialFactory.h"

namespace qarntest {

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
    static const std::vector<std::string>& serviceNames();

    RecordingHost();
    ~RecordingHost() = default;
    RecordingHost(const RecordingHost&) = delete;
    RecordingHost& operator=(const RecordingHost&) = delete;

    IInterface* CreateInterface(const char* name) override;
    void ReleaseInterface(IInterface* object) override;

    // From now on the named service is refused (or delivered again). Throws for a name that is
    // no service of the host.
    void withhold(const std::string& name);
    void deliver(const std::string& name);
    // Withholds the five services a module may do without.
    void withholdOptional();

    // The object handed out for a service name, whether withheld or not; null for other names.
    IInterface* service(const std::string& name) const;
    // The service name of an object handed out; "" for any other object.
    std::string nameOf(const IInterface* object) const;

    const std::vector<Call>& calls() const { return calls_; }
    // The names of the Create (or Release) calls, in order.
    std::vector<std::string> names(Op op) const;
    void clearCalls() { calls_.clear(); }

    RecordingMultiTask& multiTask() { return multiTask_; }
    RecordingSerialFactory& serialFactory() { return serialFactory_; }
    MemoryStore& store() { return store_; }

  private:
    struct Slot {
        std::string name;
        IInterface* object;
        bool withheld;
    };
    Slot& slot(const std::string& name);

    RecordingMultiTask multiTask_;
    RecordingSerialFactory serialFactory_;
    HostService<ISocketFactory> socketFactory_{"ISocketFactory", "TestSocketFactory", 1};
    HostService<ICDSBuffer> cdsBuffer_{"ICDSBuffer", "TestCDSBuffer", 1};
    HostService<IDiag> diag_{"IDiag", "TestDiag", 1};
    MemoryStore store_;
    HostService<IDriverInterface> driverInterface_{"IDriverInterface", "TestDriverInterface", 1};
    HostService<ISmux> smux_{"ISmux", "TestSmux", 1};
    HostService<IFastTimer> fastTimer_{"IFastTimer", "TestFastTimer", 1};

    std::vector<Slot> slots_;
    std::vector<Call> calls_;
};

}  // namespace qarntest
