// Reads through the scripted port: the request on the wire, the repeat rule for link faults, the
// checks of an answer in their order, the raw layouts, and which tags may share a request.

#include <map>

#include "DriverFixture.h"

using namespace qarntest;

namespace {

using PortOp = RecordingSerialPort::Op;

// Node 1's answer to a read of one holding register holding 0x1234.
const Bytes GoodAnswer = withCrc(hexBytes("01 03 02 12 34"));

class Reading : public DriverTest {
  protected:
    // The tag's raw image; the buffer starts as EE so that untouched bytes show.
    std::string readBlock(const Tag_QARN* t, int length, bool ok = true) {
        Bytes raw(static_cast<size_t>(length), 0xEE);
        EXPECT_EQ(protocol->ReadBlock(t, raw.data(), length), ok) << lastError();
        return toHex(raw);
    }
};

}  // namespace

TEST_F(Reading, OneAttemptDrainsSendsAndReceivesWithTheNodesTimes) {
    start(GenericNode + " timeout=700");
    port.answer(
        withCrc(hexBytes("01 03 14 41 42 43 44 45 46 00 00 00 00 00 00 00 00 00 00 00 00 "
                         "00 00")));
    EXPECT_EQ(readBlock(tag("1?HREG?400001?string-20"), 20).substr(0, 17), "42 41 44 43 46 45");
    EXPECT_EQ(toHex(port.requests().at(0)), "01 03 00 00 00 0A C5 CD");
    const auto& c = port.calls();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(std::vector<int>({c[0].size, c[0].flags}), std::vector<int>({0, 0}));
    EXPECT_EQ(std::vector<int>({c[1].size, c[1].flags}), std::vector<int>({8, 0}));
    EXPECT_EQ(std::vector<int>(
                  {c[2].size, c[2].timeoutMs, c[2].interCharMs, c[2].receivedPreset, c[2].flags}),
              std::vector<int>({256, 700, 10, 0, 0}));

    // ISMG devices: wrapped requests, and an unwrapped answer counts as none.
    start("defNodeId=1 model=ISMG1xx");
    const Tag_QARN* ismg = tag("1?HREG?400001?unsignedShort-10");
    Bytes answer = hexBytes("01 03 14");
    answer.resize(23, 0x11);
    port.answer(withCrc(answer));
    port.answer(ismgWrapped(withCrc(hexBytes("01 03"))));  // a wrapper around no answer
    port.answer(ismgWrapped(withCrc(answer)));
    EXPECT_EQ(readBlock(ismg, 20).substr(0, 5), "11 11");
    EXPECT_EQ(port.requests().size(), 3u);
    EXPECT_EQ(toHex(port.requests()[0]), "0A 01 03 00 00 00 0A C5 CD 0D");
}

TEST_F(Reading, OnlyLinkFaultsAreRepeated) {
    // Script letters: G good answer, C good but bad CRC, 4 its first four bytes, - silence,
    // X garbage, E exception.
    const struct {
        int repeat;
        const char* script;
        const char* error;  // null: the read succeeds
        int requests;
    } cases[] = {
        {2, "", "-6 Communication error", 3},
        {0, "", "-6 Communication error", 1},
        {-1, "G", "-6 Communication error", 0},
        {2, "CG", nullptr, 2},
        {2, "4-G", nullptr, 3},
        {1, "XX", "-6 Communication error", 2},
        {2, "XEG", "-6 Exception: Illegal data address", 2},
    };
    Bytes badCrc = GoodAnswer;
    badCrc.back() ^= 1;
    const std::map<char, Bytes> answers = {{'G', GoodAnswer},
                                           {'C', badCrc},
                                           {'4', Bytes(GoodAnswer.begin(), GoodAnswer.begin() + 4)},
                                           {'E', withCrc(hexBytes("01 83 02"))}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("repeat ") + std::to_string(c.repeat) + ", script " + c.script);
        start(GenericNode + " repeat=" + std::to_string(c.repeat));
        for (char step : std::string(c.script)) {
            if (step == '-') {
                port.silence();
            } else if (step == 'X') {
                port.garbage(7);
            } else {
                port.answer(answers.at(step));
            }
        }
        const std::string raw = readBlock(tag("1?HREG?400001?unsignedShort"), 2, !c.error);
        EXPECT_EQ(raw, c.error ? "EE EE" : "34 12");
        EXPECT_EQ(lastError(), c.error ? c.error : "1 ");
        EXPECT_EQ(requestCount(), c.requests);
        EXPECT_EQ(port.count(PortOp::Drain), c.requests);
    }
}

