#include "PluginLoader.h"

#include <gtest/gtest.h>

#include <memory>

#include "FileStore.h"
#include "HostFactory.h"
#include "IPermanentStorage.h"
#include "IProtModule.h"
#include "IProtocolFactory.h"
#include "TempDir.h"

using refhost::FileStore;
using refhost::HostFactory;
using refhost::PluginLoader;

TEST(HostFactory, HandsOutEveryServiceAndCountsThemBack) {
    TempDir dir;
    HostFactory host;
    const char* const services[] = {"IMultiTask2", "ISerialFactory", "ISocketFactory",
                                    "ICDSBuffer",  "IDiag",          "IDriverInterface",
                                    "ISmux",       "IFastTimer"};
    for (const char* name : services) {
        IInterface* s = host.CreateInterface(name);
        ASSERT_NE(s, nullptr) << name;
        EXPECT_EQ(s->ConvertTo(name), static_cast<void*>(s)) << name;
        EXPECT_NE(s->GetImpName(), nullptr) << name;
    }
    EXPECT_EQ(host.CreateInterface("IPermanentStorage"), nullptr) << "no store set";
    EXPECT_EQ(host.CreateInterface("imultitask2"), nullptr);
    EXPECT_EQ(host.CreateInterface("IProtocol"), nullptr);
    EXPECT_EQ(host.outstanding(), 8);

    host.setStore(std::make_unique<FileStore>(dir.file("store.ini")));
    auto* store = static_cast<IPermanentStorage*>(host.CreateInterface("IPermanentStorage"));
    ASSERT_NE(store, nullptr);
    EXPECT_NE(store->ConvertTo("IPermanentStorage2"), nullptr);
    host.ReleaseInterface(store);
    EXPECT_EQ(host.outstanding(), 8);

    host.withhold("ISerialFactory");
    EXPECT_EQ(host.CreateInterface("ISerialFactory"), nullptr);
}

TEST(PluginLoader, EveryFailureSaysWhatWasMissing) {
    TempDir dir;
    const std::string garbage = dir.file("libgarbage.so");
    TempDir::write(garbage, "not an ELF file");
    HostFactory host;
    PluginLoader loader;

    EXPECT_FALSE(loader.load(dir.file("libnone.so"), host));
    EXPECT_EQ(loader.error(), "plug-in " + dir.file("libnone.so") + ": No such file or directory");
    EXPECT_FALSE(loader.loaded());

    EXPECT_FALSE(loader.load(garbage, host));
    EXPECT_EQ(loader.error().rfind("plug-in " + garbage + " cannot be loaded: ", 0), 0U)
        << loader.error();

    EXPECT_FALSE(loader.load(QARN_NOENTRY_PATH, host));
    EXPECT_EQ(loader.error(), std::string("plug-in ") + QARN_NOENTRY_PATH +
                                  " has no entry point GetInterfaceFactory");
    EXPECT_FALSE(loader.loaded());
}

TEST(PluginLoader, ModuleRefusalCarriesTheModulesOwnReason) {
    HostFactory host;
    host.withhold("ISocketFactory");
    PluginLoader loader;
    EXPECT_FALSE(loader.load(QARN_PLUGIN_PATH, host));
    EXPECT_EQ(loader.error(), "plug-in module initialisation failed: ISocketFactory not created");
    EXPECT_FALSE(loader.loaded());
    EXPECT_EQ(host.outstanding(), 0) << "the module gave back what it had obtained";
}

TEST(PluginLoader, LoadsThePluginAndGivesEveryServiceBackOnUnload) {
    TempDir dir;
    HostFactory host;
    host.setStore(std::make_unique<FileStore>(dir.file("store.ini")));
    {
        PluginLoader loader;
        ASSERT_TRUE(loader.load(QARN_PLUGIN_PATH, host)) << loader.error();
        ASSERT_NE(loader.module(), nullptr);
        ASSERT_NE(loader.protocolFactory(), nullptr);
        EXPECT_STREQ(loader.module()->GetImpName(), "ProtModule");
        EXPECT_EQ(host.outstanding(), 9) << "all nine services obtained";

        EXPECT_EQ(loader.createProtocol("qarn"), nullptr);
        EXPECT_EQ(loader.error(), std::string("plug-in ") + QARN_PLUGIN_PATH +
                                      " does not create the protocol qarn");

        loader.unload();
        EXPECT_EQ(host.outstanding(), 0);
        EXPECT_FALSE(loader.loaded());
        // A second load after the tear-down starts from scratch.
        ASSERT_TRUE(loader.load(QARN_PLUGIN_PATH, host)) << loader.error();
        EXPECT_EQ(host.outstanding(), 9);
    }
    EXPECT_EQ(host.outstanding(), 0) << "the destructor tears down as well";
}
