#include "RecordingSerialPort.h"

namespace qarntest {

RecordingSerialPort::RecordingSerialPort() : HostService("ISerialPort", "TestSerialPort", 1) {}

int RecordingSerialPort::Setup(int baud, int parity, int dataBits, int stopBits, int mode) {
    Call call = newCall(Op::Setup);
    call.setup[0] = baud;
    call.setup[1] = parity;
    call.setup[2] = dataBits;
    call.setup[3] = stopBits;
    call.setup[4] = mode;
    call.result = setupFails_ ? 0 : 1;
    calls_.push_back(call);
    return call.result;
}

int RecordingSerialPort::Drain(uint8_t* buffer, int size, int flags) {
    Call call = newCall(Op::Drain);
    call.size = size;
    call.flags = flags;
    call.result = onDrain(buffer, size);
    calls_.push_back(call);
    return call.result;
}

int RecordingSerialPort::Send(const uint8_t* frame, int length, int flags) {
    Call call = newCall(Op::Send);
    if (frame != nullptr && length > 0) {
        call.bytes.assign(frame, frame + length);
    }
    call.size = length;
    call.flags = flags;
    call.result = length;
    calls_.push_back(call);
    return call.result;
}

int RecordingSerialPort::Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs,
                                 int* received, int flags) {
    Call call = newCall(Op::Receive);
    call.size = size;
    call.timeoutMs = timeoutMs;
    call.interCharMs = interCharMs;
    call.receivedPreset = received != nullptr ? *received : -1;
    call.flags = flags;
    int ignored = 0;
    call.result = onReceive(buffer, size, received != nullptr ? received : &ignored);
    calls_.push_back(call);
    return call.result;
}

std::vector<std::vector<uint8_t>> RecordingSerialPort::sentFrames() const {
    std::vector<std::vector<uint8_t>> frames;
    for (const Call& call : calls_) {
        if (call.op == Op::Send) {
            frames.push_back(call.bytes);
        }
    }
    return frames;
}

int RecordingSerialPort::count(Op op) const {
    int n = 0;
    for (const Call& call : calls_) {
        n += call.op == op ? 1 : 0;
    }
    return n;
}

int RecordingSerialPort::onDrain(uint8_t*, int) {
    return 0;
}

int RecordingSerialPort::onReceive(uint8_t*, int, int*) {
    return 0;
}

RecordingSerialPort::Call RecordingSerialPort::newCall(Op op) {
    Call call{};
    call.op = op;
    call.stamp = nextCallStamp();
    call.receivedPreset = -1;
    return call;
}

}  // namespace qarntest
