// The module's life against a recording host: which services it asks for and in which order,
// what it gives back on every failure path and on Close, reference counting, and the destruction
// rule. The host's view is the ordered list of CreateInterface / ReleaseInterface calls.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "HostServices.h"
#include "ProtFactory.h"
#include "RecordingHost.h"

namespace {

using qarntest::RecordingHost;
using Op = RecordingHost::Op;
using Names = std::vector<std::string>;

const Names kCloseOrder = {"IFastTimer",        "ISmux",       "IDriverInterface", "IDiag",
                           "IPermanentStorage", "IMultiTask2", "ISerialFactory",   "ISocketFactory",
                           "ICDSBuffer"};
const Names kMandatory = {"IMultiTask2", "ISerialFactory", "ISocketFactory", "ICDSBuffer"};

// The nine module-wide pointers in the order the module obtains them.
std::vector<const IInterface*> modulePointers() {
    return {piMultiTask,        piSerialFactory,   piSocketFactory, piCDSBuffer, piDiag,
            piPermanentStorage, piDriverInterface, piSmux,          piFastTimer};
}

std::vector<const IInterface*> hostObjects(const RecordingHost& host, const Names& withheld = {}) {
    std::vector<const IInterface*> objects;
    for (const std::string& name : RecordingHost::serviceNames()) {
        bool refused = false;
        for (const std::string& w : withheld) {
            refused = refused || w == name;
        }
        objects.push_back(refused ? nullptr : host.service(name));
    }
    return objects;
}

const std::vector<const IInterface*> kAllNull(9, nullptr);

Names without(Names names, const Names& removed) {
    for (const std::string& r : removed) {
        for (auto it = names.begin(); it != names.end();) {
            it = *it == r ? names.erase(it) : it + 1;
        }
    }
    return names;
}

// Points the module-wide pointers nowhere again; used where a test leaves them set on purpose.
void forgetServices() {
    piMultiTask = nullptr;
    piSerialFactory = nullptr;
    piSocketFactory = nullptr;
    piCDSBuffer = nullptr;
    piDiag = nullptr;
    piPermanentStorage = nullptr;
    piDriverInterface = nullptr;
    piSmux = nullptr;
    piFastTimer = nullptr;
}

class ProtModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        module = static_cast<IProtModule*>(GetInterfaceFactory()->CreateInterface("IProtModule"));
        ASSERT_NE(module, nullptr);
        ASSERT_EQ(useCount(), 0) << "an earlier test left the module initialised";
        ASSERT_EQ(modulePointers(), kAllNull);
    }
    void TearDown() override {
        while (useCount() > 0) {
            module->Close();
        }
    }
    int useCount() const { return static_cast<const ProtModule*>(module)->getUseCount(); }

    RecordingHost host;
    IProtModule* module = nullptr;
};

TEST_F(ProtModuleTest, InitAsksForAllServicesInOrderAndCloseGivesThemBackInCloseOrder) {
    ASSERT_TRUE(module->Init(&host));
    EXPECT_EQ(host.names(Op::Create), RecordingHost::serviceNames());
    EXPECT_TRUE(host.names(Op::Release).empty());
    EXPECT_EQ(modulePointers(), hostObjects(host));
    EXPECT_EQ(useCount(), 1);

    host.clearCalls();
    module->Close();
    EXPECT_TRUE(host.names(Op::Create).empty());
    EXPECT_EQ(host.names(Op::Release), kCloseOrder);
    EXPECT_EQ(modulePointers(), kAllNull);
    EXPECT_EQ(useCount(), 0);
}

struct MissingMandatoryCase {
    const char* withheld;
    Names asked;
    Names released;
    const char* error;
};

void PrintTo(const MissingMandatoryCase& c, std::ostream* out) {
    *out << c.withheld;
}

class MissingMandatoryTest : public ProtModuleTest,
                             public ::testing::WithParamInterface<MissingMandatoryCase> {};

