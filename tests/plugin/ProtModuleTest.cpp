// The module's life against a recording host: which services it asks for and in which order, what
// it gives back on every failure path and on Close, and how Init and Close count. Also the protocol
// factory's deletion and where GetXml_QARN points into the embedded description block.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "HostServices.h"
#include "ProtFactory.h"
#include "Protocol_QARN.h"
#include "RecordingHost.h"
#include "Xml_QARN.h"

namespace {

using qarntest::RecordingHost;
using Op = RecordingHost::Op;
using Names = std::vector<std::string>;
using Pointers = std::vector<const IInterface*>;

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
    for (size_t i = 0; i < delivered; ++i) {
        objects[i] = host.service(RecordingHost::serviceNames()[i]);
    }
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
    // Init with `host`, expecting it to ask for every service from the first one on.
    void initAskingForAll(RecordingHost& asked) {
        asked.clearCalls();
        EXPECT_TRUE(module->Init(&asked));
        EXPECT_EQ(asked.names(Op::Create), RecordingHost::serviceNames());
    }

    RecordingHost host;
    IProtModule* module = nullptr;
};

TEST_F(ProtModuleTest, InitAsksForEveryServiceInOrderAndCloseGivesThemBack) {
    EXPECT_STREQ(ProtModule().GetLastError(), "");
    initAskingForAll(host);
    EXPECT_TRUE(host.names(Op::Release).empty());
    EXPECT_EQ(modulePointers(), hostObjects(host));
    host.clearCalls();
    module->Close();
    EXPECT_EQ(host.names(Op::Release), CloseOrder);
    EXPECT_EQ(modulePointers(), Pointers(9, nullptr));
}

TEST_F(ProtModuleTest, EachMissingMandatoryServiceFailsInitAndGivesBackWhatItGot) {
    const char* const errors[] = {"IMultiTask2 not created", "ISerialFactory not created",
                                  "ISocketFactory not created", "piCDSBuffer not created"};
    for (size_t missing = 0; missing < 4; ++missing) {
        RecordingHost refusing;
        const std::string& name = RecordingHost::serviceNames()[missing];
        refusing.withhold(name);
        EXPECT_FALSE(module->Init(&refusing)) << name;
        EXPECT_STREQ(module->GetLastError(), errors[missing]);
        // All requests up to the refused one, then the ones obtained, in the order obtained.
        std::vector<std::pair<Op, std::string>> expected, seen;
        for (size_t i = 0; i <= missing; ++i) {
            expected.emplace_back(Op::Create, RecordingHost::serviceNames()[i]);
        }
        for (size_t i = 0; i < missing; ++i) {
            expected.emplace_back(Op::Release, RecordingHost::serviceNames()[i]);
        }
        for (const RecordingHost::Call& call : refusing.calls()) {
            seen.emplace_back(call.op, call.name);
        }
        EXPECT_EQ(seen, expected) << name;
        EXPECT_EQ(modulePointers(), Pointers(9, nullptr)) << name;
        // The next Init starts again at the first service; success keeps the failure text.
        refusing.deliver(name);
        initAskingForAll(refusing);
        EXPECT_STREQ(module->GetLastError(), errors[missing]);
        module->Close();
    }
    EXPECT_FALSE(module->Init(nullptr));
    EXPECT_STREQ(module->GetLastError(), "IMultiTask2 not created");
}

TEST_F(ProtModuleTest, MandatoryOnlyHostGetsBackExactlyTheFourInOrder) {
    host.withholdOptional();
    initAskingForAll(host);
    EXPECT_EQ(modulePointers(), hostObjects(host, 4));
    host.clearCalls();
    module->Close();
    EXPECT_EQ(host.names(Op::Release),
              (Names{"IMultiTask2", "ISerialFactory", "ISocketFactory", "ICDSBuffer"}));
    for (const RecordingHost::Call& call : host.calls()) {
        EXPECT_NE(call.object, nullptr);  // a refused service is never handed back
    }
}

TEST_F(ProtModuleTest, InitInitCloseCloseClose) {
    RecordingHost other;
    initAskingForAll(host);
    EXPECT_TRUE(module->Init(&other));  // counted; asks nothing and keeps the first host
    EXPECT_TRUE(other.calls().empty());
    host.clearCalls();
    module->Close();
    EXPECT_TRUE(host.calls().empty());
    EXPECT_EQ(modulePointers(), hostObjects(host));
    module->Close();
    EXPECT_EQ(host.names(Op::Release), CloseOrder);
    EXPECT_TRUE(other.calls().empty());
    host.clearCalls();
    module->Close();
    EXPECT_TRUE(host.calls().empty());
    initAskingForAll(host);  // fully closed: the next Init asks for everything again
}

TEST_F(ProtModuleTest, DeleteProtocolDestroysThroughTheVirtualDestructor) {
    static int destroyed = 0;
    struct Counted : Protocol_QARN {
        ~Counted() override { ++destroyed; }
    };
    auto* factory =
        static_cast<IProtocolFactory*>(GetInterfaceFactory()->CreateInterface("IProtocolFactory"));
    factory->DeleteProtocol(nullptr);
    factory->DeleteProtocol(new Counted);
    EXPECT_EQ(destroyed, 1);
}

TEST(EmbeddedBlockTest, PointerSitsOnTheSizeLineBetweenHeaderAndEndMarker) {
    const char header[] =
        "<<ORBA_XML_START>>Name=QARN?FullName=Modbus Pelrosa?Version=114?Platform=KT52_LIN";
    const char* sizeLine = GetXml_QARN();
    ASSERT_EQ(std::strncmp(sizeLine, "compressedXML=", 14), 0);
    EXPECT_EQ(std::memcmp(sizeLine - sizeof header, header, sizeof header), 0);  // with its NUL
    const size_t length = std::stoul(sizeLine + 14);
    EXPECT_EQ(std::to_string(length), sizeLine + 14);  // plain decimal, nothing after it
    const char* stream = sizeLine + std::strlen(sizeLine) + 1;
    EXPECT_EQ(std::memcmp(stream + length, "<<ORBA_XML_END>>", 17), 0);
}

}  // namespace
