#pragma once
// The line's frames as a capture file that Wireshark and tshark read: one record per frame, both
// ways, stamped with the time its first byte was seen.
//
// Each frame travels in an IPv4/UDP packet (link type raw IPv4): requests from the master
// 127.0.0.1:50200 to the line 127.0.0.2:502, answers and stray bytes back. The Modbus RTU
// dissector tells queries from answers by that direction alone, so every function decodes with
// its addresses and values:
//     tshark -r FILE -o mbrtu.udp.port:502
// (Wireshark: Preferences > Protocols > Modbus/RTU > UDP port 502.) ISMG frames go in without
// their wrapper bytes, which the dissector does not know; the echo of a request is no frame of
// its own and is left out.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <qarn/refhost/FrameSink.h>

namespace refhost {

class PcapTrace final : public FrameSink {
  public:
    static constexpr uint32_t LinkTypeRawIpv4 = 101;
    static constexpr uint16_t MasterPort = 50200;
    static constexpr uint16_t LinePort = 502;
    static constexpr uint8_t MasterAddress[4] = {127, 0, 0, 1};
    static constexpr uint8_t LineAddress[4] = {127, 0, 0, 2};
    static constexpr size_t FileHeaderSize = 24;
    static constexpr size_t RecordHeaderSize = 16;

    // Opens `path` to add records: a new or empty file gets the file header first, a capture of
    // this kind grows. Null with `error` when the file can't be opened or is another kind of file.
    static std::unique_ptr<PcapTrace> open(const std::string& path, std::string& error);
    // Writes to `out` (not owned), the file header first when `header`.
    PcapTrace(std::FILE* out, bool header);
    ~PcapTrace() override;
    PcapTrace(const PcapTrace&) = delete;
    PcapTrace& operator=(const PcapTrace&) = delete;

    void frame(const TracedFrame& frame) override;
    // A capture has no room for text.
    void note(const std::string&) override {}
    // A write failed (disk full, ...): the capture is incomplete.
    bool failed() const { return failed_; }

    // The file header: microsecond time stamps, little-endian, snap length 65535, raw IPv4.
    static std::vector<uint8_t> fileHeader();
    // The IPv4/UDP packet carrying `length` bytes, with both checksums; `id` is the IP
    // identification.
    static std::vector<uint8_t> packet(const uint8_t* data, size_t length, bool fromMaster,
                                       uint16_t id);
    // The Internet checksum (RFC 1071) of `length` bytes, added to `sum` carried in.
    static uint16_t checksum(const uint8_t* data, size_t length, uint32_t sum = 0);

  private:
    void write(const std::vector<uint8_t>& bytes);

    std::FILE* out_;
    bool owned_ = false;
    bool failed_ = false;
    uint16_t id_ = 0;
};

}  // namespace refhost
