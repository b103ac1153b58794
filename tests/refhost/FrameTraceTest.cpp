#include "FrameTrace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <vector>

#include "TestBytes.h"
#include "TraceSerialPort.h"

using testbytes::Bytes;
using testbytes::hex;
using testbytes::withCrc;
using testbytes::wrapped;

TEST(FrameTrace, DescribesRequestsAndAnswers) {
    Bytes badCrc = withCrc("01 03 02 12 34");
    badCrc[3] = 0x13;  // payload changed, CRC kept: the CRC must be reported bad
    const Bytes goodCrc = withCrc(Bytes(badCrc.begin(), badCrc.end() - 2));
    const std::string badCrcSummary =
        "node 1, fn 3 read holding registers, 2 bytes, CRC bad (expected " +
        refhost::FrameTrace::hex(goodCrc.data() + 5, 2) + ")";
    const struct {
        Bytes frame;
        bool fromMaster;
        std::string summary;
    } cases[] = {
        {withCrc("01 03 00 00 00 0A"), true,
         "node 1, fn 3 read holding registers, addr 0, count 10, CRC ok"},
        {withCrc("11 04 00 6B 00 03"), true,
         "node 17, fn 4 read input registers, addr 107, count 3, CRC ok"},
        {withCrc("01 03 02 12 34"), false, "node 1, fn 3 read holding registers, 2 bytes, CRC ok"},
        {withCrc("01 01 00 0B 00 01"), true, "node 1, fn 1 read coils, addr 11, count 1, CRC ok"},
        {withCrc("01 05 00 0B FF 00"), true, "node 1, fn 5 write single coil, addr 11, ON, CRC ok"},
        {withCrc("01 05 00 0B 00 00"), false,
         "node 1, fn 5 write single coil, addr 11, OFF, CRC ok"},
        {withCrc("01 06 00 02 12 34"), true,
         "node 1, fn 6 write single register, addr 2, value 4660, CRC ok"},
        {withCrc("01 10 00 05 00 02 04 00 01 00 02"), true,
         "node 1, fn 16 write multiple registers, addr 5, count 2, 4 bytes, CRC ok"},
        {withCrc("01 10 00 05 00 02"), false,
         "node 1, fn 16 write multiple registers, addr 5, count 2, CRC ok"},
        {withCrc("01 83 02"), false,
         "node 1, fn 3 read holding registers, exception 2 (illegal data address), CRC ok"},
        {withCrc("01 83 07"), false,
         "node 1, fn 3 read holding registers, exception 7 (unknown), CRC ok"},
        {wrapped(withCrc("03 08 01 CC 02 62 00 01 0A")), true,
         "ISMG wrapper, node 3, fn 8 set slave address, new slave address 10, CRC ok"},
        {wrapped(withCrc("01 03 02 00 07")), false,
         "ISMG wrapper, node 1, fn 3 read holding registers, 2 bytes, CRC ok"},
        {badCrc, false, badCrcSummary},
        {hex("01 03"), false, "too short for a frame"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(refhost::FrameTrace::describe(c.frame.data(), c.frame.size(), c.fromMaster),
                  c.summary)
            << refhost::FrameTrace::hex(c.frame.data(), c.frame.size());
    }
}

namespace {

// A port that plays back one answer and remembers what it was sent.
class ScriptedPort final : public ISerialPort {
  public:
    void* ConvertTo(const char*) override { return nullptr; }
    const char* GetImpName() const override { return "scripted"; }
    int GetImpVersion() const override { return 1; }
    int Setup(int, int, int, int, int) override { return 1; }
    int Drain(uint8_t* buffer, int size, int) override {
        const int n = static_cast<int>(pending.size());
        for (int i = 0; i < n && i < size; ++i) {
            buffer[i] = pending[static_cast<size_t>(i)];
        }
        pending.clear();
        return n;
    }
    int Send(const uint8_t* frame, int length, int) override {
        sent.assign(frame, frame + length);
        return length;
    }
    int Receive(uint8_t* buffer, int, int, int, int* received, int) override {
        const int n = static_cast<int>(answer.size());
        for (int i = 0; i < n; ++i) {
            buffer[i] = answer[static_cast<size_t>(i)];
        }
        *received = n;
        return n;
    }
    Bytes pending;
    Bytes sent;
    Bytes answer;
};

std::vector<std::string> lines(std::FILE* f) {
    std::rewind(f);
    std::vector<std::string> out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, f) != nullptr) {
        out.emplace_back(buf);
    }
    return out;
}

}  // namespace

TEST(TraceSerialPort, PassesTrafficThroughAndWritesOneStampedLinePerFrame) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    refhost::FrameTrace trace(out);
    ScriptedPort inner;
    refhost::TraceSerialPort port(inner, trace, "/dev/ttyX");

    inner.pending = hex("AA BB");
    uint8_t none[1] = {0x55};
    EXPECT_EQ(port.Drain(none, 0, 0), 2);  // the caller's empty room stays untouched
    EXPECT_EQ(none[0], 0x55);
    EXPECT_EQ(port.Drain(none, 0, 0), 0);

    const Bytes request = withCrc("01 03 00 00 00 01");
    EXPECT_EQ(port.Send(request.data(), static_cast<int>(request.size()), 0), 8);
    EXPECT_EQ(inner.sent, request);

    inner.answer = withCrc("01 03 02 00 2A");
    uint8_t buffer[256];
    int received = 0;
    EXPECT_EQ(port.Receive(buffer, 256, 100, 10, &received, 0), 7);
    EXPECT_EQ(received, 7);
    EXPECT_EQ(Bytes(buffer, buffer + 7), inner.answer);

    inner.answer.clear();
    EXPECT_EQ(port.Receive(buffer, 256, 100, 10, &received, 0), 0);

    const std::vector<std::string> text = lines(out);
    std::fclose(out);
    ASSERT_EQ(text.size(), 4U);
    const std::regex stamp(R"(^\d\d:\d\d:\d\d\.\d{6} )");
    for (const std::string& l : text) {
        EXPECT_TRUE(std::regex_search(l, stamp)) << l;
    }
    EXPECT_NE(text[0].find("DROP AA BB  | "), std::string::npos) << text[0];
    EXPECT_NE(text[1].find("TX   01 03 00 00 00 01 84 0A  | node 1, fn 3"), std::string::npos)
        << text[1];
    EXPECT_NE(text[2].find("RX   01 03 02 00 2A "), std::string::npos) << text[2];
    EXPECT_NE(text[2].find("2 bytes, CRC ok"), std::string::npos) << text[2];
    EXPECT_NE(text[3].find("nothing within 100 ms"), std::string::npos) << text[3];
}
