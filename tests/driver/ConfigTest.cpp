// Configuration strings in; parameter sets, line settings and messages out. The device
// catalogue that the node's model selects.

#include "DriverFixture.h"

using namespace qarntest;

namespace {

class Config : public DriverTest {
  protected:
    const _QARN::NodeParams& node(int n) { return *protocol->getParamManager().getNodeParams(n); }
    std::vector<int> setupArguments() {
        const auto& setup = port.calls().front();
        return std::vector<int>(setup.setup, setup.setup + 5);
    }
};

}  // namespace

TEST_F(Config, RefusalsNameTheFirstBadParameter) {
    const std::string line = "uart=a baudrate=1 parity=none bits=8 stopbits=1 mode=RS-485";
    const std::string tail = " bits=8 stopbits=1 mode=RS-485";
    const std::pair<std::string, const char*> cases[] = {
        {"uart=com1 defNodeId=1", "Parser: unknown format"},
        {"CfgVer=1 model=EM21 " + line, "Parser: parameter 'defNodeId' is not found"},
        // The unprefixed id is required even when every block has its own.
        {"CfgVer=1 Node1::defNodeId=1 " + line, "Parser: parameter 'defNodeId' is not found"},
        {"CfgVer=1 defNodeId=1 baudrate=9600", "Parser: parameter 'uart' is not found"},
        {"CfgVer=1 defNodeId=1 uart=a parity=none", "Parser: parameter 'baudrate' is not found"},
        {"CfgVer=1 defNodeId=1 uart=a baudrate=1 parity=none bits=8 stopbits=1",
         "Parser: parameter 'mode' is not found"},
        {"CfgVer=1 defNodeId=1 uart=a baudrate=1 parity=Even" + tail,
         "Parser: parameter 'parity' has invalid value"},
        {"CfgVer=1 defNodeId=1 uart=a baudrate=1 parity=none bits=8 stopbits=1 mode=rs-485",
         "Parser: parameter 'mode' has invalid value"},
        {"CfgVer=1 defNodeId=1 uart=a baudrate=0 parity=none" + tail,
         "Parser: parameter 'baudrate' has invalid value"},
    };
    for (const auto& [text, message] : cases) {
        Protocol_QARN fresh;
        EXPECT_FALSE(fresh.Config(text.c_str())) << text;
        EXPECT_EQ(fresh.GetLastError(), -1) << text;
        EXPECT_STREQ(fresh.GetLastErrorString(), message) << text;
    }
}

TEST_F(Config, NodeParametersFallBackToUnprefixedEntriesThenToDefaults) {
    configure(
        "defNodeId=1 repeat=4 timeout=0x7D0 Node3::defNodeId=3 Node3::repeat=5 "
        "Node3::timeout=010 Node7::defNodeId=7 Node7::timeout=abc Node7::delay=25 "
        "Node7::model=EM&nbsp;24");
    EXPECT_EQ(std::vector<int>({node(3).nodeNumber, node(3).repeat, node(3).timeout}),
              std::vector<int>({3, 5, 8}));
    EXPECT_EQ(std::vector<int>({node(7).defNodeId, node(7).repeat, node(7).timeout, node(7).delay}),
              std::vector<int>({7, 4, 0, 25}));
    EXPECT_EQ(node(7).model, "EM 24");
    // Without a block of its own a node gets the unprefixed set.
    EXPECT_EQ(&node(9), &node(1));
    EXPECT_EQ(std::vector<int>({node(9).timeout, node(9).repeat, node(9).delay, node(9).maxOptLen}),
              std::vector<int>({2000, 4, 0, 256}));
    EXPECT_EQ(node(9).model, "1");
}

TEST_F(Config, MaximumTransactionTimeIsTheLargestTimeoutTimesRepeat) {
    configure(
        "defNodeId=1 model=EM21 Node4::defNodeId=4 Node4::timeout=1000 Node4::repeat=5 "
        "Node6::defNodeId=6 Node6::timeout=100");
    EXPECT_EQ(protocol->GetMaxTm(nullptr), 5000);
    EXPECT_EQ(protocol->GetMaxTm(tag("1?NO?0?unsignedByte")), 4000);
    EXPECT_EQ(protocol->GetMaxTm(tag("6?NO?0?unsignedByte")), 200);
    configure("defNodeId=1 timeout=0 Node4::defNodeId=4 Node4::repeat=-1");
    EXPECT_EQ(protocol->GetMaxTm(nullptr), 0);
    // Products beyond int are held at its largest value.
    configure("defNodeId=1 timeout=2000000 repeat=2000000");
    EXPECT_EQ(protocol->GetMaxTm(nullptr), 2147483647);
}

