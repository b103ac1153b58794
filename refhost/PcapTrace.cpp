#include <qarn/refhost/PcapTrace.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <qarn/rtu/Frame.h>

namespace refhost {

namespace {

constexpr uint32_t PcapMagic = 0xA1B2C3D4;  // microsecond time stamps
constexpr size_t IpHeaderSize = 20;
constexpr size_t UdpHeaderSize = 8;
constexpr uint8_t UdpProtocol = 17;
// Larger frames than any Modbus RTU frame are cut there (snap length).
constexpr uint32_t SnapLength = 65535;

void le16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFFU));
    out.push_back(static_cast<uint8_t>(v >> 8U));
}

void le32(std::vector<uint8_t>& out, uint32_t v) {
    le16(out, static_cast<uint16_t>(v & 0xFFFFU));
    le16(out, static_cast<uint16_t>(v >> 16U));
}

void be16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v >> 8U);
    at[1] = static_cast<uint8_t>(v & 0xFFU);
}

}  // namespace

uint16_t PcapTrace::checksum(const uint8_t* data, size_t length, uint32_t sum) {
    for (size_t i = 0; i + 1 < length; i += 2) {
        sum += static_cast<uint32_t>(data[i] << 8U | data[i + 1]);
    }
    if (length % 2 != 0) {
        sum += static_cast<uint32_t>(data[length - 1]) << 8U;
    }
    while ((sum >> 16U) != 0) {
        sum = (sum & 0xFFFFU) + (sum >> 16U);
    }
    return static_cast<uint16_t>(~sum & 0xFFFFU);
}

std::vector<uint8_t> PcapTrace::fileHeader() {
    std::vector<uint8_t> h;
    le32(h, PcapMagic);
    le16(h, 2);  // version 2.4
    le16(h, 4);
    le32(h, 0);  // time zone: UTC
    le32(h, 0);  // accuracy
    le32(h, SnapLength);
    le32(h, LinkTypeRawIpv4);
    return h;
}

std::vector<uint8_t> PcapTrace::packet(const uint8_t* data, size_t length, bool fromMaster,
                                       uint16_t id) {
    const size_t maxPayload = SnapLength - IpHeaderSize - UdpHeaderSize;
    length = std::min(length, maxPayload);
    std::vector<uint8_t> p(IpHeaderSize + UdpHeaderSize + length);
    uint8_t* ip = p.data();
    const uint8_t* source = fromMaster ? MasterAddress : LineAddress;
    const uint8_t* target = fromMaster ? LineAddress : MasterAddress;
    ip[0] = 0x45;  // version 4, 5 words of header
    be16(ip + 2, static_cast<uint16_t>(p.size()));
    be16(ip + 4, id);
    ip[6] = 0x40;  // don't fragment
    ip[8] = 64;    // time to live
    ip[9] = UdpProtocol;
    std::memcpy(ip + 12, source, 4);
    std::memcpy(ip + 16, target, 4);
    be16(ip + 10, checksum(ip, IpHeaderSize));

    uint8_t* udp = ip + IpHeaderSize;
    const uint16_t udpLength = static_cast<uint16_t>(UdpHeaderSize + length);
    be16(udp, fromMaster ? MasterPort : LinePort);
    be16(udp + 2, fromMaster ? LinePort : MasterPort);
    be16(udp + 4, udpLength);
    if (length > 0) {
        std::memcpy(udp + UdpHeaderSize, data, length);
    }
    // The pseudo header: both addresses, the protocol and the UDP length.
    uint8_t pseudo[12] = {};
    std::memcpy(pseudo, source, 4);
    std::memcpy(pseudo + 4, target, 4);
    pseudo[9] = UdpProtocol;
    be16(pseudo + 10, udpLength);
    const uint16_t pseudoSum = static_cast<uint16_t>(~checksum(pseudo, sizeof pseudo) & 0xFFFFU);
    uint16_t sum = checksum(udp, udpLength, pseudoSum);
    be16(udp + 6, sum == 0 ? 0xFFFF : sum);  // 0 would mean "no checksum"
    return p;
}

std::unique_ptr<PcapTrace> PcapTrace::open(const std::string& path, std::string& error) {
    std::FILE* out = std::fopen(path.c_str(), "a+b");
    if (out == nullptr) {
        error = "cannot open the capture file '" + path + "': " + std::strerror(errno);
        return nullptr;
    }
    std::fseek(out, 0, SEEK_END);
    const long size = std::ftell(out);
    bool header = size == 0;
    if (size != 0) {
        // Only a capture this class wrote can take more records.
        std::vector<uint8_t> have(FileHeaderSize);
        std::fseek(out, 0, SEEK_SET);
        const bool same = std::fread(have.data(), 1, have.size(), out) == have.size() &&
                          have == fileHeader();
        if (!same) {
            std::fclose(out);
            error = "'" + path +
                    "' is not a capture of qarn's kind (pcap, raw IPv4): give a new file, it "
                    "is left as it is";
            return nullptr;
        }
        std::fseek(out, 0, SEEK_END);
    }
    auto trace = std::make_unique<PcapTrace>(out, header);
    trace->owned_ = true;
    return trace;
}

PcapTrace::PcapTrace(std::FILE* out, bool header) : out_(out) {
    if (header) {
        write(fileHeader());
    }
}

PcapTrace::~PcapTrace() {
    if (owned_ && std::fclose(out_) != 0) {
        failed_ = true;
    }
}

void PcapTrace::write(const std::vector<uint8_t>& bytes) {
    // Flushed record by record: a capture cut short by a crash or Ctrl-C stays readable.
    if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size() ||
        std::fflush(out_) != 0) {
        failed_ = true;
    }
}

void PcapTrace::frame(const TracedFrame& frame) {
    if (std::strcmp(frame.direction, "ECHO") == 0 || frame.data == nullptr || frame.length == 0) {
        return;
    }
    const rtu::FrameView view = rtu::unwrap(frame.data, frame.length);
    const std::vector<uint8_t> p = packet(view.data, view.length, frame.fromMaster, id_++);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        frame.firstByte.time_since_epoch())
                        .count();
    std::vector<uint8_t> record;
    record.reserve(RecordHeaderSize + p.size());
    le32(record, static_cast<uint32_t>(us / 1000000));
    le32(record, static_cast<uint32_t>(us % 1000000));
    le32(record, static_cast<uint32_t>(p.size()));
    le32(record, static_cast<uint32_t>(p.size()));
    record.insert(record.end(), p.begin(), p.end());
    write(record);
}

}  // namespace refhost
