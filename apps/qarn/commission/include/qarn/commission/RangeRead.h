#pragma once
// A range read: N consecutive items of one tag's type from the tag's address on, each made a tag
// of its own and all read in one planned scan, so the plug-in merges them into as few requests
// as it allows. Registers items step by their size (a float two registers, a byte half of
// one); bit items step one bit (N bits for boolean-N). Coils and discrete inputs are read in
// runs that the plug-in lets share a request, one tag a run, since the plug-in reads only a bit
// tag's own bits.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <qarn/commission/TagAddress.h>
#include <qarn/scan/Scan.h>
#include <qarn/toolkit/ValueCodec.h>

class IProtocol;

namespace qarn {

class TagBatch;

struct RangeItem {
    std::string position;  // the item's first register or bit: "400003", "400001.4", "17"
    std::string tag;       // its tag address
    bool ok = false;
    DecodedValue value{};
    // The item's registers as the device holds them, or its bytes for a byte-sized item; empty
    // for coils and discrete inputs.
    std::vector<uint16_t> registers;
    std::vector<uint8_t> bytes;
    std::string error;  // when not ok; empty for an item that was not read (stopped)
    bool read = false;  // its request was made
};

class RangeRead {
  public:
    // Makes the tags of `count` items from `first` on (a full tag address). Throws UsageError
    // for an address that can't be split, Failure naming the item the plug-in refuses.
    RangeRead(IProtocol& protocol, const std::string& first, int count);
    ~RangeRead();
    RangeRead(const RangeRead&) = delete;
    RangeRead& operator=(const RangeRead&) = delete;

    // Whether the items are 16 bits wide (then unsigned, signed and ASCII are shown too).
    bool sixteenBit() const { return sixteenBit_; }
    // Plans the requests; `hooks` are called as a scan's. Returns the requests the plan makes.
    size_t plan(ScanHooks hooks = {});
    // Reads every item once (planning first without hooks when plan() was not called); a
    // failed request marks its items with the reason.
    CycleSummary run();
    const std::vector<RangeItem>& items() const { return items_; }

  private:
    struct Slot {
        size_t tag = SIZE_MAX;   // the item's own tag (registers) or its run's tag (bits)
        size_t bits = SIZE_MAX;  // for bits: offset of the item's first bit in the run's value
        size_t raw = SIZE_MAX;   // the tag of its registers or bytes
    };

    void addRegisterItems(const TagAddress& first, int count, int startBits);
    void addBitItems(IProtocol& protocol, const TagAddress& first, int count);

    std::unique_ptr<TagBatch> batch_;
    std::vector<RangeItem> items_;
    std::vector<Slot> slots_;
    ValueType itemType_{};
    bool sixteenBit_ = false;
    bool bitArea_ = false;
};

}  // namespace qarn
