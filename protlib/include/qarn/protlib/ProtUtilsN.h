#pragma once
// Data-type system, bit-stream helpers and string helpers shared by every driver of the library.

#include <cstdint>
#include <string>
#include <vector>

#include <qarn/host/DataTypes.h>
#include <qarn/host/HostTypes.h>

class ITag;

namespace ProtUtilsN {

// The host's data-type table (one row per ICU_Type value, in order).
using DataType = HostDataType;
constexpr int DataTypeCount = HostDataTypeCount;
inline constexpr const DataType (&DataTypes)[DataTypeCount] = HostDataTypes;

// Data types.
int GetDataLength(ICU_Type t);
int GetTypeFlag(ICU_Type t);
bool IsBitType(ICU_Type t);
bool IsBitType(const ITag* tag);
int GetItemCount(int length, ICU_Type itemType);
int GetItemCount(const ITag* tag);
ICU_Type GetBasicType(const ITag* tag);
int GetBasicLength(const ITag* tag);
// Parses "name[-count][(conv,...)]". Conversion names are appended to `conversions`.
bool GetORBAType(const std::string& text, ICU_Type& varType, ICU_Type& itemType, int& length,
                 std::vector<std::string>& conversions);
std::string GetORBAName(ICU_Type t, int length);
int GetVersion();

// Bits. Bit k of a stream is bit k % 8 (0 = least significant) of byte k / 8.
int GetLenOfBits(int startBit, int count);
int getStartingBit(const ITag* tag);
int getEndingBit(const ITag* tag);
void UnpackBits(uint8_t* dst, const uint8_t* src, int startBit, int count);
void PackBits(uint8_t* dst, const uint8_t* src, int startBit, int count);
void CopyBits(uint8_t* dst, const uint8_t* src, int startBit, int count);
void shiftBits(uint8_t* dst, int dstBit, const uint8_t* src, int srcBit, int count);

// Strings. Trimming removes blanks and tabs only.
void Trim(std::string& s);
std::string GetTrim(const std::string& s);
void ParseSubstrings(const std::string& s, std::vector<std::string>& out, char separator);
bool GetConfigValue(const char* text, const char* key, std::string& value);
char* itoa(int value, char* buffer, int base);

}  // namespace ProtUtilsN