TEST_F(Reading, AnswersWithACorrectCrcAreCheckedInOrderWithoutRepeat) {
    const std::pair<const char*, const char*> cases[] = {
        {"02 03 02 12 34", "Incorrect node address in response"},
        {"01 83 01", "Exception: Illegal function"},
        {"01 83 02", "Exception: Illegal data address"},
        {"01 83 03", "Exception: Illegal data value"},
        {"01 83 04", "Exception: Failure in device"},
        {"01 83 00", "Unknown exception"},
        {"01 83 07", "Unknown exception"},
        {"02 83 02", "Incorrect node address in response"},
        {"01 84 02", "Incorrect operation in response"},
        {"01 83 02 00", "Incorrect operation in response"},
        {"01 04 02 12 34", "Incorrect operation in response"},
        {"01 03 04 12 34", "Incorrect data length received"},
        {"01 03 02 12 34 56", "Incorrect data length received"},
        {"01 03 02 12", "Incorrect data length received"},
    };
    start();
    const Tag_QARN* reg = tag("1?HREG?400001?unsignedShort");
    for (const auto& [answer, error] : cases) {
        port.clearCalls();
        port.answer(withCrc(hexBytes(answer)));
        port.answer(GoodAnswer);
        EXPECT_EQ(readBlock(reg, 2, false), "EE EE") << answer;
        EXPECT_EQ(lastError(), std::string("-6 ") + error) << answer;
        EXPECT_EQ(requestCount(), 1) << answer;
        port.clearScript();
    }
    // Bits: the byte count must match the bits asked for.
    const Tag_QARN* coils = tag("1?OUTP?1?boolean-16");
    for (const char* answer : {"01 01 03 A5 5A 00", "01 01 01 A5 5A"}) {
        port.answer(withCrc(hexBytes(answer)));
        EXPECT_EQ(readBlock(coils, 2, false), "EE EE") << answer;
        EXPECT_EQ(lastError(), "-6 Incorrect data length received") << answer;
    }
}

TEST_F(Reading, EffectiveNodeDecidesWhatIsSentAndTheDelayIsWaitedOnce) {
    start(GenericNode + " delay=30");
    const Tag_QARN* reg = tag("7?HREG?400001?unsignedShort");
    protocol->DoCommand("setid 7 255", nullptr, 0);
    readBlock(reg, 2, false);
    EXPECT_EQ(lastError(), "-10 Node disabled");
    ASSERT_EQ(host.multiTask().sleeps().size(), 1u);
    EXPECT_EQ(host.multiTask().sleeps()[0].ms, 30);
    protocol->DoCommand("setid 7 256", nullptr, 0);  // low 8 bits: broadcast
    readBlock(reg, 2, false);
    EXPECT_EQ(lastError(), "-10 Broadcast request");
    EXPECT_TRUE(port.calls().empty());

    protocol->DoCommand("setid 7 0x109", nullptr, 0);
    host.multiTask().clearCalls();
    port.stale(2);
    readBlock(reg, 2, false);
    EXPECT_EQ(sent(), Frames(3, "09 03 00 00 00 01"));
    ASSERT_EQ(host.multiTask().sleeps().size(), 1u);
    EXPECT_LT(host.multiTask().sleeps()[0].stamp, port.calls().front().stamp);
    EXPECT_EQ(port.calls()[3].op, PortOp::Send);  // after two stale rounds and a clean one
}

