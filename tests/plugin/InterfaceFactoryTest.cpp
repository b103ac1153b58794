// What the host reaches by name: the interface factory's answers, ConvertTo of the module and the
// protocol factory, and the protocol factory's names and deletion.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "IProtocol.h"
#include "ProtFactory.h"

namespace {

IInterface* byName(const char* name) {
    return GetInterfaceFactory()->CreateInterface(name);
}

struct NameCase {
    const char* name;
    const char* impName;  // of the object expected; null when the name must be refused
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << (c.name != nullptr ? "\"" + std::string(c.name) + "\"" : "null");
}

class CreateInterfaceTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(CreateInterfaceTest, AnswersExactNamesOnlyAndAlwaysWithTheSameObject) {
    const NameCase& c = GetParam();
    IInterface* object = byName(c.name);
    if (c.impName == nullptr) {
        EXPECT_EQ(object, nullptr);
        return;
    }
    ASSERT_NE(object, nullptr);
    EXPECT_STREQ(object->GetImpName(), c.impName);
    EXPECT_EQ(byName(c.name), object);
}

INSTANTIATE_TEST_SUITE_P(
    Names, CreateInterfaceTest,
    ::testing::Values(NameCase{"IProtocolFactory", "ProtFactoryInDLL"},
                      NameCase{"ProtocolFactory", "ProtFactoryInDLL"},
                      NameCase{"IProtModule", "ProtModule"}, NameCase{"ProtModule", "ProtModule"},
                      NameCase{"IProtocol", nullptr}, NameCase{"protmodule", nullptr},
                      NameCase{"IPROTMODULE", nullptr}, NameCase{"IProtModule ", nullptr},
                      NameCase{" IProtModule", nullptr}, NameCase{"IProtMod", nullptr},
                      NameCase{"IProtModule2", nullptr}, NameCase{"ProtFactoryInDLL", nullptr},
                      NameCase{"IInterfaceFactory", nullptr}, NameCase{"IInterface", nullptr},
                      NameCase{"", nullptr}, NameCase{nullptr, nullptr}));

TEST(InterfaceFactoryTest, BothNamesOfAnObjectGiveTheOneEmbeddedInstance) {
    IInterface* module = byName("IProtModule");
    IInterface* factory = byName("IProtocolFactory");
    EXPECT_EQ(byName("ProtModule"), module);
    EXPECT_EQ(byName("ProtocolFactory"), factory);
    EXPECT_NE(module, factory);

    // Releasing hands nothing back and destroys nothing: the same objects keep answering.
    GetInterfaceFactory()->ReleaseInterface(module);
    GetInterfaceFactory()->ReleaseInterface(factory);
    EXPECT_EQ(byName("IProtModule"), module);
    EXPECT_STREQ(module->GetImpName(), "ProtModule");
    EXPECT_STREQ(factory->GetImpName(), "ProtFactoryInDLL");
}

struct ConvertCase {
    const char* object;  // the name the object is fetched by
    const char* asked;
    bool self;
};

void PrintTo(const ConvertCase& c, std::ostream* out) {
    *out << c.object << " asked "
         << (c.asked != nullptr ? "\"" + std::string(c.asked) + "\"" : "null");
}

class ConvertToTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertToTest, AnswersItselfForItsOwnNamesOnly) {
    const ConvertCase& c = GetParam();
    IInterface* object = byName(c.object);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->ConvertTo(c.asked), c.self ? static_cast<void*>(object) : nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ConvertToTest,
    ::testing::Values(ConvertCase{"IProtModule", "IProtModule", true},
                      ConvertCase{"IProtModule", "ProtModule", true},
                      ConvertCase{"IProtModule", "IProtocolFactory", false},
                      ConvertCase{"IProtModule", "IInterface", false},
                      ConvertCase{"IProtModule", "iprotmodule", false},
                      ConvertCase{"IProtModule", nullptr, false},
                      ConvertCase{"IProtocolFactory", "IProtocolFactory", true},
                      ConvertCase{"IProtocolFactory", "ProtocolFactory", true},
                      ConvertCase{"IProtocolFactory", "ProtFactoryInDLL", false},
                      ConvertCase{"IProtocolFactory", "IProtModule", false},
                      ConvertCase{"IProtocolFactory", "IProtocolFactory ", false},
                      ConvertCase{"IProtocolFactory", nullptr, false}));

