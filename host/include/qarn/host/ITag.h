#pragma once
// The host's view of a tag. No base class; slot order is binding.

#include <cstdint>

#include "HostTypes.h"

class ITag {
  public:
    virtual ~ITag() = default;
    virtual ITag* Clone() const = 0;
    // Offset in bytes of the tag's raw image inside its memory area.
    virtual int GetByteOffset() const = 0;
    // Position of a bit tag's first bit inside its first raw byte (0..7).
    virtual int GetBitIndex() const = 0;
    // The tag's address string.
    virtual const char* GetVarName() const = 0;
    virtual ICU_Type GetVarType() const = 0;
    // Bytes of the host value; bits for the bit types.
    virtual int GetVarLength() const = 0;
    // Element type of arrays and strings, ICU_NONE for scalars.
    virtual ICU_Type GetItemType() const = 0;
    // Bytes of the raw image.
    virtual int PackedLen() const = 0;
    virtual bool ConvertVariable(const uint8_t* src, uint8_t* dst, bool toDevice) const = 0;
    virtual bool IsReadOnly() const = 0;
    virtual bool IsWriteOnly() const = 0;
};
