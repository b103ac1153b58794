// Identity, Start and Stop against the recording host, the node-id override table with its
// stored copy, and the driver's console commands.

#include "DriverFixture.h"

using namespace qarntest;

namespace {

using Pairs = std::vector<std::pair<int, int>>;

class Lifecycle : public DriverTest {
  protected:
    const Pairs& pairs() const { return protocol->getReplacer().getPairs(); }
    bool startFails() {
        return !protocol->Start() && lastError() == "Refused: Can't open serial port";
    }
    // The reply, read up to its NUL or `size`; the byte after `size` must stay untouched.
    std::string command(const std::string& text, int size = 512) {
        std::vector<char> reply(static_cast<size_t>(size) + 1, '#');
        EXPECT_EQ(protocol->DoCommand(text.c_str(), reply.data(), size), 1) << text;
        EXPECT_EQ(reply.back(), '#') << text;
        return std::string(reply.data(), strnlen(reply.data(), static_cast<size_t>(size)));
    }
};

}  // namespace

TEST_F(Lifecycle, StartRestoresStoredOverridesWithAndWithoutTheExtendedStore) {
    std::istringstream stored(
        "tempNode3=4 tempNode012=20 tempNode0x1F=0x10 other5=6 tempNodeX=junk");
    for (std::string kv; stored >> kv;) {
        host.store().put("line7", kv.substr(0, kv.find('=')), kv.substr(kv.find('=') + 1));
    }
    for (bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended store" : "plain store");
        host.store().extended = extended;
        configure();
        protocol->DoCommand("setid 3 5", nullptr, 0);  // stored under "QARN", not read below
        protocol->SetIdent("line7");
        ASSERT_TRUE(protocol->Start());
        // 3 is replaced in place; text that is no number reads as 0.
        EXPECT_EQ(pairs(), (Pairs{{3, 4}, {10, 20}, {31, 16}, {0, 0}}));
        // Starting a started instance reads no store and touches no port.
        host.store().put("line7", "tempNode8", "9");
        port.clearCalls();
        EXPECT_TRUE(protocol->Start() && pairs().size() == 4u && port.calls().empty());
        host.store().RemoveValue("line7", "tempNode8");
    }
}

TEST_F(Lifecycle, StartFailuresKeepRestoredPairsAndCloseThePortAgain) {
    host.store().put("QARN", "tempNode5", "7");
    configure();
    host.serialFactory().openFails = true;
    EXPECT_TRUE(startFails());
    EXPECT_EQ(pairs(), (Pairs{{5, 7}}));
    host.serialFactory().openFails = false;
    port.setupFails = true;
    protocol->SetError(ErrorCode::NoErrorYet, "");
    EXPECT_TRUE(startFails() && !protocol->isStarted() && host.serialFactory().openPorts == 0);
    // Stopping a stopped instance touches nothing.
    port.setupFails = false;
    ASSERT_TRUE(protocol->Start() && protocol->Stop());
    host.serialFactory().calls.clear();
    EXPECT_TRUE(protocol->Stop() && host.serialFactory().calls.empty());
}

TEST_F(Lifecycle, SetidAndGetidKeepTableAndStoreInStep) {
    configure();
    protocol->SetIdent("north");
    EXPECT_EQ(command("getid"), "no node configurated\n");
    EXPECT_EQ(command("setid 5 7"), "id 5 set to 7\n");
    EXPECT_STREQ(host.store().GetValue("north", "tempNode5"), "7");
    EXPECT_EQ(command("setid 5 0"), "id 5 set to 5\n");
    EXPECT_EQ(host.store().GetValue("north", "tempNode5"), nullptr);
    EXPECT_EQ(command("setid 0x10 9"), "id 16 set to 9\n");
    EXPECT_STREQ(host.store().GetValue("north", "tempNode16"), "9");
    EXPECT_EQ(command("getid"), "id 5 -> 5\nid 16 -> 9\n");
    EXPECT_EQ(command("setid 5") + command("setid 1 2 3") + command("setid  1 2"),
              "invalid format\ninvalid format\ninvalid format\n");
    EXPECT_EQ(pairs(), (Pairs{{5, 5}, {16, 9}}));
    // Lines are written while they fit with their NUL; the first replaces the empty-table text.
    EXPECT_EQ(command("getid", 22), "id 5 -> 5\nid 16 -> 9\n");
    EXPECT_EQ(command("getid", 21), "id 5 -> 5\n");
    EXPECT_EQ(command("getid", 8), "no node");
    EXPECT_EQ(command("setid 7 8", 6), "id 7 ");
}

TEST_F(Lifecycle, HelpAppendsTheDriverLinesAndOtherCommandsGoToTheConsole) {
    configure();
    const std::string full = command("help", 1000);
    EXPECT_EQ(full.substr(346),
              "setid n m - set the node id n to m\ngetid - get all changed node id's\n");
    EXPECT_EQ(command("help", 356), full.substr(0, 355));
    // The base text fills the buffer without a NUL: nothing more is written.
    EXPECT_EQ(command("help", 346), full.substr(0, 346));
    char reply[8] = "keep";
    EXPECT_TRUE(protocol->DoCommand("Help", reply, sizeof(reply)) == 0 &&
                reply == std::string("keep"));
}
