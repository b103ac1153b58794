// Reads and writes through the scripted port: the requests on the wire, repeats, the checks of an
// answer in their order, raw layouts, read-before-write, node areas, and which tags may merge.

#include <cstring>

#include "DriverFixture.h"

using namespace qarntest;

namespace {

// Node 1 generic (repeat 2), node 2 writes holding registers with function 16, node 3 an ISMG
// device, node 5 tries not at all; nodes 6 to 8 are meters, 7 with short blocks.
const std::string Nodes =
    GenericNode +
    " Node2::defNodeId=2 Node2::presetFunction=16 Node3::defNodeId=3 "
    "Node3::model=ISMG1xx Node5::defNodeId=5 Node5::repeat=-1 Node6::defNodeId=6 "
    "Node6::model=EM24 Node7::defNodeId=7 Node7::model=EM24 Node7::maxOptLen=20 "
    "Node8::defNodeId=8 Node8::model=WM30";

const char *const Read = nullptr, *const R = "1?HREG?400001?unsignedShort",
                  *const F16 = "2?HREG?400001?short",
                  *const CommError = "Communication: Communication error",
                  *const Length = "Communication: Incorrect data length received";

// Host value in hexadecimal (Read for a read); answers (see script()); a failure's last error, a
// read's raw image or "" for a written value; requests; the frames sent without CRC, if checked.
struct Row {
    const char *address, *value, *answers, *outcome;
    int requests;
    const char* sent = "";
};

class Transactions : public DriverTest {
  protected:
    // The raw image of a read of `length` bytes, or the last error; a failure leaves the buffer.
    std::string read(const Tag_QARN* t, int length) {
        Bytes raw(static_cast<size_t>(length), 0xEE);
        if (!protocol->ReadBlock(t, raw.data(), length)) {
            EXPECT_EQ(raw, Bytes(static_cast<size_t>(length), 0xEE)) << "buffer changed";
            return lastError();
        }
        return toHex(raw);
    }
    bool write(const std::string& address, const std::string& value) {
        return protocol->Write(tag(address), hexBytes(value).data());
    }
    void run(const Row& r) {
        SCOPED_TRACE(std::string(r.address) + " <- " + (r.value != Read ? r.value : "read"));
        start(Nodes);
        script(r.answers, r.sent);
        const bool ok = std::strchr(r.outcome, ':') == nullptr;
        if (r.value == Read) {
            const Tag_QARN* t = tag(r.address);
            EXPECT_EQ(read(t, ok ? static_cast<int>(hexBytes(r.outcome).size()) : t->PackedLen()),
                      r.outcome);
        } else {
            EXPECT_EQ(write(r.address, r.value), ok);
        }
        EXPECT_EQ(lastError(), ok ? "NoErrorYet: " : r.outcome);  // success records no error
        EXPECT_EQ(std::make_pair(requestCount(), port.count(ScriptedSerialPort::Op::Drain)),
                  std::make_pair(r.requests, r.requests));
        EXPECT_EQ(r.sent[0] != '\0' ? sent() : "", r.sent);
    }
};

}  // namespace

