// Writes through the scripted port: the requests of each write function, read-before-write of
// partly covered registers, the checks of write answers, and the node areas.

#include "DriverFixture.h"

using namespace qarntest;

namespace {

// Node 1 writes holding registers with function 6, node 2 with function 16.
const std::string Nodes = GenericNode + " repeat=1 Node2::defNodeId=2 Node2::presetFunction=16";

// "a|b" -> {"a", "b"}; "" -> {}.
Frames split(const std::string& text) {
    Frames parts;
    for (size_t start = 0; start < text.size();) {
        const size_t bar = std::min(text.find('|', start), text.size());
        parts.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
    return parts;
}

struct Case {
    const char* address;
    const char* value;    // host value, hexadecimal
    const char* answers;  // frames without CRC, separated by '|'
    const char* outcome;  // success: the frames sent; failure: the last error
    int requests;
};

class Writing : public DriverTest {
  protected:
    bool write(const std::string& address, const std::string& value) {
        const Bytes bytes = hexBytes(value);
        return protocol->Write(tag(address), bytes.data());
    }
    void answers(const std::string& frames) {
        for (const std::string& frame : split(frames)) {
            port.answer(withCrc(hexBytes(frame)));
        }
    }
    void run(const Case& c, bool ok) {
        SCOPED_TRACE(c.address);
        start(Nodes);
        answers(c.answers);
        answers("01 06 00 00 12 34");  // a spare answer that no repeat may take
        EXPECT_EQ(write(c.address, c.value), ok) << lastError();
        EXPECT_EQ(ok ? sent() : Frames{lastError()}, ok ? split(c.outcome) : Frames{c.outcome});
        EXPECT_EQ(requestCount(), c.requests);
    }
};

}  // namespace

TEST_F(Writing, EachWriteFunctionSendsItsFrames) {
    const Case cases[] = {
        {"1?HREG?400001?unsignedShort", "34 12", "01 06 00 00 12 34", "01 06 00 00 12 34", 1},
        {"2?HREG?400001?unsignedShort", "34 12", "02 10 00 00 00 01", "02 10 00 00 00 01 02 12 34",
         1},
        // One register per request with function 6.
        {"1?HREG?400003?int", "44 33 22 11", "01 06 00 02 33 44|01 06 00 03 11 22",
         "01 06 00 02 33 44|01 06 00 03 11 22", 2},
        // A byte with sub-index 1: the register is read first, its low byte kept.
        {"1?HREG?400001.1?byte", "5A", "01 03 02 AB CD|01 06 00 00 5A CD",
         "01 03 00 00 00 01|01 06 00 00 5A CD", 2},
        // Bit 5 of a register, set and cleared.
        {"1?HREG?400001.5?boolean", "01", "01 03 02 12 00|01 06 00 00 12 20",
         "01 03 00 00 00 01|01 06 00 00 12 20", 2},
        {"1?HREG?400001.5?boolean", "00", "01 03 02 12 FF|01 06 00 00 12 DF",
         "01 03 00 00 00 01|01 06 00 00 12 DF", 2},
        // Five bytes over three registers: the sixth byte keeps what was read.
        {"1?HREG?400001?string-5", "48 45 4C 4C 4F",
         "01 03 06 11 22 33 44 55 66|01 06 00 00 45 48|01 06 00 01 4C 4C|01 06 00 02 55 4F",
         "01 03 00 00 00 03|01 06 00 00 45 48|01 06 00 01 4C 4C|01 06 00 02 55 4F", 4},
        {"2?HREG?400001?string-5", "48 45 4C 4C 4F", "02 03 06 11 22 33 44 55 66|02 10 00 00 00 03",
         "02 03 00 00 00 03|02 10 00 00 00 03 06 45 48 4C 4C 55 4F", 2},
        // Coils: one request each, never read first.
        {"1?OUTP?12?boolean", "01", "01 05 00 0B FF 00", "01 05 00 0B FF 00", 1},
        {"1?OUTP?12?boolean", "00", "01 05 00 0B 00 00", "01 05 00 0B 00 00", 1},
        {"1?OUTP?7?boolean-3", "01 00 01", "01 05 00 06 FF 00|01 05 00 07 00 00|01 05 00 08 FF 00",
         "01 05 00 06 FF 00|01 05 00 07 00 00|01 05 00 08 FF 00", 3},
    };
    for (const Case& c : cases) {
        run(c, true);
    }
    // The whole frames of the two register writes.
    run({"1?HREG?400001?unsignedShort", "34 12", "01 06 00 00 12 34", "01 06 00 00 12 34", 1},
        true);
    EXPECT_EQ(toHex(port.requests().at(0)), "01 06 00 00 12 34 84 BD");
    start(GenericNode + " presetFunction=16");
    answers("01 10 00 00 00 01");
    ASSERT_TRUE(write("1?HREG?400001?unsignedShort", "34 12")) << lastError();
    EXPECT_EQ(toHex(port.requests().at(0)), "01 10 00 00 00 01 02 12 34 AB 27");
}

TEST_F(Writing, FailuresStopAtTheFirstFaultWithItsError) {
    const char* reg = "1?HREG?400001?unsignedShort";
    const char* reg16 = "2?HREG?400001?short";
    const Case cases[] = {
        // The checks of a write answer, each final at once.
        {reg, "34 12", "02 06 00 00 12 34", "-6 Incorrect node address in response", 1},
        {reg, "34 12", "01 86 02", "-6 Exception: Illegal data address", 1},
        {reg, "34 12", "01 03 00 00 12 34", "-6 Incorrect operation in response", 1},
        {reg, "34 12", "01 06 00 00", "-6 Incorrect data length received", 1},
        {reg, "34 12", "01 06 00 00 12", "-6 Incorrect data length received", 1},
        {reg, "34 12", "01 06 00 01 12 34", "-6 Incorrect offset in response", 1},
        {reg, "34 12", "01 06 00 00 34 12", "-6 Incorrect writing data acknowledge", 1},
        {"1?OUTP?1?boolean", "01", "01 05 00 00 00 00", "-6 Incorrect writing data acknowledge", 1},
        {reg16, "01 00", "02 90 01", "-6 Exception: Illegal function", 1},
        {reg16, "01 00", "02 10 00 00", "-6 Incorrect data length received", 1},
        {reg16, "01 00", "02 10 01 00 00 01", "-6 Incorrect offset in response", 1},
        {reg16, "01 00", "02 10 00 00 00 02", "-6 Incorrect count in response", 1},
        // Function 6: the first register stays written, the error is the second's.
        {"1?HREG?400003?int", "04 03 02 01", "01 06 00 02 03 04|01 86 04",
         "-6 Exception: Failure in device", 2},
        // A failed read stops the write; a value that cannot be converted is refused after it.
        {"1?HREG?400001?string-5", "01 02 03 04 05", "01 83 02",
         "-6 Exception: Illegal data address", 1},
        {"1?HREG?400001.1?byte(bcd)", "64", "01 03 02 AB CD", "-9 write conversion error", 1},
        // Refused before any traffic.
        {"1?HREG?400001?unsignedShort(bcd)", "10 27", "", "-9 write conversion error", 0},
        {"1?HREG?400001?short(nonsense)", "01 00", "", "-9 write conversion error", 0},
        {"1?INP?100001?boolean", "01", "", "-1 writing to read_only type", 0},
        {"1?IREG?300001?unsignedShort", "01 00", "", "-1 writing to read_only type", 0},
        {"1?OUTP?15000?boolean", "01", "", "-1 writing to read_only type", 0},
    };
    for (const Case& c : cases) {
        run(c, false);
    }
    // No delay is waited for a refused write, and nothing is written when stopped.
    start(GenericNode + " delay=10");
    EXPECT_FALSE(write("1?OUTP?15000?boolean", "01"));
    EXPECT_TRUE(host.multiTask().sleeps().empty());
    ASSERT_TRUE(protocol->Stop());
    EXPECT_FALSE(write("1?HREG?400001?unsignedShort", "00 00"));
    EXPECT_EQ(lastError(), "-3 Protocol not started");
}

TEST_F(Writing, LongRegisterWritesGoOutInFramesThatFit) {
    start(Nodes);
    answers("02 10 00 00 00 7B|02 10 00 7B 00 02");
    const std::string text(500, '7');  // 250 bytes of 0x77
    ASSERT_TRUE(write("2?HREG?400001?string-250", text)) << lastError();
    ASSERT_EQ(port.requests().size(), 2u);
    EXPECT_EQ(port.requests()[0].size(), 255u);
    EXPECT_EQ(sent()[0].substr(0, 20), "02 10 00 00 00 7B F6");
    EXPECT_EQ(sent()[1], "02 10 00 7B 00 02 04 77 77 77 77");
    port.clearCalls();
    answers("02 90 03");
    EXPECT_FALSE(write("2?HREG?400001?string-250", text));
    EXPECT_EQ(requestCount(), 1);
}

TEST_F(Writing, NodeOverrideWritesChangeTheTableAndTheStore) {
    start(GenericNode + " delay=15");
    ASSERT_TRUE(write("5?NO?0?unsignedByte", "09"));
    EXPECT_EQ(host.store().value("QARN", "tempNode5"), "9");
    EXPECT_EQ(protocol->getReplacer().lookup(5), 9);
    ASSERT_TRUE(write("5?NO?0?unsignedByte", "05"));
    EXPECT_FALSE(host.store().value("QARN", "tempNode5").has_value());
    EXPECT_TRUE(port.calls().empty());
    EXPECT_TRUE(host.multiTask().sleeps().empty());

    ASSERT_TRUE(write("5?NO?0?unsignedByte", "FF"));
    EXPECT_FALSE(write("5?HREG?400001?unsignedShort", "00 00"));
    EXPECT_EQ(lastError(), "-10 Node disabled");
    // 0 stays 0 (unlike "setid"): writes then go out as broadcasts that await nothing.
    ASSERT_TRUE(write("5?NO?0?unsignedByte", "00"));
    EXPECT_EQ(host.store().value("QARN", "tempNode5"), "0");
    ASSERT_TRUE(write("5?HREG?400001?unsignedShort", "34 12")) << lastError();
    EXPECT_EQ(sent(), Frames{"00 06 00 00 12 34"});
    EXPECT_EQ(port.count(RecordingSerialPort::Op::Receive), 0);
}

TEST_F(Writing, SlaveAddressFrameNeedsItsExactEcho) {
    start("defNodeId=1 model=ISMG1xx");
    port.answer(ismgWrapped(hexBytes("03 08 01 CC 02 62 00 01 0A F9 45")));
    ASSERT_TRUE(write("3?SL?1?unsignedByte", "0A")) << lastError();
    EXPECT_EQ(toHex(port.requests().at(0)), "0A 03 08 01 CC 02 62 00 01 0A F9 45 0D");

    // A differing echo fails the write and leaves the last error as it was.
    protocol->SetError(42, "before");
    port.clearCalls();
    port.answer(ismgWrapped(withCrc(hexBytes("03 08 01 CC 02 62 00 01 0B"))));
    EXPECT_FALSE(write("3?SL?1?unsignedByte", "0A"));
    EXPECT_EQ(lastError(), "42 before");
    EXPECT_EQ(requestCount(), 1);
    port.answer(ismgWrapped(withCrc(hexBytes("03 88 01"))));
    EXPECT_FALSE(write("3?SL?1?unsignedByte", "0A"));
    EXPECT_EQ(lastError(), "-6 Exception: Illegal function");
}
