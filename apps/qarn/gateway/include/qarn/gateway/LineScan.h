#pragma once
// One line's tags on its session: each created through the plug-in after the node guard let it
// through, and one planned scan over them. What --check and --plan build, and what a line's
// worker polls with.

#include <functional>
#include <memory>
#include <vector>

#include <qarn/gateway/GatewayConfig.h>
#include <qarn/scan/PollOutput.h>
#include <qarn/scan/Scan.h>
#include <qarn/toolkit/TagValue.h>

namespace qarn {

class Session;

class LineScan {
  public:
    // Configures `session`. Throws ConfigError naming the origin and name of every tag the node
    // guard or the plug-in refuses. `stopRequested` ends a cycle early.
    LineScan(Session& session, const GatewayLine& line, std::function<bool()> stopRequested);
    ~LineScan();
    LineScan(const LineScan&) = delete;
    LineScan& operator=(const LineScan&) = delete;

    Scan& scan() { return *scan_; }
    const Scan& scan() const { return *scan_; }
    const std::vector<PolledTag>& tags() const { return polled_; }
    const TagHandle& handle(size_t index) const { return *handles_[index]; }
    // The index of the tag named `name`; -1 when there is none.
    int find(const std::string& name) const;

  private:
    std::vector<std::unique_ptr<TagHandle>> handles_;
    std::vector<PolledTag> polled_;
    std::unique_ptr<Scan> scan_;
};

}  // namespace qarn
