#include <qarn/protlib/ProtocolBase.h>

#include <sys/time.h>

#include <cstring>

#include <qarn/host/ErrorCodes.h>
#include <qarn/plugin/HostServices.h>
#include <qarn/protlib/ProtUtilsN.h>
#include <qarn/protlib/TagBase.h>
#include <qarn/protlib/WorkBuffer.h>

using namespace ProtUtilsN;

namespace {

// Room for every error text of the library and the driver, so SetError does not allocate on the
// read/write path.
constexpr size_t ErrorTextReserve = 128;
// Raw images up to this size are read into a local buffer.
constexpr int LocalReadSize = 64;
// Whole arrays up to this size are read for an item access into a local buffer.
constexpr int LocalArraySize = 256;
constexpr int DefaultMaxUnusedGap = 0xFFFFFF;
const char BufferErrorText[] = "Can't allocate buffer";

const char* const NoTagUriNames[] = {nullptr};

}  // namespace

uint64_t currentTimeStamp() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_usec) / 1000u;
}

ProtocolBase::ProtocolBase() {
    lastErrorText.reserve(ErrorTextReserve);
}

ProtocolBase::~ProtocolBase() {
    DeleteTags();
}

void* ProtocolBase::ConvertTo(const char* name) {
    static const char* const Names[] = {"ProtocolBase", "IProtocol7", "IProtocol6", "IProtocol5",
                                        "IProtocol4",   "IProtocol3", "IProtocol2", "IProtocol"};
    for (const char* known : Names) {
        if (CompareInterface(name, known)) {
            return this;
        }
    }
    return nullptr;
}

// ---- Tags -------------------------------------------------------------------------------------

ITag* ProtocolBase::CreateTag(const char* address) {
    TagBase* tag = CreateTagBase(address);
    if (tag != nullptr) {
        tags.push_back(tag);
    }
    return tag;
}

void ProtocolBase::FreeTag(ITag* tag) {
    tags.remove_if([tag](const TagBase* entry) { return static_cast<const ITag*>(entry) == tag; });
    delete tag;
}

void ProtocolBase::DeleteTags() {
    for (TagBase* tag : tags) {
        delete tag;
    }
    tags.clear();
}

// ---- Reads ------------------------------------------------------------------------------------

bool ProtocolBase::Read(const ITag* tag, uint8_t* value) {
    WorkBuffer<LocalReadSize> raw(tag->PackedLen());
    if (!raw.ok()) {
        SetError(ErrorCode::Allocation, BufferErrorText);
        return false;
    }
    bool read;
    if (CanReadBitBlock(tag)) {
        const ICU_Type type = tag->GetVarType();
        const int bits = (type == ICU_BOOLEAN || type == ICU_BOOLEAN_ARRAY) ? tag->GetVarLength()
                                                                            : raw.size() * 8;
        read = ReadBitBlock(tag, raw.data(), bits);
    } else {
        read = ReadBlock(tag, raw.data(), raw.size());
    }
    if (!read) {
        return false;
    }
    if (!tag->ConvertVariable(raw.data(), value, false)) {
        SetError(ErrorCode::Conversion, "read conversion error");
        return false;
    }
    return true;
}

bool ProtocolBase::WriteBlock(const ITag*, const uint8_t*, int) {
    SetError(ErrorCode::NotAvailable, "Optimized writing not supported");
    return false;
}

namespace {

// Checks the element index and reads the whole array through the virtual Read; the element
// sits at index * itemLength of `whole`.
bool readWholeArray(ProtocolBase& protocol, const ITag* tag, int index,
                    WorkBuffer<LocalArraySize>& whole, int& itemLength) {
    if (tag->GetItemType() == ICU_NONE) {
        protocol.SetError(ErrorCode::Refused, "accessing an array item where the tag is not array");
        return false;
    }
    itemLength = GetBasicLength(tag);
    // The second test keeps the copy inside the value whatever the tag's lengths claim.
    if (index < 0 || index >= GetItemCount(tag) || (index + 1) * itemLength > tag->GetVarLength()) {
        protocol.SetError(ErrorCode::Refused, "accessing array item out of range");
        return false;
    }
    if (!whole.ok()) {
        protocol.SetError(ErrorCode::Allocation, BufferErrorText);
        return false;
    }
    return protocol.Read(tag, whole.data());
}

}  // namespace

bool ProtocolBase::readArrayItem(const ITag* tag, int index, uint8_t* item) {
    WorkBuffer<LocalArraySize> whole(tag->GetVarLength());
    int itemLength = 0;
    if (!readWholeArray(*this, tag, index, whole, itemLength)) {
        return false;
    }
    std::memcpy(item, whole.data() + index * itemLength, static_cast<size_t>(itemLength));
    return true;
}

bool ProtocolBase::writeArrayItem(const ITag* tag, int index, const uint8_t* item) {
    WorkBuffer<LocalArraySize> whole(tag->GetVarLength());
    int itemLength = 0;
    // The host addresses one element; the device is written as a whole array.
    if (!readWholeArray(*this, tag, index, whole, itemLength)) {
        return false;
    }
    std::memcpy(whole.data() + index * itemLength, item, static_cast<size_t>(itemLength));
    return Write(tag, whole.data());
}

