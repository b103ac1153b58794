#include <qarn/protlib/ProtUtilsN.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <qarn/host/ITag.h>

namespace ProtUtilsN {

namespace {

const DataType* findRow(ICU_Type t) {
    for (const DataType& row : DataTypes) {
        if (row.type == t) {
            return &row;
        }
    }
    return nullptr;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

int GetDataLength(ICU_Type t) {
    // Only the fixed-length rows; the 64-bit arrays and object have no length of their own.
    if (t < ICU_BOOLEAN || t > ICU_INT64) {
        return 0;
    }
    return DataTypes[t - 1].length;
}

int GetTypeFlag(ICU_Type t) {
    const DataType* row = findRow(t);
    return row != nullptr ? row->flag : 0;
}

bool IsBitType(ICU_Type t) {
    return t == ICU_BOOLEAN || t == ICU_BOOLEAN_ARRAY;
}

bool IsBitType(const ITag* tag) {
    return IsBitType(tag->GetVarType());
}

int GetItemCount(int length, ICU_Type itemType) {
    const int itemLength = itemType == ICU_NONE ? 0 : GetDataLength(itemType);
    if (itemLength == 0) {
        return 1;
    }
    return length / itemLength;
}

int GetItemCount(const ITag* tag) {
    return GetItemCount(tag->GetVarLength(), tag->GetItemType());
}

ICU_Type GetBasicType(const ITag* tag) {
    const ICU_Type item = tag->GetItemType();
    return item != ICU_NONE ? item : tag->GetVarType();
}

int GetBasicLength(const ITag* tag) {
    return GetDataLength(GetBasicType(tag));
}

bool GetORBAType(const std::string& text, ICU_Type& varType, ICU_Type& itemType, int& length,
                 std::vector<std::string>& conversions) {
    std::string typePart;
    const size_t open = text.find('(');
    if (open != std::string::npos) {
        // A ")" before the "(" closes nothing.
        const size_t close = text.find(')', open + 1);
        if (close == std::string::npos) {
            return false;
        }
        ParseSubstrings(text.substr(open + 1, close - open - 1), conversions, ',');
        typePart = GetTrim(text.substr(0, open));
    } else {
        typePart = GetTrim(text);
    }

    std::string name = typePart;
    long count = 1;
    const size_t dash = typePart.find('-');
    if (dash != std::string::npos) {
        name = typePart.substr(0, dash + 1);
        count = std::strtol(typePart.c_str() + dash + 1, nullptr, 10);
    }

    const DataType* row = nullptr;
    for (const DataType& candidate : DataTypes) {
        if (name == candidate.name) {
            row = &candidate;
            break;
        }
    }
    if (row == nullptr) {
        return false;
    }

    int result = row->length;
    if (result == 0) {
        // A negative count or one whose byte length does not fit an int names no usable type.
        const long itemLength = GetDataLength(row->itemType);
        if (count < 0 || (itemLength != 0 && count > INT_MAX / itemLength)) {
            return false;
        }
        result = static_cast<int>(itemLength * count);
    }
    varType = row->type;
    itemType = row->itemType;
    length = result;
    return true;
}

std::string GetORBAName(ICU_Type t, int length) {
    const DataType* row = findRow(t);
    if (row == nullptr) {
        return "??";
    }
    std::string name = row->name;
    if (row->length == 0) {
        const int itemLength = GetDataLength(row->itemType);
        char digits[40];
        name += itoa(itemLength != 0 ? length / itemLength : length, digits, 10);
    }
    return name;
}

int GetVersion() {
    return 200;
}

int GetLenOfBits(int startBit, int count) {
    // In 64 bits: a start bit and a count near the top of int overflow their sum.
    const long long last = static_cast<long long>(startBit) + count - 1;
    return static_cast<int>(last / 8 - startBit / 8 + 1);
}

int getStartingBit(const ITag* tag) {
    int bit = 8 * tag->GetByteOffset();
    if (IsBitType(tag)) {
        bit += tag->GetBitIndex();
    }
    return bit;
}

int getEndingBit(const ITag* tag) {
    const long long start = getStartingBit(tag);
    const long long end =
        IsBitType(tag) ? start + tag->GetVarLength() : start + 8LL * tag->PackedLen();
    // Tags of 256 MB and more end beyond int; they end at its top.
    return end > INT_MAX ? INT_MAX : static_cast<int>(end);
}

void UnpackBits(uint8_t* dst, const uint8_t* src, int startBit, int count) {
    if (count <= 0 || startBit < 0) {
        return;
    }
    const uint8_t* in = src + startBit / 8;
    uint8_t mask = static_cast<uint8_t>(1u << (startBit % 8));
    for (int i = 0; i < count; ++i) {
        dst[i] = (*in & mask) != 0 ? 1 : 0;
        mask = static_cast<uint8_t>(mask << 1);
        if (mask == 0) {
            mask = 1;
            ++in;
        }
    }
}

void PackBits(uint8_t* dst, const uint8_t* src, int startBit, int count) {
    if (count <= 0 || startBit < 0) {
        return;
    }
    uint8_t* out = dst + startBit / 8;
    uint8_t mask = static_cast<uint8_t>(1u << (startBit % 8));
    for (int i = 0; i < count; ++i) {
        if (src[i] != 0) {
            *out = static_cast<uint8_t>(*out | mask);
        } else {
            *out = static_cast<uint8_t>(*out & ~mask);
        }
        mask = static_cast<uint8_t>(mask << 1);
        if (mask == 0) {
            mask = 1;
            ++out;
        }
    }
}

void shiftBits(uint8_t* dst, int dstBit, const uint8_t* src, int srcBit, int count) {
    if (count <= 0 || dstBit < 0 || srcBit < 0) {
        return;
    }
    const uint8_t* in = src + srcBit / 8;
    uint8_t inMask = static_cast<uint8_t>(1u << (srcBit % 8));
    uint8_t* out = dst + dstBit / 8;
    uint8_t outMask = static_cast<uint8_t>(1u << (dstBit % 8));
    for (int i = 0; i < count; ++i) {
        if ((*in & inMask) != 0) {
            *out = static_cast<uint8_t>(*out | outMask);
        } else {
            *out = static_cast<uint8_t>(*out & ~outMask);
        }
        inMask = static_cast<uint8_t>(inMask << 1);
        if (inMask == 0) {
            inMask = 1;
            ++in;
        }
        outMask = static_cast<uint8_t>(outMask << 1);
        if (outMask == 0) {
            outMask = 1;
            ++out;
        }
    }
}

void CopyBits(uint8_t* dst, const uint8_t* src, int startBit, int count) {
    // dst[0] stands for source byte startBit / 8, so every bit keeps its place in its byte.
    if (startBit < 0) {
        return;
    }
    shiftBits(dst, startBit % 8, src + startBit / 8, startBit % 8, count);
}

void Trim(std::string& s) {
    size_t end = s.size();
    while (end > 0 && isBlank(s[end - 1])) {
        --end;
    }
    size_t begin = 0;
    while (begin < end && isBlank(s[begin])) {
        ++begin;
    }
    s.erase(end);
    s.erase(0, begin);
}

std::string GetTrim(const std::string& s) {
    std::string copy = s;
    Trim(copy);
    return copy;
}

void ParseSubstrings(const std::string& s, std::vector<std::string>& out, char separator) {
    size_t pos = 0;
    for (;;) {
        const size_t next = s.find(separator, pos);
        if (next == std::string::npos) {
            out.push_back(GetTrim(s.substr(pos)));
            return;
        }
        out.push_back(GetTrim(s.substr(pos, next - pos)));
        pos = next + 1;
    }
}

bool GetConfigValue(const char* text, const char* key, std::string& value) {
    if (text == nullptr || key == nullptr) {
        return false;
    }
    const std::string pattern = std::string(key) + "=";
    const char* found = std::strstr(text, pattern.c_str());
    if (found == nullptr) {
        return false;
    }
    const char* begin = found + pattern.size();
    const char* end = begin;
    while (*end != '\0' && std::isalnum(static_cast<unsigned char>(*end)) != 0) {
        ++end;
    }
    value.assign(begin, end);
    return true;
}

char* itoa(int value, char* buffer, int base) {
    // Bases outside 2..36 have no digits of their own; they are written in decimal. A negative
    // value is written as its magnitude, without a sign.
    if (base < 2 || base > 36) {
        base = 10;
    }
    unsigned int rest =
        value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
    char reversed[40];
    int n = 0;
    do {
        const unsigned int digit = rest % static_cast<unsigned int>(base);
        if (base == 16 && digit >= 10) {
            reversed[n++] = static_cast<char>('a' + (digit - 10));
        } else {
            reversed[n++] = static_cast<char>('0' + digit);
        }
        rest /= static_cast<unsigned int>(base);
    } while (rest != 0);
    for (int i = 0; i < n; ++i) {
        buffer[i] = reversed[n - 1 - i];
    }
    buffer[n] = '\0';
    return buffer;
}

}  // namespace ProtUtilsN
