// Configuration and tag address strings in; parameter sets, line settings, tag fields and
// "Tag URI error: ..." texts out.

#include <cctype>

#include "DriverFixture.h"

using namespace qarntest;

namespace {

class Config : public DriverTest {
  protected:
    // defNodeId timeout delay repeat maxOptLen presetFunction/model of the set node n gets.
    std::string params(int n) {
        const _QARN::NodeParams& p = *protocol->getParamManager().getNodeParams(n);
        std::string text;
        for (int v : {p.defNodeId, p.timeout, p.delay, p.repeat, p.maxOptLen}) {
            text += std::to_string(v) + " ";
        }
        return text + p.presetFunction + "/" + p.model;
    }
};

}  // namespace

TEST_F(Config, RefusalsNameTheFirstBadParameter) {
    const std::string good =  // each case changes one part of it
        "CfgVer=1 defNodeId=1 uart=a baudrate=1 parity=none bits=8 stopbits=1 mode=RS-485";
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"CfgVer=1", "", "unknown format"},
        // The unprefixed id is required even when every block has its own.
        {"defNodeId=1", "Node1::defNodeId=1", "parameter 'defNodeId' is not found"},
        {"parity=none", "parity=Even", "parameter 'parity' has invalid value"},
        {"baudrate=1", "baudrate=0", "parameter 'baudrate' has invalid value"},
    };
    for (const auto& [from, to, message] : cases) {
        std::string text = good;
        text.replace(text.find(from), std::string(from).size(), to);
        protocol = std::make_unique<Protocol_QARN>();
        EXPECT_FALSE(protocol->Config(text.c_str())) << text;
        EXPECT_EQ(lastError(), std::string("Refused: Parser: ") + message);
    }
}

TEST_F(Config, NodeParametersFallBackToUnprefixedEntriesThenToDefaults) {
    configure(
        "defNodeId=1 repeat=4 timeout=0x7D0 model=EM21 Node3::defNodeId=3 Node3::repeat=5 "
        "Node3::timeout=010 Node7::defNodeId=7 Node7::timeout=abc Node7::delay=25 "
        "Node7::model=EM&nbsp;24 Node7::presetFunction=16");
    EXPECT_EQ(params(3), "3 8 0 5 256 /EM21");
    EXPECT_EQ(params(7), "7 0 25 4 256 16/EM 24");
    // Without a block of its own a node gets the unprefixed set.
    EXPECT_EQ(params(9), "1 2000 0 4 256 /EM21");
    // The longest transaction: the largest timeout times repeat, per node or over all.
    EXPECT_EQ(protocol->GetMaxTm(nullptr), 8000);
    EXPECT_EQ(protocol->GetMaxTm(tag("3?NO?0?unsignedByte")), 40);
    configure("defNodeId=1");
    EXPECT_EQ(params(1), "1 2000 0 2 256 /1");
    // Products beyond int are held at its largest value.
    configure("defNodeId=1 timeout=2000000 repeat=2000000");
    EXPECT_EQ(protocol->GetMaxTm(nullptr), 2147483647);
}

TEST_F(Config, LineSettingsReachThePortAsCodes) {
    const std::tuple<std::string, std::array<int, 5>, int> cases[] = {
        // line settings; baud, parity, bits, stop bits, mode; character time
        {"baudrate=1200 parity=even bits=7 stopbits=2 mode=RS-485", {1200, 1, 7, 2, 1}, 27},
        {"baudrate=0x4B0 parity=mark bits=8 stopbits=1 mode=RS-232", {1200, 3, 8, 1, 0}, 27},
        {"baudrate=-9600 parity=none bits=8 stopbits=1 mode=RS-232", {-9600, 0, 8, 1, 0}, 10},
    };
    for (const auto& [line, setup, interChar] : cases) {
        protocol = std::make_unique<Protocol_QARN>();
        // A prefixed line setting is never looked at.
        const std::string text = "CfgVer=1 uart=com&nbsp;2 defNodeId=1 Node2::baudrate=1 " + line;
        ASSERT_TRUE(protocol->Config(text.c_str()) && protocol->Start()) << line;
        EXPECT_EQ(std::make_tuple(host.serialFactory().calls.back(), port.calls().back().args,
                                  protocol->getInterCharTime()),
                  std::make_tuple("open com 2", setup, interChar));
    }
    // A refused rate keeps the character time; what came before it is taken over.
    EXPECT_FALSE(protocol->Config(
        "CfgVer=1 uart=b baudrate=0 parity=odd bits=7 stopbits=2 mode=RS-422 defNodeId=1"));
    EXPECT_EQ(protocol->getInterCharTime(), 10);
    ASSERT_TRUE(protocol->Stop() && protocol->Start());
    EXPECT_EQ(std::make_pair(host.serialFactory().calls.back(), port.calls().back().args),
              std::make_pair(std::string("open b"), std::array<int, 5>{0, 2, 7, 2, 2}));
}

