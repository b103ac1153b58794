// The built plug-in file, loaded from disk and called as the host does: by slot number through the
// raw virtual tables, never through our declarations (Itanium C++ ABI: the table pointer heads the
// object, a virtual destructor takes two entries; the interface factory has none).

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "RecordingHost.h"

namespace {

using qarntest::RecordingHost;

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
        factory = reinterpret_cast<void* (*)()>(entry)();
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
    for (const char* refused :
         {"IProtocol", "protmodule", "IProtModule ", " IProtModule", "IProtModule2",
          "ProtFactoryInDLL", "IInterface", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(create(refused), nullptr) << '"' << refused << '"';
    }
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
        EXPECT_TRUE(call<void*>(object, ConvertTo, name) == object &&
                    call<void*>(object, ConvertTo, alias) == object);
        EXPECT_EQ(call<void*>(object, ConvertTo, foreign), nullptr);
        EXPECT_STREQ(call<const char*>(object, GetImpName), impName);
        EXPECT_EQ(call<int>(object, GetImpVersion), 100);
    }
}

TEST_F(PluginSlotTest, ModuleInitCloseAndLastErrorSlots) {
    void* module = create("IProtModule");
    host.withhold("IMultiTask2");
    EXPECT_FALSE(call<bool>(module, Init, hostFactory));
    EXPECT_STREQ(call<const char*>(module, GetLastError), "IMultiTask2 not created");
    host.withhold("IMultiTask2", false);
    host.clearCalls();
    EXPECT_TRUE(call<bool>(module, Init, hostFactory));
    EXPECT_EQ(host.created, RecordingHost::ServiceNames);
    call<void>(module, Close);
    EXPECT_EQ(host.released.size(), 9u);  // the order is the module test's
}

TEST_F(PluginSlotTest, ProtocolFactoryCreatesByExactNameAndDeletes) {
    void* protocolFactory = create("IProtocolFactory");
    for (const char* refused :
         {"qarn", "QARN ", " QARN", "QAR", "QARNQ", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(call<void*>(protocolFactory, CreateProtocol, refused), nullptr) << refused;
    }
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
        EXPECT_EQ(host.released.size(), inits == 1 ? 9u : 0u) << inits << " Init calls";
    }
}

}  // namespace
