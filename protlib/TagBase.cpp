#include <qarn/protlib/TagBase.h>

#include <algorithm>
#include <cstring>

#include <qarn/protlib/ProtUtilsN.h>
#include <qarn/protlib/WorkBuffer.h>

using namespace ProtUtilsN;

namespace {

// Room for any error text of an ordinary tag ("Conversion error at: swapnibble" and the like), so
// recording one on the read/write path does not allocate.
constexpr size_t ErrorTextReserve = 128;
// Values up to this size convert in a local buffer.
constexpr int LocalWorkSize = 256;
// Digit pairs a packed-decimal element can hold: 1 to 4 bytes.
constexpr int MaxBcdBytes = 4;
constexpr uint32_t BcdLimit[MaxBcdBytes + 1] = {0, 99, 9999, 999999, 99999999};

constexpr bool HostIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// Unsigned integer of `length` (at most 8) bytes in host order.
uint64_t loadUnsigned(const uint8_t* p, int length) {
    uint64_t value = 0;
    for (int i = 0; i < length; ++i) {
        const int index = HostIsLittleEndian ? length - 1 - i : i;
        value = (value << 8) | p[index];
    }
    return value;
}

void storeUnsigned(uint8_t* p, int length, uint64_t value) {
    for (int i = 0; i < length; ++i) {
        const int index = HostIsLittleEndian ? i : length - 1 - i;
        p[index] = static_cast<uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

void reverseGroups(uint8_t* data, int n, int group) {
    for (int i = 0; i + group <= n; i += group) {
        std::reverse(data + i, data + i + group);
    }
}

// Packed decimal: the first byte carries the two lowest digits.
bool bcdToBinary(uint8_t* element, int length) {
    uint64_t value = 0;
    uint64_t scale = 1;
    for (int i = 0; i < length; ++i) {
        const uint8_t high = element[i] >> 4;
        const uint8_t low = element[i] & 0x0F;
        if (high > 9 || low > 9) {
            return false;
        }
        value += (10u * high + low) * scale;
        scale *= 100;
    }
    storeUnsigned(element, length, value);
    return true;
}

bool binaryToBcd(uint8_t* element, int length) {
    uint64_t value = loadUnsigned(element, length);
    if (value > BcdLimit[length]) {
        return false;
    }
    uint64_t packed = 0;
    for (int shift = 0; value != 0; shift += 4) {
        packed |= (value % 10) << shift;
        value /= 10;
    }
    storeUnsigned(element, length, packed);
    return true;
}

template <typename T>
void negateFloating(uint8_t* element) {
    T value;
    std::memcpy(&value, element, sizeof value);
    value = -value;
    std::memcpy(element, &value, sizeof value);
}

// Two's complement in unsigned arithmetic, so the most negative value wraps instead of overflowing.
void negateInteger(uint8_t* element, int length) {
    const uint64_t value = loadUnsigned(element, length);
    storeUnsigned(element, length, 0u - value);
}

}  // namespace

TagBase::TagBase() {
    errorText.reserve(ErrorTextReserve);
}

TagBase::TagBase(const TagBase& other) : ITag(other), conversions(other.conversions) {
    errorText.reserve(ErrorTextReserve);
    errorText = other.errorText;
}

TagBase::~TagBase() = default;

int TagBase::PackedLen() const {
    if (IsBitType(GetVarType())) {
        return GetLenOfBits(GetBitIndex(), GetVarLength());
    }
    return GetVarLength();
}

bool TagBase::ConvertVariable(const uint8_t* src, uint8_t* dst, bool toDevice) const {
    return Convert(src, dst, toDevice);
}

bool TagBase::IsReadOnly() const {
    return false;
}

bool TagBase::IsWriteOnly() const {
    return false;
}

bool TagBase::Convert(const uint8_t* src, uint8_t* dst, bool toDevice) const {
    const int varLen = std::max(GetVarLength(), 0);
    const int packed = std::max(PackedLen(), 0);
    const bool bits = IsBitType(GetVarType());
    // Without conversions a byte image of the value's own length is the value itself.
    if (!bits && packed == varLen && conversions.empty()) {
        std::memmove(dst, src, static_cast<size_t>(packed));
        return true;
    }

    // Conversions run on a separate buffer, so a failure leaves dst as it was.
    WorkBuffer<LocalWorkSize> work(std::max(varLen, packed));
    if (!work.ok()) {
        SetError("Can't allocate conversion buffer");
        return false;
    }

    if (!toDevice) {
        if (bits) {
            UnpackBits(work.data(), src, GetBitIndex(), varLen);
        } else {
            std::memcpy(work.data(), src, static_cast<size_t>(packed));
        }
        // Reading undoes the written order.
        for (auto it = conversions.rbegin(); it != conversions.rend(); ++it) {
            if (!DoConversion(work.data(), it->c_str(), false)) {
                errorText.assign("Conversion error at: ").append(*it);
                return false;
            }
        }
        std::memcpy(dst, work.data(), static_cast<size_t>(varLen));
        return true;
    }

    std::memcpy(work.data(), src, static_cast<size_t>(varLen));
    for (const std::string& name : conversions) {
        if (!DoConversion(work.data(), name.c_str(), true)) {
            errorText.assign("Conversion error at: ").append(name);
            return false;
        }
    }
    if (bits) {
        PackBits(dst, work.data(), GetBitIndex(), varLen);
    } else {
        std::memcpy(dst, work.data(), static_cast<size_t>(packed));
    }
    return true;
}

bool TagBase::DoConversion(uint8_t* data, const char* name, bool toDevice) const {
    if (name == nullptr) {
        return false;
    }
    const int n = std::max(GetVarLength(), 0);

    if (std::strcmp(name, "swapnibble") == 0) {
        for (int i = 0; i < n; ++i) {
            data[i] = static_cast<uint8_t>((data[i] << 4) | (data[i] >> 4));
        }
        return true;
    }
    if (std::strcmp(name, "swap2") == 0 || std::strcmp(name, "swap4") == 0 ||
        std::strcmp(name, "swap8") == 0) {
        const int group = name[4] - '0';
        if (n % group != 0) {
            return false;
        }
        reverseGroups(data, n, group);
        return true;
    }
    if (std::strcmp(name, "bcd") == 0) {
        // Object has no element length to count elements by.
        const int length = GetBasicLength(this);
        if (length <= 0) {
            return false;
        }
        const int count = n / length;
        if (count <= 0) {
            return true;
        }
        // Elements longer than 4 bytes are not packed decimal in either direction.
        if (length > MaxBcdBytes) {
            return false;
        }
        for (int i = 0; i < count; ++i) {
            uint8_t* element = data + i * length;
            if (!(toDevice ? binaryToBcd(element, length) : bcdToBinary(element, length))) {
                return false;
            }
        }
        return true;
    }
    if (std::strcmp(name, "neg") == 0) {
        const ICU_Type type = GetBasicType(this);
        const int length = GetDataLength(type);
        switch (type) {
            case ICU_BYTE:
            case ICU_SHORT:
            case ICU_INT:
            case ICU_INT64:
            case ICU_FLOAT:
            case ICU_DOUBLE:
                break;
            default:
                return false;
        }
        // Never past the value, whatever the tag claims as its element count.
        const int count = std::min(GetItemCount(this), n / length);
        for (int i = 0; i < count; ++i) {
            uint8_t* element = data + i * length;
            if (type == ICU_FLOAT) {
                negateFloating<float>(element);
            } else if (type == ICU_DOUBLE) {
                negateFloating<double>(element);
            } else {
                negateInteger(element, length);
            }
        }
        return true;
    }
    if (std::strcmp(name, "inv") == 0) {
        if (IsBitType(GetVarType())) {
            for (int i = 0; i < n; ++i) {
                data[i] = data[i] == 0 ? 1 : 0;
            }
            return true;
        }
        switch (GetBasicType(this)) {
            case ICU_UNSIGNED_BYTE:
            case ICU_UNSIGNED_SHORT:
            case ICU_UNSIGNED_INT:
            case ICU_UINT64:
                break;
            default:
                return false;
        }
        for (int i = 0; i < n; ++i) {
            data[i] = static_cast<uint8_t>(~data[i]);
        }
        return true;
    }
    return false;
}

void TagBase::SetError(const char* text) const {
    errorText.assign(text != nullptr ? text : "");
}
