// The capture file byte by byte (file header, records, IPv4 and UDP with their checksums), adding
// to an existing capture, and the fan-out that hands frames to several sinks.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <qarn/refhost/FrameFanout.h>
#include <qarn/refhost/PcapTrace.h>
#include "TempDir.h"
#include "TestBytes.h"

namespace {

using refhost::PcapTrace;
using refhost::TracedFrame;

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8U | p[1]);
}

uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8U | p[2] << 16U | static_cast<uint32_t>(p[3]) << 24U);
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TracedFrame traced(const char* direction, const Bytes& f, bool fromMaster, int64_t us) {
    return TracedFrame{direction, f.data(), f.size(), fromMaster,
                       std::chrono::system_clock::time_point(std::chrono::microseconds(us))};
}

TEST(PcapTrace, ChecksumIsTheInternetChecksum) {
    // RFC 1071's example: the sum 0xDDF2, its complement 0x220D; an odd byte counts as high.
    const Bytes even = hexBytes("00 01 F2 03 F4 F5 F6 F7");
    EXPECT_EQ(PcapTrace::checksum(even.data(), even.size()), 0x220D);
    const Bytes odd = hexBytes("00 01 F2");
    EXPECT_EQ(PcapTrace::checksum(odd.data(), odd.size()), static_cast<uint16_t>(~0xF201U));
    // Carries fold back in.
    const Bytes carry = hexBytes("FF FF 00 02");
    EXPECT_EQ(PcapTrace::checksum(carry.data(), carry.size()), static_cast<uint16_t>(~0x0002U));
}

TEST(PcapTrace, FileHeaderIsMicrosecondPcapOfRawIpv4) {
    EXPECT_EQ(toHex(PcapTrace::fileHeader()),
              "D4 C3 B2 A1 02 00 04 00 00 00 00 00 00 00 00 00 FF FF 00 00 65 00 00 00");
}

TEST(PcapTrace, PacketsGoFromTheMasterPortTo502AndBack) {
    const Bytes request = frame("01 03 00 00 00 01");
    const Bytes answer = frame("01 03 02 00 2A");
    const struct {
        Bytes data;
        bool fromMaster;
        const char* source;
        const char* target;
        uint16_t sourcePort, targetPort;
    } cases[] = {
        {request, true, "7F 00 00 01", "7F 00 00 02", 50200, 502},
        {answer, false, "7F 00 00 02", "7F 00 00 01", 502, 50200},
        {hexBytes("FF"), false, "7F 00 00 02", "7F 00 00 01", 502, 50200},  // odd length
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toHex(c.data));
        const Bytes p = PcapTrace::packet(c.data.data(), c.data.size(), c.fromMaster, 0x1234);
        ASSERT_EQ(p.size(), 28 + c.data.size());
        const uint8_t* ip = p.data();
        EXPECT_EQ(toHex(Bytes(ip, ip + 2)), "45 00");
        EXPECT_EQ(be16(ip + 2), p.size());
        EXPECT_EQ(be16(ip + 4), 0x1234);
        EXPECT_EQ(ip[8], 64);
        EXPECT_EQ(ip[9], 17);
        EXPECT_EQ(toHex(Bytes(ip + 12, ip + 16)), c.source);
        EXPECT_EQ(toHex(Bytes(ip + 16, ip + 20)), c.target);
        // A header with a good checksum sums to zero.
        EXPECT_EQ(PcapTrace::checksum(ip, 20), 0);

        const uint8_t* udp = ip + 20;
        EXPECT_EQ(be16(udp), c.sourcePort);
        EXPECT_EQ(be16(udp + 2), c.targetPort);
        EXPECT_EQ(be16(udp + 4), 8 + c.data.size());
        EXPECT_NE(be16(udp + 6), 0) << "0 would mean no checksum";
        Bytes pseudo(ip + 12, ip + 20);
        pseudo.insert(pseudo.end(), {0, 17, udp[4], udp[5]});
        pseudo.insert(pseudo.end(), udp, p.data() + p.size());
        if (pseudo.size() % 2 != 0) {
            pseudo.push_back(0);
        }
        EXPECT_EQ(PcapTrace::checksum(pseudo.data(), pseudo.size()), 0);
        EXPECT_EQ(Bytes(udp + 8, p.data() + p.size()), c.data);
    }
}

