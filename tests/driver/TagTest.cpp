// Address strings in; tag fields or "Tag URI error: ..." texts out.

#include "DriverFixture.h"

using namespace qarntest;

namespace {

// Node 1 generic, node 2 a meter, node 3 an ISMG device, node 4 writes holding registers with
// function 16, node 5 names no model, nodes 6 and 7 name function 16 in other ways.
const std::string Nodes =
    GenericNode +
    " Node2::defNodeId=2 Node2::model=EM21 Node3::defNodeId=3 Node3::model=ISMG1xx "
    "Node4::defNodeId=4 Node4::presetFunction=16 Node5::defNodeId=5 Node5::model=nothing "
    "Node6::defNodeId=6 Node6::presetFunction=06 Node7::defNodeId=7 Node7::presetFunction=0x10";

class TagAddress : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        configure(Nodes);
    }
};

}  // namespace

TEST_F(TagAddress, ValidAddressesGiveTheirLineAddressAndFunctions) {
    const std::pair<const char*, std::vector<int>> cases[] = {
        // node, offset, sub-index, read code, write code, byte offset, bit index, packed length
        {"1?HREG?400001?unsignedShort", {1, 0, 0, 3, 6, 0, 0, 2}},
        {" 2 ? HREG ? 400003 ? short ", {2, 2, 0, 3, 6, 4, 0, 2}},
        {"2?HREG?465535?unsignedShort", {2, 65534, 0, 3, 6, 131068, 0, 2}},
        {"1?HREG?400001.1?byte", {1, 0, 1, 3, 6, 1, 1, 1}},
        {"1?HREG?400001.15?boolean", {1, 0, 15, 3, 6, 1, 7, 1}},
        {"1?HREG?400010?string-5", {1, 9, 0, 3, 6, 18, 0, 5}},
        {"1?HREG?0x61A81?unsignedShort", {1, 0, 0, 3, 6, 0, 0, 2}},
        {"1?HREG?01415201?unsignedShort", {1, 0, 0, 3, 6, 0, 0, 2}},  // octal 400001
        {"1?INP?100009?boolean", {1, 8, 0, 2, 0, 1, 0, 1}},
        {"1?INP?100001?boolean-16", {1, 0, 0, 2, 0, 0, 0, 2}},
        {"1?OUTP?12?boolean", {1, 11, 0, 1, 5, 1, 3, 1}},
        {"1?OUTP?6?boolean-4", {1, 5, 0, 1, 5, 0, 5, 2}},
        {"1?OUTP?9999?boolean", {1, 9998, 0, 1, 5, 1249, 6, 1}},
        // Coil numbers in the 5-digit input-bit range become input bits without a write.
        {"1?OUTP?10001?boolean", {1, 0, 0, 2, 0, 0, 0, 1}},
        {"1?OUTP?19999?boolean", {1, 9998, 0, 2, 0, 1249, 6, 1}},
        {"1?OUTP?20000?boolean", {1, 19999, 0, 1, 5, 2499, 7, 1}},
        {"1?IREG?300001?float", {1, 0, 0, 4, 0, 0, 0, 4}},
        {"2?IREG?365535?unsignedShort", {2, 65534, 0, 4, 0, 131068, 0, 2}},
        {"4?HREG?400001?unsignedShort", {4, 0, 0, 3, 16, 0, 0, 2}},
        {"6?HREG?400001?unsignedShort", {6, 0, 0, 3, 6, 0, 0, 2}},
        {"7?HREG?400001?unsignedShort", {7, 0, 0, 3, 6, 0, 0, 2}},
        {"1?NO?0?unsignedByte", {1, 0, 0, 0, 0, 0, 0, 1}},
        {"3?SL?5?unsignedByte", {3, 5, 0, 0, 0, 5, 0, 1}},
    };
    for (const auto& [address, fields] : cases) {
        const Tag_QARN* t = tag(address);
        ASSERT_NE(t, nullptr);
        EXPECT_STREQ(t->GetVarName(), address);
        EXPECT_EQ(std::vector<int>({protocol->GetNodeID(t), t->getOffset(), t->getSubIndex(),
                                    t->getReadCode(), t->getWriteCode(), t->GetByteOffset(),
                                    t->GetBitIndex(), t->PackedLen()}),
                  fields)
            << address;
        EXPECT_EQ(protocol->Extend(3, static_cast<ITag*>(const_cast<Tag_QARN*>(t))),
                  std::string(address).find("?NO?") != std::string::npos ? 1 : 0);
    }
}