TEST_P(MissingMandatoryTest, InitFailsGivesBackWhatItGotAndStartsAfreshNextTime) {
    const MissingMandatoryCase& c = GetParam();
    host.withhold(c.withheld);

    EXPECT_FALSE(module->Init(&host));
    EXPECT_STREQ(module->GetLastError(), c.error);
    // All requests, then the releases: nothing is given back before the refusal.
    std::vector<std::pair<Op, std::string>> expected;
    for (const std::string& name : c.asked) {
        expected.emplace_back(Op::Create, name);
    }
    for (const std::string& name : c.released) {
        expected.emplace_back(Op::Release, name);
    }
    std::vector<std::pair<Op, std::string>> seen;
    for (const RecordingHost::Call& call : host.calls()) {
        seen.emplace_back(call.op, call.name);
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(modulePointers(), kAllNull);
    EXPECT_EQ(useCount(), 0);

    // The next Init starts again at the first service; success keeps the old failure text.
    host.deliver(c.withheld);
    host.clearCalls();
    EXPECT_TRUE(module->Init(&host));
    EXPECT_EQ(host.names(Op::Create), RecordingHost::serviceNames());
    EXPECT_EQ(useCount(), 1);
    EXPECT_STREQ(module->GetLastError(), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Services, MissingMandatoryTest,
    ::testing::Values(
        MissingMandatoryCase{"IMultiTask2", {"IMultiTask2"}, {}, "IMultiTask2 not created"},
        MissingMandatoryCase{"ISerialFactory",
                             {"IMultiTask2", "ISerialFactory"},
                             {"IMultiTask2"},
                             "ISerialFactory not created"},
        MissingMandatoryCase{"ISocketFactory",
                             {"IMultiTask2", "ISerialFactory", "ISocketFactory"},
                             {"IMultiTask2", "ISerialFactory"},
                             "ISocketFactory not created"},
        MissingMandatoryCase{"ICDSBuffer",
                             {"IMultiTask2", "ISerialFactory", "ISocketFactory", "ICDSBuffer"},
                             {"IMultiTask2", "ISerialFactory", "ISocketFactory"},
                             "piCDSBuffer not created"}));

class MissingOptionalTest : public ProtModuleTest, public ::testing::WithParamInterface<Names> {};

TEST_P(MissingOptionalTest, InitSucceedsAndCloseGivesBackOnlyWhatWasDelivered) {
    const Names& withheld = GetParam();
    for (const std::string& name : withheld) {
        host.withhold(name);
    }

    ASSERT_TRUE(module->Init(&host));
    EXPECT_EQ(host.names(Op::Create), RecordingHost::serviceNames());
    EXPECT_EQ(modulePointers(), hostObjects(host, withheld));

    host.clearCalls();
    module->Close();
    // A refused service is never handed back, not even as null.
    EXPECT_EQ(host.names(Op::Release), without(kCloseOrder, withheld));
    for (const RecordingHost::Call& call : host.calls()) {
        EXPECT_NE(call.object, nullptr);
    }
    EXPECT_EQ(modulePointers(), kAllNull);
}

INSTANTIATE_TEST_SUITE_P(Services, MissingOptionalTest,
                         ::testing::Values(Names{"IDiag"}, Names{"IPermanentStorage"},
                                           Names{"IDriverInterface"}, Names{"ISmux"},
                                           Names{"IFastTimer"},
                                           Names{"IDiag", "IPermanentStorage", "IDriverInterface",
                                                 "ISmux", "IFastTimer"}));

TEST_F(ProtModuleTest, MandatoryOnlyHostGetsBackExactlyTheFourInOrder) {
    host.withholdOptional();
    ASSERT_TRUE(module->Init(&host));
    host.clearCalls();
    module->Close();
    EXPECT_EQ(host.names(Op::Release), kMandatory);
}

TEST_F(ProtModuleTest, EveryInitIsCountedAndOnlyTheLastCloseGivesServicesBack) {
    RecordingHost other;
    ASSERT_TRUE(module->Init(&host));
    // A further Init neither asks the factory it is given nor swaps the module's host.
    EXPECT_TRUE(module->Init(&other));
    EXPECT_TRUE(other.calls().empty());
    EXPECT_EQ(useCount(), 2);

    host.clearCalls();
    module->Close();
    EXPECT_TRUE(host.calls().empty());
    EXPECT_EQ(modulePointers(), hostObjects(host));
    EXPECT_EQ(useCount(), 1);

    module->Close();
    EXPECT_EQ(host.names(Op::Release), kCloseOrder);
    EXPECT_TRUE(other.calls().empty());
    EXPECT_EQ(useCount(), 0);

    host.clearCalls();
    module->Close();
    EXPECT_TRUE(host.calls().empty());
    EXPECT_EQ(useCount(), 0);

    // Fully closed: the next Init asks for everything again.
    EXPECT_TRUE(module->Init(&host));
    EXPECT_EQ(host.names(Op::Create), RecordingHost::serviceNames());
}

TEST_F(ProtModuleTest, InitWithoutHostFactoryFailsLikeAMissingFirstService) {
    EXPECT_FALSE(module->Init(nullptr));
    EXPECT_STREQ(module->GetLastError(), "IMultiTask2 not created");
    EXPECT_EQ(useCount(), 0);
    EXPECT_EQ(modulePointers(), kAllNull);
}

TEST_F(ProtModuleTest, LastErrorStartsEmptyAndKeepsTheLatestFailure) {
    ProtModule local;
    ASSERT_NE(local.GetLastError(), nullptr);
    EXPECT_STREQ(local.GetLastError(), "");

    host.withhold("ISerialFactory");
    EXPECT_FALSE(local.Init(&host));
    EXPECT_STREQ(local.GetLastError(), "ISerialFactory not created");
    host.deliver("ISerialFactory");
    host.withhold("ICDSBuffer");
    EXPECT_FALSE(local.Init(&host));
    EXPECT_STREQ(local.GetLastError(), "piCDSBuffer not created");
}

struct DestructionCase {
    const char* what;
    int inits;
    bool failFirst;  // one failed Init (missing "ISocketFactory") before the counted ones
    Names releasedByDestruction;
};

void PrintTo(const DestructionCase& c, std::ostream* out) {
    *out << c.what;
}

class DestructionTest : public ProtModuleTest,
                        public ::testing::WithParamInterface<DestructionCase> {};

TEST_P(DestructionTest, DestroyingTheModuleReleasesOnlyAtUseCountOne) {
    const DestructionCase& c = GetParam();
    {
        ProtModule local;
        if (c.failFirst) {
            host.withhold("ISocketFactory");
            EXPECT_FALSE(local.Init(&host));
            host.deliver("ISocketFactory");
        }
        for (int i = 0; i < c.inits; ++i) {
            EXPECT_TRUE(local.Init(&host));
        }
        host.clearCalls();
    }
    EXPECT_EQ(host.names(Op::Release), c.releasedByDestruction) << c.what;
    EXPECT_TRUE(host.names(Op::Create).empty()) << c.what;
    if (c.releasedByDestruction.empty() && c.inits > 0) {
        // Nothing was given back, so the services are still referenced.
        EXPECT_EQ(modulePointers(), hostObjects(host)) << c.what;
        forgetServices();
    }
    EXPECT_EQ(modulePointers(), kAllNull) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Counts, DestructionTest,
                         ::testing::Values(DestructionCase{"never initialised", 0, false, {}},
                                           DestructionCase{"after a failed Init", 0, true, {}},
                                           DestructionCase{"initialised once", 1, false,
                                                           kCloseOrder},
                                           DestructionCase{"initialised twice", 2, false, {}}));

}  // namespace
