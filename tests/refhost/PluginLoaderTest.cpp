#include <qarn/refhost/PluginLoader.h>

#include <gtest/gtest.h>

#include <memory>

#include <qarn/refhost/FileStore.h>
#include <qarn/refhost/HostFactory.h>
#include "TempDir.h"

using refhost::PluginLoader;

class PluginLoaderTest : public ::testing::Test {
  protected:
    TempDir dir;
    refhost::HostFactory host;
    PluginLoader loader;
    const std::string plugin = QARN_PLUGIN_PATH;
};

TEST_F(PluginLoaderTest, EveryFailureSaysWhatWasMissing) {
    const std::string garbage = dir.file("libgarbage.so");
    TempDir::write(garbage, "not an ELF file");
    EXPECT_FALSE(loader.load(dir.file("libnone.so"), host));
    EXPECT_EQ(loader.error(), "plug-in " + dir.file("libnone.so") + ": No such file or directory");
    EXPECT_FALSE(loader.load(garbage, host));
    EXPECT_EQ(loader.error().rfind("plug-in " + garbage + " cannot be loaded: ", 0), 0U);
    EXPECT_FALSE(loader.load(QARN_NOENTRY_PATH, host));
    EXPECT_EQ(loader.error(), std::string("plug-in ") + QARN_NOENTRY_PATH +
                                  " has no entry point GetInterfaceFactory");
    // A host without a service the module needs: the module's own reason.
    host.withhold("ISocketFactory");
    EXPECT_FALSE(loader.load(plugin, host));
    EXPECT_EQ(loader.error(), "plug-in module initialisation failed: ISocketFactory not created");
    EXPECT_EQ(host.outstanding(), 0) << "the module gave back what it had obtained";
}

TEST_F(PluginLoaderTest, LoadsThePluginAndGivesEveryServiceBackOnUnload) {
    host.setStore(std::make_unique<refhost::FileStore>(dir.file("store.ini")));
    {
        PluginLoader scoped;
        ASSERT_TRUE(scoped.load(plugin, host)) << scoped.error();
        EXPECT_EQ(host.outstanding(), 9) << "all nine services obtained";
        EXPECT_EQ(scoped.createProtocol("qarn"), nullptr);
        EXPECT_EQ(scoped.error(), "plug-in " + plugin + " does not create the protocol qarn");

        ASSERT_NE(scoped.createProtocol("QARN"), nullptr) << "left for unload to delete";
        scoped.unload();
        EXPECT_EQ(host.outstanding(), 0);
        ASSERT_TRUE(scoped.load(plugin, host)) << "a second load starts from scratch";
        EXPECT_EQ(host.outstanding(), 9);
    }
    EXPECT_EQ(host.outstanding(), 0) << "the destructor tears down as well";
}
