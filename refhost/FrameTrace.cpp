#include <qarn/refhost/FrameTrace.h>

#include <ctime>

#include <qarn/rtu/Crc.h>
#include <qarn/rtu/Frame.h>
#include <qarn/rtu/FunctionCodes.h>

namespace refhost {

namespace {

std::string num(unsigned value) {
    return std::to_string(value);
}

std::string addrCount(const uint8_t* f) {
    return "addr " + num(rtu::be16(f + 2)) + ", count " + num(rtu::be16(f + 4));
}

// The function-specific part of a bare frame of at least 4 bytes (CRC included).
std::string body(const uint8_t* f, size_t n, bool fromMaster) {
    const uint8_t fn = f[1];
    const size_t payload = n - 2;  // without the CRC
    if ((fn & rtu::ExceptionFlag) != 0 && !fromMaster) {
        const uint8_t code = f[2];
        const char* name = rtu::exceptionName(code);
        return "exception " + num(code) + " (" + (name != nullptr ? name : "unknown") + ")";
    }
    switch (fn) {
        case rtu::ReadCoils:
        case rtu::ReadDiscreteInputs:
        case rtu::ReadHoldingRegisters:
        case rtu::ReadInputRegisters:
            if (fromMaster) {
                return payload >= 6 ? addrCount(f) : "truncated";
            }
            return num(f[2]) + " bytes";
        case rtu::WriteSingleCoil:
            if (payload < 6) {
                return "truncated";
            }
            return "addr " + num(rtu::be16(f + 2)) + ", " +
                   (rtu::be16(f + 4) == 0xFF00 ? "ON"
                    : rtu::be16(f + 4) == 0    ? "OFF"
                                               : "invalid value");
        case rtu::WriteSingleRegister:
            return payload >= 6
                       ? "addr " + num(rtu::be16(f + 2)) + ", value " + num(rtu::be16(f + 4))
                       : "truncated";
        case rtu::Diagnostics:
            return payload >= 9 ? "new slave address " + num(f[8]) : "truncated";
        case rtu::WriteMultipleRegisters:
            if (payload < 6) {
                return "truncated";
            }
            if (fromMaster) {
                return addrCount(f) + (payload >= 7 ? ", " + num(f[6]) + " bytes" : "");
            }
            return addrCount(f);
        default:
            return "";
    }
}

}  // namespace

std::string FrameTrace::hex(const uint8_t* data, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i != 0) {
            text += ' ';
        }
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

std::string FrameTrace::describe(const uint8_t* data, size_t length, bool fromMaster) {
    const rtu::FrameView view = rtu::unwrap(data, length);
    std::string text = view.wrapped ? "ISMG wrapper, " : "";
    if (view.length < rtu::MinFrameLength) {
        return text + "too short for a frame";
    }
    const uint8_t* f = view.data;
    const uint8_t fn = f[1] & static_cast<uint8_t>(~rtu::ExceptionFlag);
    const char* name = rtu::functionName(fn);
    text += "node " + num(f[0]) + ", fn " + num(fn);
    if (name != nullptr) {
        text += std::string(" ") + name;
    }
    const std::string detail = body(f, view.length, fromMaster);
    if (!detail.empty()) {
        text += ", " + detail;
    }
    if (rtu::crcOk(f, view.length)) {
        text += ", CRC ok";
    } else {
        const uint16_t crc = rtu::crc16(f, view.length - 2);
        const uint8_t want[2] = {static_cast<uint8_t>(crc & 0xFFU),
                                 static_cast<uint8_t>(crc >> 8U)};
        text += ", CRC bad (expected " + FrameTrace::hex(want, 2) + ")";
    }
    return text;
}

void FrameTrace::line(std::chrono::system_clock::time_point at, const std::string& text) {
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count();
    const time_t seconds = static_cast<time_t>(us / 1000000);
    tm local{};
    localtime_r(&seconds, &local);
    std::fprintf(out_, "%02d:%02d:%02d.%06ld %s\n", local.tm_hour, local.tm_min, local.tm_sec,
                 static_cast<long>(us % 1000000), text.c_str());
    std::fflush(out_);
}

void FrameTrace::frame(const TracedFrame& f) {
    std::string text = f.direction;
    text.resize(5, ' ');
    line(f.firstByte,
         text + hex(f.data, f.length) + "  | " + describe(f.data, f.length, f.fromMaster));
}

void FrameTrace::frame(const char* direction, const uint8_t* data, size_t length, bool fromMaster) {
    frame(TracedFrame{direction, data, length, fromMaster, std::chrono::system_clock::now()});
}

void FrameTrace::note(const std::string& text) {
    line(std::chrono::system_clock::now(), text);
}

}  // namespace refhost
