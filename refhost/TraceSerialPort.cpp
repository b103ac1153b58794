#include "TraceSerialPort.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <qarn/rtu/LineSettings.h>
#include <qarn/refhost/FrameTrace.h>
#include "MonoClock.h"

namespace refhost {

void TraceSerialPort::report(const char* direction, const uint8_t* data, size_t length,
                             bool fromMaster, int64_t firstByteUs) {
    // The monotonic clock places the byte; the wall clock, read once now, dates it.
    const auto now = std::chrono::system_clock::now();
    const int64_t ago = firstByteUs > 0 ? std::max<int64_t>(monoNowUs() - firstByteUs, 0) : 0;
    trace_.frame(
        TracedFrame{direction, data, length, fromMaster, now - std::chrono::microseconds(ago)});
}

void* TraceSerialPort::ConvertTo(const char* name) {
    return name != nullptr && std::strcmp(name, "ISerialPort") == 0 ? this : nullptr;
}

const char* TraceSerialPort::GetImpName() const {
    return inner_.GetImpName();
}

int TraceSerialPort::GetImpVersion() const {
    return inner_.GetImpVersion();
}

int TraceSerialPort::Setup(int baud, int parity, int dataBits, int stopBits, int mode) {
    static const char* const modes[] = {"RS-232", "RS-485", "RS-422"};
    const int ok = inner_.Setup(baud, parity, dataBits, stopBits, mode);
    trace_.note("SETUP " + name_ + " " + std::to_string(baud) + " baud, parity " +
                rtu::parityName(parity) + ", " + std::to_string(dataBits) + " data bits, " +
                std::to_string(stopBits) + " stop bits, " +
                (mode >= 0 && mode < 3 ? modes[mode] : "?") + (ok != 0 ? "" : ": refused"));
    return ok;
}

int TraceSerialPort::Drain(uint8_t* buffer, int size, int flags) {
    // The caller usually passes no room at all; drain into our own buffer to see the bytes.
    uint8_t seen[256];
    const int n = inner_.Drain(seen, static_cast<int>(sizeof seen), flags);
    if (n > 0) {
        report("DROP", seen, static_cast<size_t>(std::min<int>(n, sizeof seen)), false, 0);
        if (buffer != nullptr && size > 0) {
            std::memcpy(buffer, seen, static_cast<size_t>(std::min({n, size, int{sizeof seen}})));
        }
    }
    return n;
}

int TraceSerialPort::Send(const uint8_t* frame, int length, int flags) {
    const int sent = inner_.Send(frame, length, flags);
    if (frame != nullptr && length > 0) {
        sent_.assign(frame, frame + length);
        if (sent != 0) {
            report("TX", frame, static_cast<size_t>(length), true, inner_.lastSendStartUs());
        } else {
            // Not a frame on the line: a capture must not show it.
            const LineReport& r = inner_.report();
            trace_.note("TX   " + FrameTrace::hex(frame, static_cast<size_t>(length)) +
                        "  not sent (" +
                        (inner_.gone() ? inner_.lastError()
                         : r.cancelled ? std::string("stopped")
                                       : inner_.lastError()) +
                        ")");
        }
    }
    return sent;
}

int TraceSerialPort::Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs,
                             int* received, int flags) {
    int count = 0;
    const int ok = inner_.Receive(buffer, size, timeoutMs, interCharMs, &count, flags);
    if (received != nullptr) {
        *received = count;
    }
    const SerialPort::Reception& r = inner_.lastReception();
    if (r.echoStripped > 0 && r.echoStripped <= sent_.size()) {
        report("ECHO", sent_.data(), r.echoStripped, true, r.echoFirstUs);
    }
    const std::string within = " within " + std::to_string(timeoutMs) + " ms";
    switch (r.outcome) {
        case SerialPort::Outcome::Silent:
            trace_.note("RX   nothing" + within);
            break;
        case SerialPort::Outcome::EchoOnly:
            trace_.note("RX   echo only, no answer" + within);
            break;
        case SerialPort::Outcome::EchoUnknown:
            trace_.note(
                "RX   the request came back: echo or answer can't be told while the echo is not "
                "yet known (read once first, or give --echo on|off)");
            break;
        case SerialPort::Outcome::Cancelled:
            trace_.note("RX   stopped");
            break;
        case SerialPort::Outcome::Gone:
            trace_.note("RX   port gone (" + inner_.lastError() + ")");
            break;
        default:
            if (ok != 0 && count > 0) {
                report("RX", buffer, static_cast<size_t>(count), false, r.answerFirstUs);
            } else {
                trace_.note("RX   nothing" + within);
            }
            break;
    }
    if (r.echoDecided) {
        trace_.note(inner_.echo() == EchoMode::On
                        ? "ECHO the line echoes every request: stripped from now on"
                        : "ECHO the line does not echo: answers come as they are");
    }
    return ok;
}

}  // namespace refhost
