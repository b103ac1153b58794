#include <qarn/sim/RtuReceiver.h>

#include <qarn/rtu/RtuFrame.h>
#include <qarn/sim/SlaveFrames.h>

namespace sim {

bool RtuReceiver::isCompleteRequest(const uint8_t* bytes, size_t length) {
    const rtu::FrameView view = rtu::unwrap(bytes, length);
    if (view.length < MinFrameLength) {
        return false;
    }
    // A function we do not know is complete whenever its CRC fits; the device answers it
    // with exception 1.
    const size_t need = requestLength(view.data, view.length);
    return (need == 0 || need == view.length) && rtu::crcOk(view.data, view.length);
}

void RtuReceiver::feed(const uint8_t* data, size_t length, uint64_t nowUs) {
    poll(nowUs);
    for (size_t i = 0; i < length; ++i) {
        if (pending_.bytes.empty()) {
            pending_.firstByteUs = nowUs;
        }
        pending_.bytes.push_back(data[i]);
        pending_.lastByteUs = nowUs;
        if (isCompleteRequest(pending_.bytes.data(), pending_.bytes.size()) ||
            pending_.bytes.size() >= MaxFrameLength) {
            finish();
        }
    }
}

void RtuReceiver::poll(uint64_t nowUs) {
    if (!pending_.bytes.empty() && nowUs - pending_.lastByteUs >= silenceUs_) {
        finish();
    }
}

std::optional<uint64_t> RtuReceiver::deadline() const {
    if (pending_.bytes.empty()) {
        return std::nullopt;
    }
    return pending_.lastByteUs + silenceUs_;
}

ReceivedFrame RtuReceiver::takeFrame() {
    ReceivedFrame f = std::move(frames_.front());
    frames_.pop_front();
    return f;
}

void RtuReceiver::finish() {
    frames_.push_back(std::move(pending_));
    pending_ = ReceivedFrame{};
}

}  // namespace sim