TEST_F(Transactions, EveryOutcomeOfReadsAndWrites) {
    const Row rows[] = {
        // Link faults are repeated: repeat + 1 attempts, each drained first. An answer with a
        // correct CRC is final: checked in order, never repeated.
        {R, Read, "01 03 02 12 34", "34 12", 1, "01 03 00 00 00 01"},
        {R, Read, "", CommError, 3},
        {"5?HREG?400001?short", Read, "05 03 02 12 34", CommError, 0},
        {R, Read, "!01 03 02 12 34|01 03 02 12 34", "34 12", 2},
        {R, Read, "01 03|-|01 03 02 12 34", "34 12", 3},  // 4 bytes, even with a good CRC
        {"3?HREG?400001?short", Read, "03 03 02 12 34|[03 03|[03 03 02 12 34", "34 12", 3},
        {R, Read, "02 03 02 12 34", "Communication: Incorrect node address in response", 1},
        {R, Read, "02 83 02", "Communication: Incorrect node address in response", 1},
        {R, Read, "01 83 01", "Communication: Exception: Illegal function", 1},
        {"1?HREG?400001?short-10", Read, "01 83 02",
         "Communication: Exception: Illegal data address", 1, "01 03 00 00 00 0A"},
        {R, Read, "01 83 03", "Communication: Exception: Illegal data value", 1},
        {R, Read, "01 83 04", "Communication: Exception: Failure in device", 1},
        {R, Read, "01 83 00", "Communication: Unknown exception", 1},
        {R, Read, "01 83 07", "Communication: Unknown exception", 1},
        {R, Read, "01 84 02", "Communication: Incorrect operation in response", 1},
        {R, Read, "01 03 04 12 34", Length, 1},
        {R, Read, "01 03 02 12 34 56", Length, 1},
        {"1?OUTP?1?boolean-16", Read, "01 01 03 A5 5A 00", Length, 1},
        // Raw images: registers low byte first, bits from the tag's bit index; a merged bit
        // block longer than the bits read leaves the rest zero.
        {"1?HREG?400001.1?byte", Read, "01 03 02 12 34", "12", 1},
        {"1?HREG?400001.15?boolean", Read, "01 03 02 80 00", "80", 1},
        {"1?HREG?400005?short", Read, "01 03 06 00 01 00 02 00 03", "01 00 02 00 03 00", 1,
         "01 03 00 04 00 03"},
        {"1?IREG?300002?float", Read, "01 04 04 00 00 41 20", "00 00 20 41", 1,
         "01 04 00 01 00 02"},
        {"1?OUTP?12?boolean", Read, "01 01 01 FF", "08 00 00 00", 1, "01 01 00 0B 00 01"},
        {"1?INP?100003?boolean-9", Read, "01 02 02 FF 01", "FC 07", 1, "01 02 00 02 00 09"},

        {R, "34 12", "=", "", 1, "01 06 00 00 12 34"},  // one request per register
        {F16, "34 12", "=", "", 1, "02 10 00 00 00 01 02 12 34"},
        {"1?HREG?400003?int", "44 33 22 11", "=|=", "", 2, "01 06 00 02 33 44|01 06 00 03 11 22"},
        {R, "34 12", "-|!01 06 00 00 12 34|01 06 00 00 12 34", "", 3},
        // Read before write: a byte with sub-index, a bit set and cleared, 5 bytes in 3 registers;
        // coils go one request each, never read first.
        {"1?HREG?400001.1?byte", "5A", "01 03 02 AB CD|=", "", 2,
         "01 03 00 00 00 01|01 06 00 00 5A CD"},
        {"1?HREG?400001.5?boolean", "01", "01 03 02 12 00|=", "", 2,
         "01 03 00 00 00 01|01 06 00 00 12 20"},
        {"1?HREG?400001.5?boolean", "00", "01 03 02 12 FF|=", "", 2,
         "01 03 00 00 00 01|01 06 00 00 12 DF"},
        {"1?HREG?400001?string-5", "48 45 4C 4C 4F", "01 03 06 11 22 33 44 55 66|=|=|=", "", 4,
         "01 03 00 00 00 03|01 06 00 00 45 48|01 06 00 01 4C 4C|01 06 00 02 55 4F"},
        {"2?HREG?400001?string-5", "48 45 4C 4C 4F", "02 03 06 11 22 33 44 55 66|=", "", 2,
         "02 03 00 00 00 03|02 10 00 00 00 03 06 45 48 4C 4C 55 4F"},
        {"1?OUTP?7?boolean-3", "01 00 01", "=|=|=", "", 3,
         "01 05 00 06 FF 00|01 05 00 07 00 00|01 05 00 08 FF 00"},
        // The checks of a write answer; a short answer is judged by its length before its offset.
        {R, "34 12", "02 06 00 00 12 34", "Communication: Incorrect node address in response", 1},
        {R, "34 12", "01 86 02", "Communication: Exception: Illegal data address", 1},
        {R, "34 12", "01 03 00 00 12 34", "Communication: Incorrect operation in response", 1},
        {R, "34 12", "01 06 00 01 12", Length, 1},
        {R, "34 12", "01 06 00 01 12 34", "Communication: Incorrect offset in response", 1},
        {R, "34 12", "01 06 00 00 34 12", "Communication: Incorrect writing data acknowledge", 1},
        {F16, "01 00", "02 10 00 00", Length, 1},
        {F16, "01 00", "02 10 01 00 00 01", "Communication: Incorrect offset in response", 1},
        {F16, "01 00", "02 10 00 00 00 02", "Communication: Incorrect count in response", 1},
        // The slave-address frame needs its exact echo; one that differs fails the write and
        // leaves the last error as it was.
        {"3?SL?1?unsignedByte", "0A", "[03 08 01 CC 02 62 00 01 0A", "", 1,
         "03 08 01 CC 02 62 00 01 0A"},
        {"3?SL?1?unsignedByte", "0A", "[03 08 01 CC 02 62 00 01 0B", "NoErrorYet: ", 1},
        {"3?SL?1?unsignedByte", "0A", "[03 88 01", "Communication: Exception: Illegal function", 1},
        // Items before the failing one stay written; a failed read stops the write; a value that
        // cannot be converted is refused after the read, or before any traffic.
        {"1?OUTP?7?boolean-3", "01 00 01", "=|01 85 02",
         "Communication: Exception: Illegal data address", 2,
         "01 05 00 06 FF 00|01 05 00 07 00 00"},
        {"1?HREG?400001?string-5", "01 02 03 04 05", "01 83 02",
         "Communication: Exception: Illegal data address", 1},
        {"1?HREG?400001.1?byte(bcd)", "64", "01 03 02 AB CD", "Conversion: write conversion error",
         1},
        {"1?HREG?400001?unsignedShort(bcd)", "10 27", "", "Conversion: write conversion error", 0},
        {"1?IREG?300001?unsignedShort", "01 00", "", "Refused: writing to read_only type", 0},
        {"1?OUTP?15000?boolean", "01", "", "Refused: writing to read_only type", 0},
    };
    for (const Row& row : rows) {
        run(row);
    }
}

