#include "PluginLoader.h"

#include <gtest/gtest.h>

#include <memory>

#include "FileStore.h"
#include "HostFactory.h"
#include "IPermanentStorage.h"
#include "IProtModule.h"
#include "TempDir.h"

using refhost::FileStore;
using refhost::HostFactory;
using refhost::PluginLoader;

class PluginLoaderTest : public ::testing::Test {
  protected:
    TempDir dir;
    HostFactory host;
    PluginLoader loader;
};

TEST_F(PluginLoaderTest, EveryFailureSaysWhatWasMissing) {
    const std::string garbage = dir.file("libgarbage.so");
    TempDir::write(garbage, "not an ELF file");
    EXPECT_FALSE(loader.load(dir.file("libnone.so"), host));
    EXPECT_EQ(loader.error(), "plug-in " + dir.file("libnone.so") + ": No such file or directory");
    EXPECT_FALSE(loader.load(garbage, host));
    EXPECT_EQ(loader.error().rfind("plug-in " + garbage + " cannot be loaded: ", 0), 0U)
        << loader.error();
    EXPECT_FALSE(loader.load(QARN_NOENTRY_PATH, host));
    EXPECT_EQ(loader.error(), std::string("plug-in ") + QARN_NOENTRY_PATH +
                                  " has no entry point GetInterfaceFactory");
    EXPECT_FALSE(loader.loaded());

    // A host without a service the module needs: the module's own reason.
    EXPECT_EQ(host.CreateInterface("IPermanentStorage"), nullptr) << "no store set";
    host.withhold("ISocketFactory");
    EXPECT_FALSE(loader.load(QARN_PLUGIN_PATH, host));
    EXPECT_EQ(loader.error(), "plug-in module initialisation failed: ISocketFactory not created");
    EXPECT_FALSE(loader.loaded());
    EXPECT_EQ(host.outstanding(), 0) << "the module gave back what it had obtained";
}

TEST_F(PluginLoaderTest, LoadsThePluginAndGivesEveryServiceBackOnUnload) {
    host.setStore(std::make_unique<FileStore>(dir.file("store.ini")));
    {
        PluginLoader scoped;
        ASSERT_TRUE(scoped.load(QARN_PLUGIN_PATH, host)) << scoped.error();
        ASSERT_NE(scoped.protocolFactory(), nullptr);
        EXPECT_STREQ(scoped.module()->GetImpName(), "ProtModule");
        EXPECT_EQ(host.outstanding(), 9) << "all nine services obtained";
        auto* store = static_cast<IPermanentStorage*>(host.CreateInterface("IPermanentStorage"));
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(store->ConvertTo("IPermanentStorage2"), static_cast<void*>(host.store()));
        host.ReleaseInterface(store);
        EXPECT_EQ(host.outstanding(), 9);
        EXPECT_EQ(scoped.createProtocol("qarn"), nullptr);
        EXPECT_EQ(scoped.error(), std::string("plug-in ") + QARN_PLUGIN_PATH +
                                      " does not create the protocol qarn");

        ASSERT_NE(scoped.createProtocol("QARN"), nullptr) << "left for unload to delete";
        scoped.unload();
        EXPECT_EQ(host.outstanding(), 0);
        EXPECT_FALSE(scoped.loaded());
        ASSERT_TRUE(scoped.load(QARN_PLUGIN_PATH, host)) << "a second load starts from scratch";
        EXPECT_EQ(host.outstanding(), 9);
    }
    EXPECT_EQ(host.outstanding(), 0) << "the destructor tears down as well";
}