IProtocolFactory* protocolFactory() {
    return static_cast<IProtocolFactory*>(byName("IProtocolFactory"));
}

class CreateProtocolTest : public ::testing::TestWithParam<const char*> {};

TEST_P(CreateProtocolTest, RefusesEveryNameButTheExactProtocolName) {
    EXPECT_EQ(protocolFactory()->CreateProtocol(GetParam()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Names, CreateProtocolTest,
                         ::testing::Values("qarn", "Qarn", "QARN ", " QARN", "QAR", "QARNQ", "",
                                           nullptr, "Modbus Pelrosa", "Protocol_QARN",
                                           "IProtocol"));

TEST(ProtocolFactoryTest, CreatesIndependentInstancesAndDeletesThem) {
    IProtocolFactory* factory = protocolFactory();
    IProtocol* first = factory->CreateProtocol("QARN");
    IProtocol* second = factory->CreateProtocol("QARN");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_STREQ(first->GetName(), "QARN");
    EXPECT_STREQ(first->GetImpName(), "Protocol_QARN");
    first->SetIdent("first");
    EXPECT_STREQ(second->GetIdent(), "QARN");
    factory->DeleteProtocol(first);
    EXPECT_STREQ(second->GetName(), "QARN");
    factory->DeleteProtocol(second);
}

// A protocol that only counts its destruction; every other operation gives a neutral answer.
class CountingProtocol : public IProtocol {
  public:
    explicit CountingProtocol(int& destroyed) : destroyed_(destroyed) {}
    ~CountingProtocol() override { ++destroyed_; }

    void* ConvertTo(const char*) override { return nullptr; }
    const char* GetImpName() const override { return "CountingProtocol"; }
    int GetImpVersion() const override { return 1; }
    bool Config(const char*) override { return false; }
    ITag* CreateTag(const char*) override { return nullptr; }
    void FreeTag(ITag*) override {}
    bool CanBeOptimized(const ITag*, const ITag*, bool) const override { return false; }
    bool Start() override { return false; }
    bool Stop() override { return false; }
    bool Read(const ITag*, uint8_t*) override { return false; }
    bool Write(const ITag*, const uint8_t*) override { return false; }
    bool ReadBlock(const ITag*, uint8_t*, int) override { return false; }
    bool WriteBlock(const ITag*, const uint8_t*, int) override { return false; }
    int MaxDatagramItems(const ITag*) const override { return 0; }
    int MaxDatagramLength(const ITag*) const override { return 0; }
    bool CanCoexistInDatagram(const ITag*, const ITag*) const override { return false; }
    bool ReadDatagram(const ITag* const*, int, uint8_t*) override { return false; }
    const char* GetName() const override { return "COUNT"; }
    const char* GetNextInstanceName() const override { return nullptr; }
    int GetLastError() const override { return 1; }
    const char* GetLastErrorString() const override { return ""; }
    int GetProtocolVersion() const override { return 0; }
    int GetProtocolType() const override { return 0; }
    const char* GetProtocolName() const override { return ""; }
    int GetInfo(char*, int) const override { return 0; }
    const char* GetXml() const override { return nullptr; }
    bool IsConverted() const override { return false; }
    const char* GetIdent() const override { return ""; }
    void SetIdent(const char*) override {}
    int DoCommand(const char*, char*, int) override { return 0; }
    int Extend(int, void*) override { return 0; }

  private:
    int& destroyed_;
};

TEST(ProtocolFactoryTest, DeleteProtocolDestroysThroughTheVirtualDestructorAndIgnoresNull) {
    int destroyed = 0;
    protocolFactory()->DeleteProtocol(nullptr);
    EXPECT_EQ(destroyed, 0);
    protocolFactory()->DeleteProtocol(new CountingProtocol(destroyed));
    EXPECT_EQ(destroyed, 1);
}

}  // namespace