TEST(PcapTrace, OneRecordPerFrameStampedWithItsFirstByte) {
    TempDir dir;
    const std::string path = dir.file("cap.pcap");
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    const Bytes request = frame("01 06 00 01 00 07");
    const Bytes wrapped = frame("[01 03 02 00 2A]");
    {
        PcapTrace trace(out, true);
        trace.frame(traced("TX", request, true, 1700000000123456));
        trace.frame(traced("ECHO", request, true, 1700000000130000));  // not a frame of its own
        trace.note("GUARD waited 200 ms");                             // no room for text
        trace.frame(traced("RX", wrapped, false, 1700000000250001));
        EXPECT_FALSE(trace.failed());
    }
    std::fclose(out);
    const Bytes file = bytesOf(TempDir::read(path));
    ASSERT_EQ(file.size(), 24 + 2 * 16 + 2 * 28 + request.size() + wrapped.size() - 2);
    const uint8_t* record = file.data() + 24;
    EXPECT_EQ(le32(record), 1700000000U);
    EXPECT_EQ(le32(record + 4), 123456U);
    EXPECT_EQ(le32(record + 8), 28 + request.size());
    EXPECT_EQ(le32(record + 12), 28 + request.size());
    EXPECT_EQ(Bytes(record + 16 + 28, record + 16 + 28 + request.size()), request);

    record += 16 + 28 + request.size();
    EXPECT_EQ(le32(record + 4), 250001U);
    EXPECT_EQ(be16(record + 16 + 20), 502) << "an answer comes from the line";
    // The wrapper's bytes are left out: the dissector reads the bare frame.
    EXPECT_EQ(Bytes(record + 16 + 28, file.data() + file.size()),
              Bytes(wrapped.begin() + 1, wrapped.end() - 1));
    EXPECT_EQ(be16(record + 16 + 4), 1) << "the identification counts the packets";
}

TEST(PcapTrace, AddsToItsOwnCapturesAndRefusesOtherFiles) {
    TempDir dir;
    const std::string path = dir.file("cap.pcap");
    const Bytes request = frame("01 03 00 00 00 01");
    for (int run = 0; run < 2; ++run) {
        std::string error;
        auto trace = PcapTrace::open(path, error);
        ASSERT_NE(trace, nullptr) << error;
        trace->frame(traced("TX", request, true, 1));
    }
    const std::string twice = TempDir::read(path);
    EXPECT_EQ(twice.size(), 24 + 2 * (16 + 28 + request.size())) << "one file header";

    const std::string text = dir.file("notes.txt");
    TempDir::write(text, "my notes, not a capture\n");
    std::string error;
    EXPECT_EQ(PcapTrace::open(text, error), nullptr);
    EXPECT_NE(error.find("not a capture"), std::string::npos) << error;
    EXPECT_EQ(TempDir::read(text), "my notes, not a capture\n") << "left as it was";
    EXPECT_EQ(PcapTrace::open(dir.file("no/such/folder.pcap"), error), nullptr);
    EXPECT_NE(error.find("cannot open the capture file"), std::string::npos) << error;
}

// Writes down what it is given.
class Recorder final : public refhost::FrameSink {
  public:
    Recorder(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
    void frame(const TracedFrame& f) override {
        log_.push_back(name_ + " " + f.direction + " " + toHex(Bytes(f.data, f.data + f.length)));
    }
    void note(const std::string& text) override { log_.push_back(name_ + " " + text); }

  private:
    std::string name_;
    std::vector<std::string>& log_;
};

TEST(FrameFanout, HandsEveryFrameAndNoteToEachSinkInOrder) {
    std::vector<std::string> log;
    Recorder a("a", log);
    Recorder b("b", log);
    refhost::FrameFanout fanout;
    fanout.add(&a);
    fanout.add(&b);
    fanout.add(&a);       // once only
    fanout.add(nullptr);  // ignored
    fanout.add(&fanout);  // never itself
    EXPECT_EQ(fanout.size(), 2u);
    const Bytes f = hexBytes("01 02");
    fanout.frame(traced("RX", f, false, 0));
    fanout.note("SETUP");
    fanout.remove(&a);
    fanout.note("later");
    EXPECT_EQ(log, (std::vector<std::string>{"a RX 01 02", "b RX 01 02", "a SETUP", "b SETUP",
                                             "b later"}));
}

}  // namespace
