// The module's life against a recording host: the services asked for and given back, in order, on
// every path; how Init and Close count; where GetXml_QARN points. (DeleteProtocol: the entry
// point test, where deleting a started protocol closes its port.)

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <qarn/plugin/HostServices.h>
#include <qarn/plugin/ProtFactory.h>
#include <qarn/plugin/Xml_QARN.h>
#include "RecordingHost.h"

namespace {

using qarntest::RecordingHost;
using Names = std::vector<std::string>;
using Pointers = std::vector<const IInterface*>;

const Names& All = RecordingHost::ServiceNames;
const Names CloseOrder = {"IFastTimer",        "ISmux",       "IDriverInterface", "IDiag",
                          "IPermanentStorage", "IMultiTask2", "ISerialFactory",   "ISocketFactory",
                          "ICDSBuffer"};

// The nine module-wide pointers in the order the module obtains them.
Pointers modulePointers() {
    return {piMultiTask,        piSerialFactory,   piSocketFactory, piCDSBuffer, piDiag,
            piPermanentStorage, piDriverInterface, piSmux,          piFastTimer};
}

// What the host handed out, in the same order; the first `delivered` only.
Pointers hostObjects(const RecordingHost& host, size_t delivered = 9) {
    Pointers objects(9, nullptr);
    std::transform(All.begin(), All.begin() + delivered, objects.begin(),
                   [&](const std::string& name) { return host.service(name); });
    return objects;
}

class ProtModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        module = static_cast<IProtModule*>(GetInterfaceFactory()->CreateInterface("IProtModule"));
        ASSERT_EQ(modulePointers(), Pointers(9, nullptr)) << "an earlier test left it initialised";
    }
    void TearDown() override {
        for (int i = 0; i < 3; ++i) {  // no test initialises more than twice
            module->Close();
        }
    }
    // Init with `asked`, expecting it to ask for every service from the first one on.
    void initAskingForAll(RecordingHost& asked) {
        asked.clearCalls();
        EXPECT_TRUE(module->Init(&asked));
        EXPECT_EQ(asked.created, All);
    }

    RecordingHost host;
    IProtModule* module = nullptr;
};

TEST_F(ProtModuleTest, EachMissingMandatoryServiceFailsInitAndGivesBackWhatItGot) {
    const char* const errors[] = {"IMultiTask2 not created", "ISerialFactory not created",
                                  "ISocketFactory not created", "piCDSBuffer not created"};
    for (size_t missing = 0; missing < 4; ++missing) {
        SCOPED_TRACE(All[missing]);
        RecordingHost refusing;
        refusing.withhold(All[missing]);
        EXPECT_TRUE(!module->Init(&refusing) &&
                    module->GetLastError() == std::string(errors[missing]));
        // All requests up to the refused one, then the ones obtained, in the order obtained.
        EXPECT_EQ(refusing.created, Names(All.begin(), All.begin() + missing + 1));
        EXPECT_EQ(refusing.released, Names(All.begin(), All.begin() + missing));
        EXPECT_EQ(modulePointers(), Pointers(9, nullptr));
        // The next Init starts again at the first service; success keeps the failure text.
        refusing.withhold(All[missing], false);
        initAskingForAll(refusing);
        EXPECT_STREQ(module->GetLastError(), errors[missing]);
        module->Close();
    }
    EXPECT_TRUE(!module->Init(nullptr) &&
                module->GetLastError() == std::string("IMultiTask2 not created"));
}

TEST_F(ProtModuleTest, MandatoryOnlyHostGetsBackExactlyTheFourInOrder) {
    for (size_t optional = 4; optional < 9; ++optional) {
        host.withhold(All[optional]);
    }
    initAskingForAll(host);
    EXPECT_EQ(modulePointers(), hostObjects(host, 4));
    module->Close();  // a refused service is never handed back
    EXPECT_EQ(host.released, Names(All.begin(), All.begin() + 4));
}

TEST_F(ProtModuleTest, InitInitCloseCloseClose) {
    RecordingHost other;
    initAskingForAll(host);
    EXPECT_EQ(modulePointers(), hostObjects(host));
    EXPECT_TRUE(module->Init(&other));  // counted; asks nothing and keeps the first host
    module->Close();
    EXPECT_TRUE(host.released.empty());
    module->Close();
    EXPECT_EQ(modulePointers(), Pointers(9, nullptr));
    EXPECT_TRUE(other.created.empty() && other.released.empty());
    module->Close();  // one too many: nothing more is given back
    EXPECT_EQ(host.released, CloseOrder);
    initAskingForAll(host);  // fully closed: the next Init asks for everything again
}

// The block's layout is check_description.py's; here, that GetXml_QARN points into it.
TEST(EmbeddedBlockTest, PointerSitsOnTheSizeLineRightAfterTheHeader) {
    const char header[] =
        "<<ORBA_XML_START>>Name=QARN?FullName=Modbus Pelrosa?Version=114?Platform=KT52_LIN";
    const char* sizeLine = GetXml_QARN();
    EXPECT_EQ(std::strncmp(sizeLine, "compressedXML=", 14), 0);
    EXPECT_EQ(std::memcmp(sizeLine - sizeof header, header, sizeof header), 0);  // with its NUL
}

}  // namespace
