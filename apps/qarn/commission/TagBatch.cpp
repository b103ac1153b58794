#include <qarn/commission/TagBatch.h>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/TagValue.h>

namespace qarn {

TagBatch::TagBatch(IProtocol& protocol) : protocol_(protocol) {}

TagBatch::~TagBatch() {
    scan_.reset();
    for (ITag* tag : tags_) {
        protocol_.FreeTag(tag);
    }
}

bool TagBatch::tryAdd(const std::string& address, size_t& index, std::string& why) {
    if (scan_ != nullptr) {
        why = "the batch was read already";
        return false;
    }
    ITag* tag = protocol_.CreateTag(address.c_str());
    if (tag == nullptr) {
        const char* text = protocol_.GetLastErrorString();
        why = withTypesHint(text != nullptr ? text : "refused");
        return false;
    }
    tags_.push_back(tag);
    index = tags_.size() - 1;
    return true;
}

size_t TagBatch::add(const std::string& address) {
    size_t index = 0;
    std::string why;
    if (!tryAdd(address, index, why)) {
        throw Failure(address + ": " + why);
    }
    return index;
}

ValueType TagBatch::type(size_t index) const {
    const ITag& t = *tags_[index];
    return ValueType{t.GetVarType(), t.GetVarLength(), t.GetItemType()};
}

void TagBatch::plan(ScanHooks hooks) {
    // Planning asks for the tags' nodes, which came with the fourth version of the interface.
    auto* planned = static_cast<IProtocol4*>(protocol_.ConvertTo("IProtocol4"));
    if (planned == nullptr) {
        throw Failure("the plug-in's protocol does not offer IProtocol4, which planning needs");
    }
    scan_ = std::make_unique<Scan>(*planned, std::vector<const ITag*>(tags_.begin(), tags_.end()),
                                   std::move(hooks));
}

CycleSummary TagBatch::read() {
    if (scan_ == nullptr) {
        plan();
    }
    return scan_->runCycle();
}

size_t TagBatch::requests() const {
    return scan_ != nullptr ? scan_->lineRequests() : 0;
}

const TagResult& TagBatch::result(size_t index) const {
    static const TagResult unread;
    return scan_ != nullptr && index < scan_->results().size() ? scan_->results()[index] : unread;
}

DecodedValue TagBatch::value(size_t index) const {
    const TagResult& r = result(index);
    return decodeValue(type(index), r.value.data(), r.value.size());
}

}  // namespace qarn