TEST_F(Config, LineSettingsReachThePortAsCodes) {
    const struct {
        std::string line;
        std::vector<int> setup;  // baud, parity, bits, stop bits, mode
        int interChar;
    } cases[] = {
        {"baudrate=1200 parity=even bits=7 stopbits=2 mode=RS-485", {1200, 1, 7, 2, 1}, 27},
        {"baudrate=2400 parity=odd bits=8 stopbits=1 mode=RS-422", {2400, 2, 8, 1, 2}, 13},
        {"baudrate=0x4B0 parity=mark bits=8 stopbits=1 mode=RS-232", {1200, 3, 8, 1, 0}, 27},
        {"baudrate=9600 parity=none bits=8 stopbits=1 mode=RS-232", {9600, 0, 8, 1, 0}, 10},
        {"baudrate=-9600 parity=none bits=8 stopbits=1 mode=RS-232", {-9600, 0, 8, 1, 0}, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        protocol = std::make_unique<Protocol_QARN>();
        // A prefixed line setting is never looked at.
        const std::string text = "CfgVer=1 uart=com&nbsp;2 defNodeId=1 Node2::baudrate=1 " + c.line;
        ASSERT_TRUE(protocol->Config(text.c_str()));
        port.clearCalls();
        ASSERT_TRUE(protocol->Start());
        EXPECT_EQ(host.serialFactory().calls().back().name, "com 2");
        EXPECT_EQ(setupArguments(), c.setup);
        EXPECT_EQ(protocol->getInterCharTime(), c.interChar);
    }
    // A refused rate keeps the character time; what came before it is taken over.
    EXPECT_FALSE(protocol->Config(
        "CfgVer=1 uart=b baudrate=0 parity=odd bits=7 stopbits=2 mode=RS-422 defNodeId=1"));
    EXPECT_EQ(protocol->getInterCharTime(), 10);
    ASSERT_TRUE(protocol->Stop());
    port.clearCalls();
    ASSERT_TRUE(protocol->Start());
    EXPECT_EQ(host.serialFactory().calls().back().name, "b");
    EXPECT_EQ(setupArguments(), std::vector<int>({0, 2, 7, 2, 2}));
}

TEST_F(Config, SecondConfigurationKeepsEarlierTagsUsable) {
    configure("defNodeId=1 Node1::defNodeId=1 Node1::timeout=111 Node1::model=GenericModbus");
    const Tag_QARN* early = tag("1?HREG?400001?unsignedShort");
    std::string many = GenericNode + " Node1::defNodeId=1 Node1::timeout=222";
    for (int n = 2; n < 200; ++n) {
        many += " Node" + std::to_string(n) + "::defNodeId=" + std::to_string(n);
    }
    ASSERT_TRUE(protocol->Config((LineConfig + many).c_str())) << lastError();
    ASSERT_TRUE(protocol->Start());
    // The first block of node 1 still wins, and the tag still points at it.
    port.answer(withCrc(hexBytes("01 03 02 12 34")));
    uint8_t value[2] = {};
    ASSERT_TRUE(protocol->Read(early, value)) << lastError();
    EXPECT_EQ(port.calls().back().timeoutMs, 111);
    EXPECT_EQ(tag("1?HREG?400002?unsignedShort")->getNodeParams(), early->getNodeParams());
}

TEST(Catalogue, MemoryTypesCarryTheirPerModelValuesAndLookupsFallBackOnlyForTheModel) {
    MemoryManager manager;
    EXPECT_EQ(manager.getModel("EM21"), nullptr);
    manager.addBuiltInModels();
    const struct {
        const char* model;
        const char* type;
        std::vector<int> fields;  // natural type, type mask, read-only, min, max, block count
    } rows[] = {
        {"GenericModbus", "INP", {1, 0x1001, 1, 100001, 165536, 16}},
        {"GenericModbus", "OUTP", {1, 0x1001, 0, 1, 65536, 16}},
        {"EM26", "HREG", {6, 0xff7ff, 0, 400001, 465535, 11}},
        {"WM40", "HREG", {6, 0xff7ff, 0, 400001, 465535, 125}},
        {"ISMG1xx", "HREG", {6, 0xff7ff, 0, 400001, 465535, 15}},
        {"GenericModbus", "HREG", {6, 0xff7ff, 0, 400001, 465535, 15}},
        {"WM30", "IREG", {6, 0xff7ff, 1, 300001, 365535, 11}},
        {"GenericModbus", "IREG", {6, 0xff7ff, 1, 300001, 365535, 11}},
        {"EM24", "NO", {5, 0x10, 0, 0, 0, 0}},
        {"ISMG3xx", "SL", {5, 0x10, 0, 1, 127, 0}},
    };
    for (const auto& row : rows) {
        const MemoryType* t = manager.getMemoryType(row.model, row.type);
        ASSERT_NE(t, nullptr) << row.model << "/" << row.type;
        EXPECT_EQ(std::vector<int>({t->getNaturalType(), t->getOrbaTypes(), t->isReadOnly(),
                                    t->getMinIndex(), t->getMaxIndex(), t->getBlockReadCount()}),
                  row.fields)
            << row.model << "/" << row.type;
    }
    for (const auto& [model, type] : {std::pair{"EM24", "INP"},
                                      {"EM21", "SL"},
                                      {"em21", "HREG"},
                                      {"1", "HREG"},
                                      {"EM21", "hreg"},
                                      {"WM30", "OUTP"}}) {
        EXPECT_EQ(manager.getMemoryType(model, type), nullptr) << model << "/" << type;
    }
    EXPECT_EQ(manager.getModel("em21")->getName(), "EM21");
    EXPECT_EQ(manager.getModel("ISMG3xx")->getName(), "ISMG3xx");
    EXPECT_EQ(manager.getModels().size(), 8u);
    EXPECT_EQ(manager.getModels()[7].getMemoryTypes().size(), 5u);
}