TEST_F(Transactions, OneAttemptWaitsTheDelayDrainsSendsAndReceives) {
    start("defNodeId=1 model=ISMG1xx timeout=700 delay=30");
    port.stale(2);
    script("[01 83 02");
    EXPECT_EQ(read(tag("1?HREG?400001?short-10"), 20),
              "Communication: Exception: Illegal data address");
    EXPECT_EQ(toHex(port.requests().at(0)), "0A 01 03 00 00 00 0A C5 CD 0D");
    // The delay first, then Drain until the line is clean, Send, and Receive with the node's
    // time-out and the line's character time.
    const auto& c = port.calls();
    ASSERT_EQ(c.size(), 5u);
    EXPECT_EQ(c[3].args, (std::array<int, 5>{10, 0}));
    EXPECT_EQ(c[4].args, (std::array<int, 5>{256, 700, 10, 0, 0}));
    const auto& sleeps = host.multiTask().sleeps;
    EXPECT_TRUE(sleeps.size() == 1 && sleeps[0].first == 30 && sleeps[0].second < c[0].stamp);
    // Once per transaction, whatever the repeats; a write refused before any traffic waits none.
    EXPECT_EQ(read(tag(R), 2), CommError);
    EXPECT_FALSE(write("1?HREG?400001?unsignedShort(bcd)", "10 27"));
    EXPECT_EQ(sleeps.size(), 2u);
}

