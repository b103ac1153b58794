#include <qarn/plugin/ProtFactory.h>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/host/ICDSBuffer.h>
#include <qarn/host/IDiag.h>
#include <qarn/host/IDriverInterface.h>
#include <qarn/host/IFastTimer.h>
#include <qarn/host/IMultiTask2.h>
#include <qarn/host/IPermanentStorage.h>
#include <qarn/host/IProtocol.h>
#include <qarn/host/ISerialFactory.h>
#include <qarn/host/ISmux.h>
#include <qarn/host/ISocketFactory.h>
#include <qarn/plugin/HostServices.h>

namespace {

InterfaceFactory Factory;

// Asks the host for one service, typed as the module-wide pointer that keeps it.
template <typename T>
T* obtain(IInterfaceFactory* host, const char* name) {
    return static_cast<T*>(host->CreateInterface(name));
}

// Hands a service back and forgets it.
template <typename T>
void release(IInterfaceFactory* host, T*& service) {
    host->ReleaseInterface(service);
    service = nullptr;
}

}  // namespace

extern "C" IInterfaceFactory* GetInterfaceFactory() {
    return &Factory;
}

// ---- InterfaceFactory ----------------------------------------------------------------------

IInterface* InterfaceFactory::CreateInterface(const char* name) {
    if (CompareInterface(name, "IProtocolFactory") || CompareInterface(name, "ProtocolFactory")) {
        return &protocolFactory;
    }
    if (CompareInterface(name, "IProtModule") || CompareInterface(name, "ProtModule")) {
        return &protModule;
    }
    return nullptr;
}

void InterfaceFactory::ReleaseInterface(IInterface*) {}

// ---- ProtocolFactory -----------------------------------------------------------------------

void* ProtocolFactory::ConvertTo(const char* name) {
    if (CompareInterface(name, "ProtocolFactory") || CompareInterface(name, "IProtocolFactory")) {
        return this;
    }
    return nullptr;
}

const char* ProtocolFactory::GetImpName() const {
    return "ProtFactoryInDLL";
}

int ProtocolFactory::GetImpVersion() const {
    return 100;
}

IProtocol* ProtocolFactory::CreateProtocol(const char* name) {
    if (CompareInterface(name, "QARN")) {
        return CreateProtocol_QARN();
    }
    return nullptr;
}

void ProtocolFactory::DeleteProtocol(IProtocol* protocol) {
    delete protocol;
}

// ---- ProtModule ----------------------------------------------------------------------------

ProtModule::~ProtModule() {
    if (useCount == 1) {
        releaseAll();
        useCount = 0;
    }
}

void* ProtModule::ConvertTo(const char* name) {
    if (CompareInterface(name, "ProtModule") || CompareInterface(name, "IProtModule")) {
        return this;
    }
    return nullptr;
}

const char* ProtModule::GetImpName() const {
    return "ProtModule";
}

int ProtModule::GetImpVersion() const {
    return 100;
}

const char* ProtModule::GetLastError() const {
    return lastError.c_str();
}

bool ProtModule::Init(IInterfaceFactory* host) {
    if (useCount > 0) {
        ++useCount;
        return true;
    }
    if (host == nullptr) {
        lastError = "IMultiTask2 not created";
        return false;
    }
    piMultiTask = obtain<IMultiTask2>(host, "IMultiTask2");
    if (piMultiTask == nullptr) {
        lastError = "IMultiTask2 not created";
        return false;
    }
    piSerialFactory = obtain<ISerialFactory>(host, "ISerialFactory");
    if (piSerialFactory == nullptr) {
        release(host, piMultiTask);
        lastError = "ISerialFactory not created";
        return false;
    }
    piSocketFactory = obtain<ISocketFactory>(host, "ISocketFactory");
    if (piSocketFactory == nullptr) {
        release(host, piMultiTask);
        release(host, piSerialFactory);
        lastError = "ISocketFactory not created";
        return false;
    }
    piCDSBuffer = obtain<ICDSBuffer>(host, "ICDSBuffer");
    if (piCDSBuffer == nullptr) {
        release(host, piMultiTask);
        release(host, piSerialFactory);
        release(host, piSocketFactory);
        lastError = "piCDSBuffer not created";
        return false;
    }
    // Optional services: a missing one leaves its pointer null.
    piDiag = obtain<IDiag>(host, "IDiag");
    piPermanentStorage = obtain<IPermanentStorage>(host, "IPermanentStorage");
    piDriverInterface = obtain<IDriverInterface>(host, "IDriverInterface");
    piSmux = obtain<ISmux>(host, "ISmux");
    piFastTimer = obtain<IFastTimer>(host, "IFastTimer");

    hostFactory = host;
    useCount = 1;
    return true;
}

void ProtModule::Close() {
    if (useCount == 1) {
        releaseAll();
    }
    if (useCount > 0) {
        --useCount;
    }
}

// Gives every service back in the host's expected order: the optional ones that are held
// (timer, smux, driver interface, diagnostics, store), then the four mandatory ones in the order
// they were obtained.
void ProtModule::releaseAll() {
    IInterfaceFactory* host = hostFactory;
    if (host != nullptr) {
        if (piFastTimer != nullptr)
            release(host, piFastTimer);
        if (piSmux != nullptr)
            release(host, piSmux);
        if (piDriverInterface != nullptr)
            release(host, piDriverInterface);
        if (piDiag != nullptr)
            release(host, piDiag);
        if (piPermanentStorage != nullptr)
            release(host, piPermanentStorage);
        release(host, piMultiTask);
        release(host, piSerialFactory);
        release(host, piSocketFactory);
        release(host, piCDSBuffer);
    }
    piFastTimer = nullptr;
    piSmux = nullptr;
    piDriverInterface = nullptr;
    piDiag = nullptr;
    piPermanentStorage = nullptr;
    piMultiTask = nullptr;
    piSerialFactory = nullptr;
    piSocketFactory = nullptr;
    piCDSBuffer = nullptr;
    hostFactory = nullptr;
}
