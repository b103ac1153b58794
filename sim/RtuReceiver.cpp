#include <qarn/sim/RtuReceiver.h>

#include <qarn/rtu/Frame.h>

namespace sim {

void RtuReceiver::feed(const uint8_t* data, size_t length, uint64_t nowUs) {
    poll(nowUs);
    for (size_t i = 0; i < length; ++i) {
        if (pending_.bytes.empty()) {
            pending_.firstByteUs = nowUs;
        }
        pending_.bytes.push_back(data[i]);
        pending_.lastByteUs = nowUs;
        if (rtu::isCompleteRequest(pending_.bytes.data(), pending_.bytes.size()) ||
            pending_.bytes.size() >= rtu::MaxWrappedFrameLength) {
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
