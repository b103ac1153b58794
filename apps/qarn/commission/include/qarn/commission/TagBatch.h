#pragma once
// A set of tags made on a protocol for one look at the device: created together, read together
// with one planned scan (so the plug-in merges the tags over the same registers into as few
// requests as it allows), decoded by the plug-in's own ConvertVariable, freed together.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <qarn/scan/Scan.h>
#include <qarn/toolkit/ValueCodec.h>

class IProtocol;
class ITag;

namespace qarn {

class TagBatch {
  public:
    // The protocol must outlive the batch; it must be started before read().
    explicit TagBatch(IProtocol& protocol);
    ~TagBatch();
    TagBatch(const TagBatch&) = delete;
    TagBatch& operator=(const TagBatch&) = delete;

    // Creates a tag; false with the plug-in's reason (hinted, see withTypesHint) when it gives
    // none. Tags can't be added after read().
    bool tryAdd(const std::string& address, size_t& index, std::string& why);
    // The same, throwing Failure "ADDRESS: REASON".
    size_t add(const std::string& address);

    size_t size() const { return tags_.size(); }
    const ITag& tag(size_t index) const { return *tags_[index]; }
    ValueType type(size_t index) const;

    // Plans one scan over every tag; after it no tag can be added. Throws Failure when the
    // protocol lacks the interface that planning needs.
    void plan(ScanHooks hooks = {});
    // Reads every tag once, planning first when plan() was not called.
    CycleSummary read();
    // After plan(): the requests that go on the line. After read(): each tag's result and
    // decoded value.
    size_t requests() const;
    const TagResult& result(size_t index) const;
    DecodedValue value(size_t index) const;

  private:
    IProtocol& protocol_;
    std::vector<ITag*> tags_;
    std::unique_ptr<Scan> scan_;
};

}  // namespace qarn
