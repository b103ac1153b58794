#pragma once
// The host side of the plug-in boundary: hands the plug-in every service it asks for by name.
// The factory owns the services; ReleaseInterface only counts them back.

#include <memory>
#include <set>
#include <string>

#include <qarn/host/ICDSBuffer.h>
#include <qarn/host/IDiag.h>
#include <qarn/host/IDriverInterface.h>
#include <qarn/host/IFastTimer.h>
#include <qarn/host/IInterfaceFactory.h>
#include <qarn/host/ISmux.h>
#include <qarn/host/ISocketFactory.h>
#include "InertService.h"
#include "MultiTask.h"
#include "SerialFactory.h"

namespace refhost {

class FileStore;

class HostFactory final : public IInterfaceFactory {
  public:
    HostFactory();
    ~HostFactory();
    HostFactory(const HostFactory&) = delete;
    HostFactory& operator=(const HostFactory&) = delete;

    // "IMultiTask2", "ISerialFactory", "ISocketFactory", "ICDSBuffer", "IDiag",
    // "IPermanentStorage" (when a store is set), "IDriverInterface", "ISmux", "IFastTimer";
    // null for any other name and for withheld ones.
    IInterface* CreateInterface(const char* name) override;
    void ReleaseInterface(IInterface* object) override;

    // The permanent store; without one the plug-in keeps its node-ID overrides in memory only.
    void setStore(std::unique_ptr<FileStore> store);
    FileStore* store() { return store_.get(); }
    SerialFactory& serialFactory() { return serialFactory_; }
    const SerialFactory& serialFactory() const { return serialFactory_; }
    MultiTask& multiTask() { return multiTask_; }
    // Makes CreateInterface answer null for `name`: a host without that service.
    void withhold(const std::string& name) { withheld_.insert(name); }
    // Services handed out and not yet given back.
    int outstanding() const { return outstanding_; }

  private:
    MultiTask multiTask_;
    SerialFactory serialFactory_;
    InertService<ISocketFactory> socketFactory_{"ISocketFactory", "RefHostSocketFactory"};
    InertService<ICDSBuffer> cdsBuffer_{"ICDSBuffer", "RefHostCDSBuffer"};
    InertService<IDiag> diag_{"IDiag", "RefHostDiag"};
    InertService<IDriverInterface> driverInterface_{"IDriverInterface", "RefHostDriverInterface"};
    InertService<ISmux> smux_{"ISmux", "RefHostSmux"};
    InertService<IFastTimer> fastTimer_{"IFastTimer", "RefHostFastTimer"};
    std::unique_ptr<FileStore> store_;
    std::set<std::string> withheld_;
    int outstanding_ = 0;
};

}  // namespace refhost
