// The built plug-in file is loaded from disk and every call into it goes through the raw table of
// virtual functions by slot number, never through one of our declarations: this is how the host
// reaches it, so it proves the binary slot order independently of our headers.
//
// Layout (Itanium C++ ABI, as GCC uses it on x86-64 and on 32-bit ARM EABI): an object starts
// with a pointer to its table; a virtual destructor takes two entries (complete and deleting);
// `this` is passed as the first argument. The interface factory has no destructor entries.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "RecordingHost.h"

namespace {

using qarntest::RecordingHost;
using Op = RecordingHost::Op;

// Interface factory.
constexpr int kCreateInterface = 0;
constexpr int kReleaseInterface = 1;
// Every object derived from the interface root: two destructor entries, then these.
constexpr int kConvertTo = 2;
constexpr int kGetImpName = 3;
constexpr int kGetImpVersion = 4;
// Module.
constexpr int kInit = 5;
constexpr int kClose = 6;
constexpr int kGetLastError = 7;
// Protocol factory.
constexpr int kCreateProtocol = 5;
constexpr int kDeleteProtocol = 6;

template <typename R, typename... Args>
R callSlot(void* object, int slot, Args... args) {
    using Function = R (*)(void*, Args...);
    const Function* table = nullptr;
    std::memcpy(&table, object, sizeof table);
    return table[slot](object, args...);
}

const std::vector<std::string> kCloseOrder = {
    "IFastTimer",  "ISmux",          "IDriverInterface", "IDiag",     "IPermanentStorage",
    "IMultiTask2", "ISerialFactory", "ISocketFactory",   "ICDSBuffer"};

class PluginSlotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        library = dlopen(QARN_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        void* entry = dlsym(library, "GetInterfaceFactory");
        ASSERT_NE(entry, nullptr) << dlerror();
        void* (*getInterfaceFactory)() = nullptr;
        std::memcpy(&getInterfaceFactory, &entry, sizeof entry);
        factory = getInterfaceFactory();
        ASSERT_NE(factory, nullptr);
    }
    // Each test gets a freshly loaded library, so the module starts uninitialised.
    void TearDown() override {
        if (library != nullptr) {
            unload();
        }
    }
    void unload() {
        EXPECT_EQ(dlclose(library), 0) << dlerror();
        library = nullptr;
    }

    void* create(const char* name) { return callSlot<void*>(factory, kCreateInterface, name); }
    // The host factory as the plug-in receives it.
    void* hostFactory() { return static_cast<IInterfaceFactory*>(&host); }

    RecordingHost host;  // outlives the library, which may give services back when unloaded
    void* library = nullptr;
    void* factory = nullptr;
};

TEST_F(PluginSlotTest, InterfaceFactoryCreatesInSlot0AndReleasesInSlot1) {
    void* module = create("IProtModule");
    void* protocolFactory = create("IProtocolFactory");
    ASSERT_NE(module, nullptr);
    ASSERT_NE(protocolFactory, nullptr);
    EXPECT_NE(module, protocolFactory);
    EXPECT_EQ(create("ProtModule"), module);
    EXPECT_EQ(create("ProtocolFactory"), protocolFactory);
    EXPECT_EQ(create("IProtocol"), nullptr);

    callSlot<void>(factory, kReleaseInterface, module);
    EXPECT_EQ(create("IProtModule"), module);
    EXPECT_STREQ(callSlot<const char*>(module, kGetImpName), "ProtModule");
}

struct IdentityCase {
    const char* name;
    const char* alias;
    const char* foreign;
    const char* impName;
};

void PrintTo(const IdentityCase& c, std::ostream* out) {
    *out << c.name;
}

class IdentitySlotTest : public PluginSlotTest,
                         public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentitySlotTest, ConvertToImpNameAndVersionFollowTheDestructorPair) {
    const IdentityCase& c = GetParam();
    void* object = create(c.name);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(callSlot<void*>(object, kConvertTo, c.name), object);
    EXPECT_EQ(callSlot<void*>(object, kConvertTo, c.alias), object);
    EXPECT_EQ(callSlot<void*>(object, kConvertTo, c.foreign), nullptr);
    EXPECT_STREQ(callSlot<const char*>(object, kGetImpName), c.impName);
    EXPECT_EQ(callSlot<int>(object, kGetImpVersion), 100);
}

