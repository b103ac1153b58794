#include <qarn/refhost/FrameFanout.h>

#include <algorithm>

namespace refhost {

void FrameFanout::add(FrameSink* sink) {
    if (sink != nullptr && sink != this &&
        std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) {
        sinks_.push_back(sink);
    }
}

void FrameFanout::remove(FrameSink* sink) {
    sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

void FrameFanout::frame(const TracedFrame& frame) {
    for (FrameSink* sink : sinks_) {
        sink->frame(frame);
    }
}

void FrameFanout::note(const std::string& text) {
    for (FrameSink* sink : sinks_) {
        sink->note(text);
    }
}

}  // namespace refhost
