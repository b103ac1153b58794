#include <qarn/commission/RangeRead.h>

#include <algorithm>

#include <qarn/commission/TagBatch.h>
#include <qarn/host/DataTypes.h>
#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/TagValue.h>

namespace qarn {

namespace {

constexpr int RegisterBits = 16;

bool isBitType(ICU_Type t) {
    return t == ICU_BOOLEAN || t == ICU_BOOLEAN_ARRAY;
}

// A tag made only to ask the plug-in where it lies; freed with the holder.
class Probe {
  public:
    Probe(IProtocol& protocol, const std::string& address)
        : protocol_(protocol), tag_(protocol.CreateTag(address.c_str())) {}
    ~Probe() {
        if (tag_ != nullptr) {
            protocol_.FreeTag(tag_);
        }
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    const ITag* get() const { return tag_; }
    // The tag's first bit counted from the start of its area.
    long bit() const {
        return 8L * tag_->GetByteOffset() +
               (isBitType(tag_->GetVarType()) ? tag_->GetBitIndex() : 0);
    }

  private:
    IProtocol& protocol_;
    ITag* tag_;
};

TagAddress at(const TagAddress& first, long number, std::optional<int> sub) {
    TagAddress a = first;
    a.number = number;
    a.sub = sub;
    return a;
}

}  // namespace

RangeRead::RangeRead(IProtocol& protocol, const std::string& first, int count)
    : batch_(std::make_unique<TagBatch>(protocol)) {
    if (count < 1) {
        throw UsageError("--count must be 1 or more");
    }
    const TagAddress address = TagAddress::parse(first, true);
    const Probe item(protocol, first);
    if (item.get() == nullptr) {
        const char* why = protocol.GetLastErrorString();
        throw Failure(first + ": " + withTypesHint(why != nullptr ? why : "refused"));
    }
    itemType_ =
        ValueType{item.get()->GetVarType(), item.get()->GetVarLength(), item.get()->GetItemType()};
    const bool bits = isBitType(itemType_.type);
    sixteenBit_ = !bits && item.get()->PackedLen() == 2 && itemType_.length == 2;
    // Bits of a coil or discrete input are one address apart, those of a register sixteen. The
    // plug-in tells which by where it puts the next address; a lone item in an area of one
    // address (the node areas) has no neighbour to ask, and is read as it is.
    const Probe plain(protocol, at(address, address.number, std::nullopt).with(address.type));
    if (bits) {
        const Probe next(protocol,
                         at(address, address.number + 1, std::nullopt).with(address.type));
        const Probe before(protocol,
                           at(address, address.number - 1, std::nullopt).with(address.type));
        long step = RegisterBits;
        if (plain.get() != nullptr && next.get() != nullptr) {
            step = next.bit() - plain.bit();
        } else if (plain.get() != nullptr && before.get() != nullptr) {
            step = plain.bit() - before.bit();
        }
        bitArea_ = step == 1;
    }
    if (bitArea_) {
        addBitItems(protocol, address, count);
    } else {
        const long startBits = plain.get() != nullptr ? item.bit() - plain.bit() : 0;
        addRegisterItems(address, count, static_cast<int>(startBits));
    }
}

RangeRead::~RangeRead() = default;

void RangeRead::addRegisterItems(const TagAddress& first, int count, int startBits) {
    const bool bits = isBitType(itemType_.type);
    // The size of the raw image decides the step, not the host value's.
    const size_t probe = batch_->add(first.with(first.type));
    const int itemBits = bits ? itemType_.length : 8 * batch_->tag(probe).PackedLen();
    for (int i = 0; i < count; ++i) {
        const long q = startBits + static_cast<long>(i) * itemBits;
        const long number = first.number + q / RegisterBits;
        const int inRegister = static_cast<int>(q % RegisterBits);
        Slot slot;
        RangeItem item;
        TagAddress a = at(first, number, std::nullopt);
        if (bits) {
            a.sub = inRegister;
        } else if (inRegister != 0) {
            // Only byte-sized elements start inside a register: the high byte, sub-index 1.
            a.sub = inRegister / 8;
        }
        item.position = a.position();
        item.tag = a.with(first.type);
        slot.tag = i == 0 ? probe : batch_->add(item.tag);
        const ITag& tag = batch_->tag(slot.tag);
        const TagAddress whole = at(first, number, std::nullopt);
        std::string raw;
        if (bits) {
            raw = whole.with("unsignedShort");
        } else if (inRegister == 0 && tag.PackedLen() % 2 == 0) {
            raw = whole.with("unsignedShort-" + std::to_string(tag.PackedLen() / 2));
        } else {
            raw = a.with("unsignedByte-" + std::to_string(tag.PackedLen()));
        }
        // An area that takes no such tag (the node override takes one byte alone) shows no hex.
        std::string why;
        if (!batch_->tryAdd(raw, slot.raw, why)) {
            slot.raw = SIZE_MAX;
        }
        items_.push_back(std::move(item));
        slots_.push_back(slot);
    }
}

void RangeRead::addBitItems(IProtocol& protocol, const TagAddress& first, int count) {
    const int itemBits = itemType_.length;
    // With conversions each item keeps its own tag: a run's conversions would work on the run.
    const bool runs = first.conversionPart().empty();
    for (int i = 0; i < count;) {
        const long number = first.number + static_cast<long>(i) * itemBits;
        const TagAddress a = at(first, number, first.sub);
        int length = 1;
        if (runs) {
            // The run grows while the plug-in lets its next item share the first item's request.
            const Probe lead(protocol, a.with(first.type));
            while (lead.get() != nullptr && i + length < count) {
                const Probe next(protocol,
                                 at(first, number + static_cast<long>(length) * itemBits, first.sub)
                                     .with(first.type));
                if (next.get() == nullptr ||
                    !protocol.CanBeOptimized(lead.get(), next.get(), false)) {
                    break;
                }
                ++length;
            }
        }
        const std::string runType =
            runs ? "boolean-" + std::to_string(length * itemBits) : first.type;
        const size_t run = batch_->add(a.with(runType));
        for (int k = 0; k < length; ++k) {
            RangeItem item;
            const TagAddress b = at(first, number + static_cast<long>(k) * itemBits, first.sub);
            item.position = b.position();
            item.tag = b.with(first.type);
            Slot slot;
            slot.tag = run;
            slot.bits = static_cast<size_t>(k) * static_cast<size_t>(itemBits);
            items_.push_back(std::move(item));
            slots_.push_back(slot);
        }
        i += length;
    }
}

size_t RangeRead::plan(ScanHooks hooks) {
    batch_->plan(std::move(hooks));
    return batch_->requests();
}

CycleSummary RangeRead::run() {
    const CycleSummary summary = batch_->read();
    for (size_t i = 0; i < items_.size(); ++i) {
        RangeItem& item = items_[i];
        const Slot& slot = slots_[i];
        const TagResult& r = batch_->result(slot.tag);
        item.read = r.ok || r.code != 0;
        item.ok = r.ok;
        if (!r.ok) {
            item.error = item.read ? "error " + std::to_string(r.code) + ": " + r.text : "";
            continue;
        }
        if (slot.bits != SIZE_MAX) {
            // A run's value holds one byte a bit; the item's are its own value.
            const size_t n = hostValueSize(itemType_);
            if (slot.bits + n > r.value.size()) {
                item.ok = false;
                item.error = "the run read fewer bits than asked for";
                continue;
            }
            item.value = decodeValue(itemType_, r.value.data() + slot.bits, n);
        } else {
            item.value = batch_->value(slot.tag);
        }
        if (slot.raw != SIZE_MAX && batch_->result(slot.raw).ok) {
            const DecodedValue raw = batch_->value(slot.raw);
            for (const Element& e : raw.items) {
                if (e.bytes == 2) {
                    item.registers.push_back(static_cast<uint16_t>(e.u));
                } else {
                    item.bytes.push_back(static_cast<uint8_t>(e.u));
                }
            }
        }
    }
    return summary;
}

}  // namespace qarn