INSTANTIATE_TEST_SUITE_P(Objects, IdentitySlotTest,
                         ::testing::Values(IdentityCase{"IProtModule", "ProtModule",
                                                        "IProtocolFactory", "ProtModule"},
                                           IdentityCase{"IProtocolFactory", "ProtocolFactory",
                                                        "IProtModule", "ProtFactoryInDLL"}));

TEST_F(PluginSlotTest, ModuleInitsInSlot5ClosesInSlot6AndReportsInSlot7) {
    void* module = create("IProtModule");
    ASSERT_NE(module, nullptr);
    host.withhold("IMultiTask2");
    EXPECT_FALSE(callSlot<bool>(module, kInit, hostFactory()));
    EXPECT_STREQ(callSlot<const char*>(module, kGetLastError), "IMultiTask2 not created");

    host.deliver("IMultiTask2");
    host.clearCalls();
    EXPECT_TRUE(callSlot<bool>(module, kInit, hostFactory()));
    EXPECT_EQ(host.names(Op::Create), RecordingHost::serviceNames());

    host.clearCalls();
    callSlot<void>(module, kClose);
    EXPECT_EQ(host.names(Op::Release), kCloseOrder);
    host.clearCalls();
    callSlot<void>(module, kClose);
    EXPECT_TRUE(host.calls().empty());
}

TEST_F(PluginSlotTest, ProtocolFactoryRefusesUnknownNamesInSlot5) {
    void* protocolFactory = create("IProtocolFactory");
    ASSERT_NE(protocolFactory, nullptr);
    EXPECT_EQ(callSlot<void*>(protocolFactory, kCreateProtocol, "qarn"), nullptr);
    EXPECT_EQ(callSlot<void*>(protocolFactory, kCreateProtocol, "QARN "), nullptr);
    callSlot<void>(protocolFactory, kDeleteProtocol, static_cast<void*>(nullptr));
}

TEST_F(PluginSlotTest, ProtocolFactoryCreatesInSlot5AndDeletesInSlot6) {
    void* protocolFactory = create("IProtocolFactory");
    ASSERT_NE(protocolFactory, nullptr);
    void* first = callSlot<void*>(protocolFactory, kCreateProtocol, "QARN");
    void* second = callSlot<void*>(protocolFactory, kCreateProtocol, "QARN");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_STREQ(callSlot<const char*>(first, kGetImpName), "Protocol_QARN");
    EXPECT_EQ(callSlot<void*>(first, kConvertTo, "IProtocol"), first);
    callSlot<void>(protocolFactory, kDeleteProtocol, first);
    EXPECT_STREQ(callSlot<const char*>(second, kGetImpName), "Protocol_QARN");
    callSlot<void>(protocolFactory, kDeleteProtocol, second);
}

struct UnloadCase {
    int inits;
    std::vector<std::string> released;
};

void PrintTo(const UnloadCase& c, std::ostream* out) {
    *out << c.inits << " Init calls";
}

class UnloadTest : public PluginSlotTest, public ::testing::WithParamInterface<UnloadCase> {};

TEST_P(UnloadTest, UnloadingGivesServicesBackOnlyAtUseCountOne) {
    void* module = create("IProtModule");
    ASSERT_NE(module, nullptr);
    for (int i = 0; i < GetParam().inits; ++i) {
        EXPECT_TRUE(callSlot<bool>(module, kInit, hostFactory()));
    }
    host.clearCalls();
    unload();
    EXPECT_EQ(host.names(Op::Release), GetParam().released);
}

INSTANTIATE_TEST_SUITE_P(Counts, UnloadTest,
                         ::testing::Values(UnloadCase{0, {}}, UnloadCase{1, kCloseOrder},
                                           UnloadCase{2, {}}));

}  // namespace