TEST_F(Transactions, NodeOverridesDecideTheNodeOnTheWire) {
    start(Nodes + " delay=15");
    const Tag_QARN* no = tag("9?NO?0?unsignedByte");
    const Tag_QARN* reg = tag("9?HREG?400001?unsignedShort");
    MemoryStore& store = host.store();
    // The node areas answer without traffic or delay; writes to "NO" are stored.
    EXPECT_EQ(read(no, 1) + read(tag("3?SL?9?unsignedByte"), 1), "0903");
    ASSERT_TRUE(write("9?NO?0?unsignedByte", "0C"));
    EXPECT_STREQ(store.GetValue("QARN", "tempNode9"), "12");
    EXPECT_EQ(read(no, 1), "0C");
    ASSERT_TRUE(write("9?NO?0?unsignedByte", "FF"));
    EXPECT_EQ(read(no, 1), "FF");  // reading the override itself is not refused
    EXPECT_TRUE(requestCount() == 0 && host.multiTask().sleeps.empty());
    // 255 disables the node, after its delay; only the low 8 bits of an id go on the wire.
    EXPECT_TRUE(read(reg, 2) == "NodeUnreachable: Node disabled" &&
                host.multiTask().sleeps.size() == 1);
    protocol->DoCommand("setid 9 256", nullptr, 0);
    EXPECT_TRUE(read(reg, 2) == "NodeUnreachable: Broadcast request" && requestCount() == 0);
    protocol->DoCommand("setid 9 0x10B", nullptr, 0);
    script("0B 03 02 00 07");
    EXPECT_EQ(read(reg, 2), "07 00");
    // 0 stays 0 (unlike "setid"): writes then go out as broadcasts that await nothing.
    ASSERT_TRUE(write("9?NO?0?unsignedByte", "00"));
    EXPECT_STREQ(store.GetValue("QARN", "tempNode9"), "0");
    ASSERT_TRUE(write("9?HREG?400001?unsignedShort", "34 12")) << lastError();
    EXPECT_EQ(sent(), "0B 03 00 00 00 01|00 06 00 00 12 34");
    EXPECT_EQ(port.count(ScriptedSerialPort::Op::Receive), 1);
    // Stopped, nothing is read or written.
    ASSERT_TRUE(protocol->Stop());
    EXPECT_EQ(read(no, 1), "NotAvailable: Protocol not started");
    EXPECT_TRUE(!write("9?NO?0?unsignedByte", "01") &&
                lastError() == "NotAvailable: Protocol not started");
}

TEST_F(Transactions, Function16WritesAreSplitAt123Registers) {
    start(GenericNode + " presetFunction=16");
    const std::string text(500, '7');  // 250 bytes of 0x77: 125 registers
    script("=|=", "01 10 00 00 00 7B|01 10 00 7B 00 02");
    ASSERT_TRUE(write("1?HREG?400001?string-250", text)) << lastError();
    ASSERT_EQ(requestCount(), 2);
    EXPECT_EQ(port.requests()[0].size(), 255u);
    EXPECT_EQ(sent().substr(0, 20), "01 10 00 00 00 7B F6");
    EXPECT_EQ(sent().substr(sent().find('|')), "|01 10 00 7B 00 02 04 77 77 77 77");
    port.clearCalls();
    script("01 90 03");  // the first failure ends the write
    EXPECT_FALSE(write("1?HREG?400001?string-250", text));
    EXPECT_EQ(requestCount(), 1);
}

TEST_F(Transactions, MergingFollowsNodeFunctionSpanAndLimits) {
    configure(Nodes);
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"6?HREG?400001?unsignedShort", "6?HREG?400010.15?boolean", true},
        {"6?HREG?400011?unsignedShort", "6?HREG?400001?unsignedShort", false},
        {"7?HREG?400001?unsignedShort", "7?HREG?400011?unsignedShort", false},  // maxOptLen
        {"1?OUTP?1?boolean", "1?OUTP?15?boolean-2", true},
        {"1?NO?0?unsignedByte", "1?NO?0?unsignedByte", false},
    };
    for (const auto& [first, second, merge] : cases) {
        EXPECT_EQ(protocol->CanBeOptimized(tag(first), tag(second), false), merge)
            << first << " + " << second;
    }
    EXPECT_FALSE(protocol->CanBeOptimized(tag(R), tag(R), true));
}