// ---- Datagrams --------------------------------------------------------------------------------

int ProtocolBase::MaxDatagramItems(const ITag*) const {
    return 0;
}

int ProtocolBase::MaxDatagramLength(const ITag*) const {
    return 0;
}

bool ProtocolBase::CanCoexistInDatagram(const ITag*, const ITag*) const {
    return false;
}

bool ProtocolBase::ReadDatagram(const ITag* const*, int, uint8_t*) {
    return false;
}

bool ProtocolBase::CanAddToDatagram(const ITag* const* tags_, int count, const ITag* tag) {
    if (tag == nullptr) {
        return false;
    }
    // The first tag of a datagram is the reference; an empty datagram has none to disagree.
    if (count > 0 && tags_ != nullptr && !CanCoexistInDatagram(tags_[0], tag)) {
        return false;
    }
    if (MaxDatagramItems(tag) <= count) {
        return false;
    }
    int64_t total = tag->PackedLen();
    for (int i = 0; i < count && tags_ != nullptr; ++i) {
        total += tags_[i]->PackedLen();
    }
    return total <= MaxDatagramLength(tag);
}

bool ProtocolBase::ReadDatagramWithStatus(const ITag* const* tags_, int count, uint8_t* raw,
                                          idal_error_t* status) {
    const bool read = ReadDatagram(tags_, count, raw);
    if (read && status != nullptr) {
        for (int i = 0; i < count; ++i) {
            status[i] = IDAL_READ;
        }
    }
    return read;
}

bool ProtocolBase::CanAddToWriteDatagram(const ITag* const*, int, const ITag*) const {
    return false;
}

bool ProtocolBase::WriteDatagramWithStatus(const ITag* const*, int, const uint8_t*, idal_error_t*) {
    return false;
}

bool ProtocolBase::CanWriteDatagrams(const ITag*) const {
    return false;
}

// ---- Time-stamped reads -----------------------------------------------------------------------

bool ProtocolBase::readWithTimestamp(const ITag* tag, uint8_t* value, uint64_t* stamp) {
    const bool read = Read(tag, value);
    if (read && stamp != nullptr) {
        *stamp = currentTimeStamp();
    }
    return read;
}

bool ProtocolBase::readBlockWithTimestamp(const ITag* tag, uint8_t* raw, int length,
                                          uint64_t* stamp) {
    const bool read = ReadBlock(tag, raw, length);
    if (read && stamp != nullptr) {
        *stamp = currentTimeStamp();
    }
    return read;
}

bool ProtocolBase::readBitBlockWithTimestamp(const ITag* tag, uint8_t* raw, int bits,
                                             uint64_t* stamp) {
    const bool read = ReadBitBlock(tag, raw, bits);
    if (read && stamp != nullptr) {
        *stamp = currentTimeStamp();
    }
    return read;
}

bool ProtocolBase::readDatagramWithTimestamp(const ITag* const* tags_, int count, uint8_t* raw,
                                             idal_error_t* status, uint64_t* stamps) {
    const bool read = ReadDatagramWithStatus(tags_, count, raw, status);
    if (read && stamps != nullptr) {
        // One moment for the whole datagram.
        const uint64_t now = currentTimeStamp();
        for (int i = 0; i < count; ++i) {
            stamps[i] = now;
        }
    }
    return read;
}

bool ProtocolBase::hasPlcTimestamp(const ITag*) {
    return false;
}

// ---- Ordering of tags -------------------------------------------------------------------------

bool ProtocolBase::IsBefore(const ITag* first, const ITag* second) const {
    return static_cast<unsigned int>(first->GetByteOffset()) <
           static_cast<unsigned int>(second->GetByteOffset());
}

bool ProtocolBase::IsAdjacent(const ITag* first, const ITag* second) const {
    return getEndingBit(second) == getStartingBit(first);
}

int ProtocolBase::MaxUnusedGap(const ITag*) const {
    return DefaultMaxUnusedGap;
}

// ---- Tag address fields -----------------------------------------------------------------------

const char* const* ProtocolBase::tagUriNames() const {
    return NoTagUriNames;
}

int ProtocolBase::getTagUriFieldCount() const {
    const char* const* names = tagUriNames();
    int count = 0;
    while (names != nullptr && names[count] != nullptr) {
        ++count;
    }
    return count;
}

const char* ProtocolBase::getTagUriFieldName(int index) const {
    if (index < 0 || index >= getTagUriFieldCount()) {
        return nullptr;
    }
    return tagUriNames()[index];
}

int ProtocolBase::getTagUriFieldPosition(const char* name) const {
    const int count = getTagUriFieldCount();
    const char* const* names = tagUriNames();
    for (int i = 0; i < count; ++i) {
        if (name != nullptr && std::strcmp(names[i], name) == 0) {
            return i;
        }
    }
    return -1;
}