TEST_F(Reading, RawImagesFollowTheMemoryAreaLayout) {
    start();
    const struct {
        const char* address;
        int length;
        const char* answer;
        const char* request;  // without CRC
        const char* raw;
    } cases[] = {
        {"1?HREG?400001?unsignedShort", 2, "01 03 02 12 34", "01 03 00 00 00 01", "34 12"},
        {"1?HREG?400001.1?byte", 1, "01 03 02 12 34", "01 03 00 00 00 01", "12"},
        {"1?HREG?400001.15?boolean", 1, "01 03 02 80 00", "01 03 00 00 00 01", "80"},
        {"1?HREG?400005?unsignedShort", 6, "01 03 06 00 01 00 02 00 03", "01 03 00 04 00 03",
         "01 00 02 00 03 00"},
        {"1?IREG?300002?float", 4, "01 04 04 00 00 41 20", "01 04 00 01 00 02", "00 00 20 41"},
        // Coil 12 is item 11: its bit lands at bit 3; the other bits and bytes stay 0.
        {"1?OUTP?12?boolean", 1, "01 01 01 01", "01 01 00 0B 00 01", "08"},
        {"1?OUTP?12?boolean", 4, "01 01 01 FF", "01 01 00 0B 00 01", "08 00 00 00"},
        {"1?INP?100003?boolean-9", 2, "01 02 02 FF 01", "01 02 00 02 00 09", "FC 07"},
    };
    for (const auto& c : cases) {
        port.clearCalls();
        port.answer(withCrc(hexBytes(c.answer)));
        EXPECT_EQ(readBlock(tag(c.address), c.length), c.raw) << c.address;
        EXPECT_EQ(sent(), Frames{c.request}) << c.address;
    }
    // Read converts the raw image into the host value.
    port.answer(withCrc(hexBytes("01 03 02 80 00")));
    uint8_t bit = 0;
    ASSERT_TRUE(protocol->Read(tag("1?HREG?400001.15?boolean"), &bit));
    EXPECT_EQ(bit, 1);
}

TEST_F(Reading, NodeAreasAnswerWithoutTrafficAndNothingIsReadWhenStopped) {
    start("defNodeId=1 model=ISMG1xx delay=50");
    const Tag_QARN* no = tag("5?NO?0?unsignedByte");
    const Tag_QARN* sl = tag("3?SL?9?unsignedByte");
    EXPECT_EQ(readBlock(no, 1), "05");
    protocol->DoCommand("setid 5 7", nullptr, 0);
    EXPECT_EQ(readBlock(no, 1), "07");
    protocol->DoCommand("setid 5 255", nullptr, 0);
    EXPECT_EQ(readBlock(no, 1), "FF");
    EXPECT_EQ(readBlock(sl, 1), "03");
    EXPECT_TRUE(port.calls().empty());
    EXPECT_TRUE(host.multiTask().sleeps().empty());

    ASSERT_TRUE(protocol->Stop());
    EXPECT_EQ(readBlock(no, 1, false), "EE");
    EXPECT_EQ(lastError(), "-3 Protocol not started");
}

TEST_F(Reading, MergingFollowsNodeFunctionSpanAndLimits) {
    configure(
        "defNodeId=1 model=EM24 Node2::defNodeId=2 Node2::maxOptLen=20 "
        "Node9::defNodeId=9 Node9::model=GenericModbus");
    const struct {
        const char* first;
        const char* second;
        bool merge;
    } cases[] = {
        {"1?HREG?400001?unsignedShort", "1?HREG?400011?unsignedShort", true},
        {"1?HREG?400001?unsignedShort", "1?HREG?400012?unsignedShort", false},
        {"1?HREG?400001?unsignedShort", "1?HREG?400010?int", true},
        {"1?HREG?400001?unsignedShort", "1?HREG?400011?int", false},
        {"1?HREG?400011?unsignedShort", "1?HREG?400001?unsignedShort", false},
        {"1?HREG?400001?unsignedShort", "3?HREG?400002?unsignedShort", false},
        {"1?HREG?400001?unsignedShort", "1?IREG?300002?unsignedShort", false},
        {"1?HREG?400001.0?byte", "1?HREG?400001.1?byte", true},
        {"1?HREG?400001?unsignedShort", "1?HREG?400010.15?boolean", true},
        {"1?HREG?400001?unsignedShort", "1?HREG?400012.15?boolean", false},
        {"2?HREG?400001?unsignedShort", "2?HREG?400011?unsignedShort", false},
        {"2?HREG?400001?unsignedShort", "2?HREG?400010?unsignedShort", true},
        {"9?OUTP?1?boolean", "9?OUTP?15?boolean-2", true},
        {"9?OUTP?1?boolean", "9?OUTP?17?boolean", false},
        {"1?NO?0?unsignedByte", "1?NO?0?unsignedByte", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(protocol->CanBeOptimized(tag(c.first), tag(c.second), false), c.merge)
            << c.first << " + " << c.second;
    }
    const Tag_QARN* reg = tag("1?HREG?400001?unsignedShort");
    EXPECT_FALSE(protocol->CanBeOptimized(reg, reg, true));
}
