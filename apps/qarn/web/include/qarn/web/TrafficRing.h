#pragma once
// The traffic view's frames: the ports report every frame here (from the polling thread) and the
// server reads them (from its own threads). The last Capacity entries are kept, each with a
// sequence number so that a client asks only for what is new.

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include <qarn/refhost/FrameSink.h>

namespace qarn::web {

struct TrafficEntry {
    uint64_t seq = 0;  // from 1, never reused
    int64_t timeMs = 0;
    std::string direction;  // TX, RX, ECHO, DROP, or NOTE for a line of its own
    std::string hex;        // the bytes; empty for a note
    std::string text;       // decoded as the trace decodes it, or the note
};

class TrafficRing final : public refhost::FrameSink {
  public:
    static constexpr size_t Capacity = 200;

    void frame(const refhost::TracedFrame& frame) override;
    void note(const std::string& text) override;

    // The entries after `seq`, oldest first (those still kept).
    std::vector<TrafficEntry> since(uint64_t seq) const;
    uint64_t lastSeq() const;

  private:
    void add(TrafficEntry entry);

    mutable std::mutex mutex_;
    std::deque<TrafficEntry> entries_;
    uint64_t seq_ = 0;
};

}  // namespace qarn::web