const char* ProtocolBase::getTagUriField(const ITag* tag, int index, int* length) const {
    const char* field = tag != nullptr ? tag->GetVarName() : nullptr;
    if (field == nullptr || index < 0) {
        return nullptr;
    }
    for (int i = 0; i < index; ++i) {
        field = std::strchr(field, '?');
        if (field == nullptr) {
            return nullptr;
        }
        ++field;
    }
    const char* end = std::strchr(field, '?');
    if (length != nullptr) {
        *length = static_cast<int>(end != nullptr ? end - field : std::strlen(field));
    }
    return field;
}

// ---- Identity and errors ----------------------------------------------------------------------

const char* ProtocolBase::GetNextInstanceName() const {
    return GetName();
}

int ProtocolBase::GetLastError() const {
    return lastErrorCode;
}

const char* ProtocolBase::GetLastErrorString() const {
    return lastErrorText.c_str();
}

const char* ProtocolBase::GetIdent() const {
    return ident.empty() ? GetName() : ident.c_str();
}

void ProtocolBase::SetIdent(const char* name) {
    ident.assign(name != nullptr ? name : "");
}

void ProtocolBase::SetError(int code, const char* text) {
    lastErrorCode = code;
    lastErrorText.assign(text != nullptr ? text : "");
}

void ProtocolBase::SetTagError(const TagBase* tag) {
    const char* address = tag->GetVarName();
    lastErrorCode = ErrorCode::Refused;
    lastErrorText.assign("Tag URI error: ")
        .append(address != nullptr ? address : "")
        .append(" - ")
        .append(tag->getErrorText());
}

// ---- Defaults of unsupported operations -------------------------------------------------------

bool ProtocolBase::Start() {
    return true;
}

bool ProtocolBase::Stop() {
    return true;
}

const char* ProtocolBase::GetXml() const {
    return nullptr;
}

bool ProtocolBase::IsConverted() const {
    return false;
}

int ProtocolBase::Extend(int, void*) {
    return 0;
}

bool ProtocolBase::MultipleReadSupported() const {
    return false;
}

bool ProtocolBase::MultipleRead(IMultiRead*) {
    return false;
}

bool ProtocolBase::MultipleWriteSupported() const {
    return false;
}

bool ProtocolBase::MultipleWrite(IMultiWrite*) {
    return false;
}

bool ProtocolBase::CanReadBitBlock(const ITag*) const {
    return false;
}

bool ProtocolBase::ReadBitBlock(const ITag*, uint8_t*, int) {
    return false;
}

void* ProtocolBase::GetInterface(const char*) {
    return nullptr;
}

bool ProtocolBase::NeedsReadBeforeWrite(const ITag*) const {
    return false;
}

bool ProtocolBase::CanWriteBitBlock(const ITag*) const {
    return false;
}

bool ProtocolBase::WriteBitBlock(const ITag*, const uint8_t*, int) {
    return false;
}

bool ProtocolBase::readObject(const ITag*, IObjectString*) {
    SetError(ErrorCode::Refused, "read object not supported");
    return false;
}

bool ProtocolBase::writeObject(const ITag*, const IObjectString*) {
    SetError(ErrorCode::Refused, "write object not supported");
    return false;
}

int ProtocolBase::vcsGetCapability() const {
    return 0;
}

int ProtocolBase::vcsGetComParams(char*, int) const {
    return 0;
}

int ProtocolBase::vcsActivateInterleaved(unsigned short) {
    return 0;
}

IEventChannel* ProtocolBase::createEventChannel(int) {
    SetError(ErrorCode::Refused, "protocol does not support event channel");
    return nullptr;
}

IEventChannel* ProtocolBase::createEventChannel(IEventProcessor*) {
    SetError(ErrorCode::Refused, "protocol does not support event channel");
    return nullptr;
}

void ProtocolBase::deleteEventChannel(IEventChannel*) {}

bool ProtocolBase::addEventSource(IEventChannel*, const char*) {
    SetError(ErrorCode::Refused, "protocol does not support event channel");
    return false;
}

bool ProtocolBase::addAlarmEvents(IEventChannel*, IAlarm*) {
    SetError(ErrorCode::Refused, "protocol does not support event channel");
    return false;
}

void* ProtocolBase::frontEvent(IEventChannel*) {
    return nullptr;
}

void ProtocolBase::popEvent(IEventChannel*) {}

IAlarm* ProtocolBase::createAlarm(const char*) {
    SetError(ErrorCode::Refused, "protocol does not support alarms");
    return nullptr;
}

void ProtocolBase::deleteAlarm(IAlarm*) {}

int ProtocolBase::listAlarms(IAlarmProcessor*) {
    return 0;
}

int ProtocolBase::quitAlarm(IAlarm*) {
    return 0;
}

ITrend* ProtocolBase::createTrend(const char*) {
    SetError(ErrorCode::Refused, "protocol does not support trends");
    return nullptr;
}

void ProtocolBase::deleteTrend(ITrend*) {}

int ProtocolBase::readTrend(ITrend*, uint64_t, uint64_t, uint64_t&, unsigned int, bool,
                            ITrendProcessor*) {
    return 0;
}
