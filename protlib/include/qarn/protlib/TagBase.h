#pragma once
// Protocol-independent part of a tag: raw image length and the conversion between the raw image
// exchanged with the device and the value the host reads and writes.

#include <cstdint>
#include <string>
#include <vector>

#include <qarn/host/ITag.h>

class TagBase : public ITag {
  public:
    TagBase();
    ~TagBase() override;

    int PackedLen() const override;
    bool ConvertVariable(const uint8_t* src, uint8_t* dst, bool toDevice) const override;
    bool IsReadOnly() const override;
    bool IsWriteOnly() const override;

    // toDevice false: raw image -> host value; true: host value -> raw image.
    virtual bool Convert(const uint8_t* src, uint8_t* dst, bool toDevice) const;
    // Applies one named conversion in place to GetVarLength() bytes in host layout.
    virtual bool DoConversion(uint8_t* data, const char* name, bool toDevice) const;

    // Records the reason of the tag's last failure (a const tag can still record it).
    void SetError(const char* text) const;
    const std::string& getErrorText() const { return errorText; }
    const std::vector<std::string>& getConversions() const { return conversions; }

  protected:
    TagBase(const TagBase& other);
    TagBase& operator=(const TagBase&) = delete;

    // Conversion names in written order; filled by the derived tag from its data-type string.
    std::vector<std::string> conversions;
    mutable std::string errorText;
};