TEST_F(TagAddress, InvalidAddressesReportTheFirstFailingCheck) {
    const std::pair<const char*, const char*> cases[] = {
        {"1?HREG?400001", "there must be 4 tag specification fields"},
        {"1?HREG?400001?short?x", "there must be 4 tag specification fields"},
        {"?HREG?400001?short", "nodeID field missing"},
        {"1??400001?short", "memorytype field missing"},
        {"1?HREG? ?short", "subIndex field missing"},
        {"1?HREG?400001?", "orbaType field missing"},
        {"1?hreg?400001?short", "Can't access memory type"},
        {"2?INP?100001?boolean", "Can't access memory type"},
        {"2?SL?1?unsignedByte", "Can't access memory type"},
        {"5?HREG?400001?short", "Can't access memory type"},
        {"1?HREG?400001?shorty", "shorty: data type unknown"},
        {"1?HREG?400001?short(swap2", "short(swap2: data type unknown"},
        {"2?HREG?465536?unsignedShort", "Index out of range"},
        {"2?HREG?40001?unsignedShort", "Index out of range"},
        {"1?OUTP?0?boolean", "Index out of range"},
        {"3?SL?0?unsignedByte", "Index out of range"},
        {"3?SL?128?unsignedByte", "Index out of range"},
        {"1?HREG?400001.1?unsignedShort", "Subindex invalid"},
        {"1?HREG?400001.2?byte", "Subindex invalid"},
        {"1?HREG?400001.16?boolean", "Subindex invalid"},
        {"1?HREG?400001.-1?short", "Subindex invalid"},
        {"1?OUTP?1.8?boolean", "Subindex invalid"},
        {"1?HREG?400001.1?object", "Subindex invalid"},
        {"1?NO?0.-1?unsignedByte", "Subindex invalid"},
        {"1?NO?0.1?unsignedByte", "Subindex invalid"},
        {"1?NO?0?short", "invalid access to node override"},
        {"3?SL?1?short", "invalid access to Slave Address"},
        {"1?NO?1?unsignedByte", "invalid offset for this memory type"},
        {"1?HREG?400001?time", "not allowed orba type"},
        {"1?HREG?400001?double-2", "not allowed orba type"},
        {"1?HREG?400001?int64", "not allowed orba type"},
        {"1?INP?100001?unsignedByte", "not allowed orba type"},
    };
    for (const auto& [address, reason] : cases) {
        protocol->SetError(1, "");
        EXPECT_EQ(protocol->CreateTag(address), nullptr) << address;
        EXPECT_EQ(lastError(), std::string("-1 Tag URI error: ") + address + " - " + reason);
    }
}

TEST_F(TagAddress, CloneOutlivesTheOriginal) {
    const Tag_QARN* original = tag("1?HREG?400010.1?byte(inv)");
    const ITag* copy = original->Clone();
    ASSERT_NE(copy, nullptr);
    protocol->FreeTag(const_cast<Tag_QARN*>(original));
    const Tag_QARN* clone = static_cast<const Tag_QARN*>(copy);
    EXPECT_STREQ(clone->GetVarName(), "1?HREG?400010.1?byte(inv)");
    EXPECT_EQ(clone->GetByteOffset(), 19);
    EXPECT_EQ(clone->getConversions(), std::vector<std::string>{"inv"});
    EXPECT_EQ(clone->getNodeParams(), protocol->getParamManager().getNodeParams(1));
    delete copy;
}
