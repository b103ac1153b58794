#pragma once
// Hands every frame and note on to several sinks, in the order they were added: a text trace, a
// capture file and a live traffic view at once.

#include <vector>

#include <qarn/refhost/FrameSink.h>

namespace refhost {

class FrameFanout final : public FrameSink {
  public:
    // `sink` is not owned and must outlive the fan-out's use; null is ignored.
    void add(FrameSink* sink);
    void remove(FrameSink* sink);
    bool empty() const { return sinks_.empty(); }
    size_t size() const { return sinks_.size(); }

    void frame(const TracedFrame& frame) override;
    void note(const std::string& text) override;

  private:
    std::vector<FrameSink*> sinks_;
};

}  // namespace refhost
