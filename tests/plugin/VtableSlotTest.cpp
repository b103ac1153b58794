// The built plug-in file is loaded from disk and every call into it goes through the raw table of
// virtual functions by slot number, never through one of our declarations: this is how the host
// reaches it. Itanium C++ ABI (GCC on x86-64 and ARM EABI): an object starts with a pointer to its
// table, a virtual destructor takes two entries, `this` is the first argument. The interface
// factory has no destructor entries.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "RecordingHost.h"

namespace {

using qarntest::RecordingHost;
using Op = RecordingHost::Op;

// Interface factory; then every interface object: two destructor entries, the three of the
// interface root, then the module's or the protocol factory's own.
enum { CreateInterface, ReleaseInterface };
enum { ConvertTo = 2, GetImpName, GetImpVersion, Init, Close, GetLastError };
enum { CreateProtocol = 5, DeleteProtocol };

template <typename R, typename... Args>
R call(void* object, int slot, Args... args) {
    using Function = R (*)(void*, Args...);
    const Function* table = nullptr;
    std::memcpy(&table, object, sizeof table);
    return table[slot](object, args...);
}

const std::vector<std::string> CloseOrder = {
    "IFastTimer",  "ISmux",          "IDriverInterface", "IDiag",     "IPermanentStorage",
    "IMultiTask2", "ISerialFactory", "ISocketFactory",   "ICDSBuffer"};

class PluginSlotTest : public ::testing::Test {
  protected:
    void SetUp() override { load(); }
    void TearDown() override {
        if (library != nullptr) {
            unload();
        }
    }
    // A freshly loaded library: its module starts uninitialised.
    void load() {
        library = dlopen(QARN_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        void* entry = dlsym(library, "GetInterfaceFactory");
        ASSERT_NE(entry, nullptr) << dlerror();
        void* (*getInterfaceFactory)() = nullptr;
        std::memcpy(&getInterfaceFactory, &entry, sizeof entry);
        factory = getInterfaceFactory();
    }
    void unload() {
        EXPECT_EQ(dlclose(library), 0) << dlerror();
        library = nullptr;
    }
    void* create(const char* name) { return call<void*>(factory, CreateInterface, name); }

    RecordingHost host;  // outlives the library, which may give services back when unloaded
    IInterfaceFactory* hostFactory = &host;
    void* library = nullptr;
    void* factory = nullptr;
};

TEST_F(PluginSlotTest, InterfaceFactoryAndIdentitySlots) {
    for (const char* refused : {"IProtocol", "protmodule", "IProtModule ", " IProtModule",
                                "IProtModule2", "ProtFactoryInDLL", "IInterface", ""}) {
        EXPECT_EQ(create(refused), nullptr) << '"' << refused << '"';
    }
    EXPECT_EQ(create(nullptr), nullptr);
    // name, other name, a name it must refuse, implementation name
    const char* const objects[][4] = {
        {"IProtModule", "ProtModule", "IProtocolFactory", "ProtModule"},
        {"IProtocolFactory", "ProtocolFactory", "IProtModule", "ProtFactoryInDLL"}};
    for (const auto& [name, alias, foreign, impName] : objects) {
        void* object = create(name);
        ASSERT_NE(object, nullptr) << name;
        EXPECT_EQ(create(alias), object);
        call<void>(factory, ReleaseInterface, object);  // hands nothing back, destroys nothing
        EXPECT_EQ(create(name), object);
        EXPECT_EQ(call<void*>(object, ConvertTo, name), object);
        EXPECT_EQ(call<void*>(object, ConvertTo, alias), object);
        EXPECT_EQ(call<void*>(object, ConvertTo, foreign), nullptr);
        EXPECT_STREQ(call<const char*>(object, GetImpName), impName);
        EXPECT_EQ(call<int>(object, GetImpVersion), 100);
    }
    EXPECT_NE(create("IProtModule"), create("IProtocolFactory"));
}

TEST_F(PluginSlotTest, ModuleInitCloseAndLastErrorSlots) {
    void* module = create("IProtModule");
    host.withhold("IMultiTask2");
    EXPECT_FALSE(call<bool>(module, Init, hostFactory));
    EXPECT_STREQ(call<const char*>(module, GetLastError), "IMultiTask2 not created");
    host.deliver("IMultiTask2");
    host.clearCalls();
    EXPECT_TRUE(call<bool>(module, Init, hostFactory));
    EXPECT_EQ(host.names(Op::Create), RecordingHost::serviceNames());
    host.clearCalls();
    call<void>(module, Close);
    EXPECT_EQ(host.names(Op::Release), CloseOrder);
    host.clearCalls();
    call<void>(module, Close);
    EXPECT_TRUE(host.calls().empty());
}

TEST_F(PluginSlotTest, ProtocolFactoryCreatesByExactNameAndDeletes) {
    void* protocolFactory = create("IProtocolFactory");
    for (const char* refused :
         {"qarn", "Qarn", "QARN ", " QARN", "QAR", "QARNQ", "", "IProtocol"}) {
        EXPECT_EQ(call<void*>(protocolFactory, CreateProtocol, refused), nullptr) << refused;
    }
    EXPECT_EQ(call<void*>(protocolFactory, CreateProtocol, static_cast<const char*>(nullptr)),
              nullptr);
    void* first = call<void*>(protocolFactory, CreateProtocol, "QARN");
    void* second = call<void*>(protocolFactory, CreateProtocol, "QARN");
    ASSERT_TRUE(first != nullptr && second != nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(call<void*>(first, ConvertTo, "IProtocol"), first);
    call<void>(protocolFactory, DeleteProtocol, first);
    EXPECT_STREQ(call<const char*>(second, GetImpName), "Protocol_QARN");
    call<void>(protocolFactory, DeleteProtocol, second);
    call<void>(protocolFactory, DeleteProtocol, static_cast<void*>(nullptr));
}

TEST_F(PluginSlotTest, UnloadingGivesServicesBackOnlyAtUseCountOne) {
    for (int inits : {0, 1, 2}) {
        if (library == nullptr) {
            load();
        }
        for (int i = 0; i < inits; ++i) {
            EXPECT_TRUE(call<bool>(create("IProtModule"), Init, hostFactory));
        }
        host.clearCalls();
        unload();
        EXPECT_EQ(host.names(Op::Release), inits == 1 ? CloseOrder : std::vector<std::string>{})
            << inits << " Init calls";
    }
}

}  // namespace