TEST_F(Config, SecondConfigurationKeepsEarlierTagsUsable) {
    configure("defNodeId=1 Node1::defNodeId=1 Node1::timeout=111 Node1::model=GenericModbus");
    const Tag_QARN* early = tag("1?HREG?400001?unsignedShort");
    std::string many = GenericNode + " Node1::defNodeId=1 Node1::timeout=222";
    for (int n = 2; n < 200; ++n) {
        many += " Node" + std::to_string(n) + "::defNodeId=" + std::to_string(n);
    }
    ASSERT_TRUE(protocol->Config((LineConfig + many).c_str()) && protocol->Start());
    // The first block of node 1 still wins, and the tag still points at it.
    script("01 03 02 12 34");
    uint8_t value[2] = {};
    ASSERT_TRUE(protocol->Read(early, value)) << lastError();
    EXPECT_EQ(port.calls().back().args.at(1), 111);
    EXPECT_EQ(tag("1?HREG?400002?unsignedShort")->getNodeParams(), early->getNodeParams());
}

TEST_F(Config, TagAddressesGiveTheirFieldsOrTheFirstFailingCheck) {
    // Node 1 generic, node 2 a meter, node 3 an ISMG device, node 4 writes holding registers with
    // function 16, node 5 names no model, node 7 names function 16 only by number.
    configure(GenericNode +
              " Node2::defNodeId=2 Node2::model=EM21 Node3::defNodeId=3 Node3::model=ISMG1xx "
              "Node4::defNodeId=4 Node4::presetFunction=16 Node5::defNodeId=5 Node5::model=nothing "
              "Node7::defNodeId=7 Node7::presetFunction=0x10");
    const std::pair<const char*, const char*> cases[] = {
        // node, offset, sub-index, read and write code, byte offset, bit index, packed length,
        // node override; or the reason of the "Tag URI error".
        {" 2 ? HREG ? 400003 ? short ", "2 2 0 3 6 4 0 2 0"},
        {"2?HREG?465535?unsignedShort", "2 65534 0 3 6 131068 0 2 0"},
        {"1?HREG?400001.1?byte", "1 0 1 3 6 1 1 1 0"},
        {"1?HREG?400001.15?boolean", "1 0 15 3 6 1 7 1 0"},
        {"1?HREG?01415201?unsignedShort", "1 0 0 3 6 0 0 2 0"},  // octal 400001
        {"1?INP?100009?boolean", "1 8 0 2 0 1 0 1 0"},
        {"1?OUTP?6?boolean-4", "1 5 0 1 5 0 5 2 0"},
        // Coil numbers in the 5-digit input-bit range become input bits without a write.
        {"1?OUTP?19999?boolean", "1 9998 0 2 0 1249 6 1 0"},
        {"1?OUTP?20000?boolean", "1 19999 0 1 5 2499 7 1 0"},
        {"1?IREG?300001?float", "1 0 0 4 0 0 0 4 0"},
        {"4?HREG?400001?unsignedShort", "4 0 0 3 16 0 0 2 0"},
        {"7?HREG?400001?unsignedShort", "7 0 0 3 6 0 0 2 0"},
        {"1?NO?0?unsignedByte", "1 0 0 0 0 0 0 1 1"},
        {"3?SL?5?unsignedByte", "3 5 0 0 0 5 0 1 0"},
        {"1?HREG?400001?short?x", "there must be 4 tag specification fields"},
        {"?HREG?400001?short", "nodeID field missing"},
        {"1??400001?short", "memorytype field missing"},
        {"1?HREG? ?short", "subIndex field missing"},
        {"1?HREG?400001?", "orbaType field missing"},
        {"5?HREG?400001?short", "Can't access memory type"},
        {"1?HREG?400001?shorty", "shorty: data type unknown"},
        {"2?HREG?465536?unsignedShort", "Index out of range"},
        {"3?SL?128?unsignedByte", "Index out of range"},
        {"1?HREG?400001.1?unsignedShort", "Subindex invalid"},
        {"1?HREG?400001.16?boolean", "Subindex invalid"},
        {"1?HREG?400001.1?object", "Subindex invalid"},
        {"1?NO?0?short", "invalid access to node override"},
        {"3?SL?1?short", "invalid access to Slave Address"},
        {"1?NO?1?unsignedByte", "invalid offset for this memory type"},
        {"1?INP?100001?unsignedByte", "not allowed orba type"},
    };
    for (const auto& [address, expected] : cases) {
        ITag* created = protocol->CreateTag(address);
        std::string got = lastError();
        if (created != nullptr) {
            const auto* t = static_cast<const Tag_QARN*>(created);
            got.clear();
            for (int v : {protocol->GetNodeID(t), t->getOffset(), t->getSubIndex(),
                          int{t->getReadCode()}, int{t->getWriteCode()}, t->GetByteOffset(),
                          t->GetBitIndex(), t->PackedLen(), protocol->Extend(3, created)}) {
                got += (got.empty() ? "" : " ") + std::to_string(v);
            }
        }
        EXPECT_EQ(got, std::isdigit(expected[0]) != 0
                           ? std::string(expected)
                           : std::string("Refused: Tag URI error: ") + address + " - " + expected);
    }
    ITag* original = protocol->CreateTag("1?HREG?400010.1?byte(inv)");
    std::unique_ptr<const Tag_QARN> clone(static_cast<const Tag_QARN*>(original->Clone()));
    protocol->FreeTag(original);  // the clone outlives it
    EXPECT_EQ(std::make_tuple(clone->GetByteOffset(), clone->getConversions()[0]),
              std::make_tuple(19, "inv"));
}
