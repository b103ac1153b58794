#include <qarn/driver/Protocol_QARN.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include <qarn/driver/ModbusFrame.h>
#include <qarn/driver/Tag_QARN.h>
#include <qarn/host/IMultiTask2.h>
#include <qarn/host/IPermanentStorage.h>
#include <qarn/host/ISerialFactory.h>
#include <qarn/host/ISerialPort.h>
#include <qarn/plugin/HostServices.h>
#include <qarn/plugin/ProtFactory.h>
#include <qarn/plugin/Xml_QARN.h>
#include <qarn/protlib/ProtUtilsN.h>
#include <qarn/protlib/WorkBuffer.h>
#include "PermanentStorage.h"

using namespace ModbusFrameN;

IProtocol* CreateProtocol_QARN() {
    return new Protocol_QARN();
}

namespace {

// Raw images up to this size live on the stack.
constexpr int LocalImageSize = 128;
// The largest raw image a tag can have: a whole register area. Larger sizes come only from
// nonsensical element counts and are refused rather than allocated.
constexpr long long MaxImageSize = 2LL * 65536;
// Drain is called until it reports nothing pending; a line that never falls silent must not hold
// the host's thread forever.
constexpr int MaxDrainRounds = 1024;
// Size of the record that Extend code 0 fills: a 32-bit kind number, then four flag bytes.
constexpr int ExtendKindSize = 4;
constexpr int32_t ExtendKindWithFlag = 3;

const char BufferErrorText[] = "Can't allocate buffer";

constexpr char DriverHelp[] =
    "setid n m - set the node id n to m\ngetid - get all changed node id's\n";

struct NamedCode {
    const char* name;
    int code;
};
const NamedCode ParityCodes[] = {{"none", 0}, {"even", 1}, {"odd", 2}, {"mark", 3}};
const NamedCode ModeCodes[] = {{"RS-232", 0}, {"RS-485", 1}, {"RS-422", 2}};

template <size_t N>
bool lookupCode(const NamedCode (&codes)[N], const std::string& name, int& code) {
    for (const NamedCode& entry : codes) {
        if (name == entry.name) {
            code = entry.code;
            return true;
        }
    }
    return false;
}

const Tag_QARN* ownTag(const ITag* tag) {
    return static_cast<const Tag_QARN*>(tag);
}

int itemLength(const Tag_QARN* tag) {
    return ProtUtilsN::GetDataLength(tag->getMemoryType()->getNaturalType());
}

bool onBitArea(const Tag_QARN* tag) {
    return ProtUtilsN::IsBitType(tag->getMemoryType()->getNaturalType());
}

bool usesIsmgFraming(const Tag_QARN* tag) {
    const std::string& model = tag->getModel()->getName();
    return model == "ISMG1xx" || model == "ISMG3xx";
}

bool isPseudoArea(const Tag_QARN* tag) {
    return tag->getMemoryType()->isNamed("NO") || tag->getMemoryType()->isNamed("SL");
}

// Copies as much of `text` as fits, always NUL-terminated; nothing when there is no room.
void copyTruncated(char* out, int room, const char* text) {
    if (out == nullptr || room <= 0) {
        return;
    }
    const size_t length = std::min(std::strlen(text), static_cast<size_t>(room - 1));
    std::memcpy(out, text, length);
    out[length] = '\0';
}

}  // namespace

// ---- construction ----------------------------------------------------------------------------

Protocol_QARN::Protocol_QARN() : serialFactory(piSerialFactory) {
    memoryManager.addBuiltInModels();
}

Protocol_QARN::~Protocol_QARN() {
    closePort();
}

void Protocol_QARN::closePort() {
    if (port != nullptr) {
        if (serialFactory != nullptr) {
            serialFactory->CloseSerial(port);
        }
        port = nullptr;
    }
}

void* Protocol_QARN::ConvertTo(const char* name) {
    static const char* const names[] = {"Protocol_QARN", "ProtocolBase", "IProtocol7",
                                        "IProtocol6",    "IProtocol5",   "IProtocol4",
                                        "IProtocol3",    "IProtocol2",   "IProtocol"};
    for (const char* known : names) {
        if (CompareInterface(name, known)) {
            return this;
        }
    }
    return nullptr;
}

const char* Protocol_QARN::GetXml() const {
    return GetXml_QARN();
}

int Protocol_QARN::GetNodeID(const ITag* tag) const {
    return tag != nullptr ? ownTag(tag)->getNodeId() : 0;
}

int Protocol_QARN::GetMaxTm(const ITag* tag) const {
    if (tag == nullptr) {
        return paramManager.getMaxTm();
    }
    return _QARN::transactionTime(*ownTag(tag)->getNodeParams());
}

int Protocol_QARN::Extend(int code, void* data) {
    if (code == 0) {
        if (data == nullptr) {
            return 0;
        }
        uint8_t* record = static_cast<uint8_t*>(data);
        int32_t kind = 0;
        std::memcpy(&kind, record, sizeof(kind));
        uint8_t* flags = record + ExtendKindSize;
        std::memset(flags, 0, 4);
        flags[0] = kind == ExtendKindWithFlag ? 1 : 0;
        return 1;
    }
    if (code == 3) {
        const ITag* tag = static_cast<const ITag*>(data);
        return tag != nullptr && ownTag(tag)->isNodeOverrideTag() ? 1 : 0;
    }
    return ProtocolBase::Extend(code, data);
}

// ---- configuration and tags ------------------------------------------------------------------

bool Protocol_QARN::Config(const char* text) {
    if (!paramManager.parse(text)) {
        SetError(-1, paramManager.getLastError());
        return false;
    }
    const _QARN::CommonParams* common = paramManager.getCommonParams();
    portName = common->uart;
    baudRate = common->baudrate;
    dataBits = common->bits;
    stopBits = common->stopbits;
    if (!lookupCode(ParityCodes, common->parity, parityCode)) {
        SetError(-1, "Parser: parameter 'parity' has invalid value");
        return false;
    }
    if (!lookupCode(ModeCodes, common->mode, modeCode)) {
        SetError(-1, "Parser: parameter 'mode' has invalid value");
        return false;
    }
    if (baudRate == 0) {
        SetError(-1, "Parser: parameter 'baudrate' has invalid value");
        return false;
    }
    // 33 bit times in ms, never below 10 ms.
    interCharTime = 33000 / baudRate;
    if (interCharTime <= 9) {
        interCharTime = 10;
    }
    return true;
}

TagBase* Protocol_QARN::CreateTagBase(const char* address) {
    Tag_QARN* tag = new (std::nothrow) Tag_QARN(address, this);
    if (tag == nullptr) {
        SetError(0, "Can't allocate Tag");
        return nullptr;
    }
    if (!tag->IsValid()) {
        SetTagError(tag);
        delete tag;
        return nullptr;
    }
    return tag;
}

// ---- lifecycle and overrides -----------------------------------------------------------------

bool Protocol_QARN::Start() {
    if (started) {
        return true;
    }
    if (piPermanentStorage != nullptr) {
        const char* section = GetIdent();
        const std::string prefix = replacer.getPrefix();
        const int count = piPermanentStorage->GetValueCount(section);
        for (int i = 0; i < count; ++i) {
            const std::string name = PermanentStorage::getName(section, i);
            if (name.compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            const int configured = replacer.fromString(name.substr(prefix.size()));
            const int actual =
                replacer.fromString(PermanentStorage::getString(section, name.c_str()));
            replacer.set(configured, actual);
        }
    }
    if (serialFactory == nullptr) {
        SetError(-1, "Can't open serial port");
        return false;
    }
    port = serialFactory->OpenSerial(portName.c_str());
    if (port == nullptr) {
        SetError(-1, "Can't open serial port");
        return false;
    }
    if (port->Setup(baudRate, parityCode, dataBits, stopBits, modeCode) == 0) {
        closePort();
        SetError(-1, "Can't open serial port");
        return false;
    }
    started = true;
    return true;
}

bool Protocol_QARN::Stop() {
    if (started) {
        closePort();
        started = false;
    }
    return true;
}

void Protocol_QARN::setOverride(int configured, int actual) {
    replacer.set(configured, actual);
    if (piPermanentStorage == nullptr) {
        return;
    }
    // Keys and values are formatted on the stack: a write to "NO" allocates nothing here.
    char key[48];
    std::snprintf(key, sizeof(key), "%s%d", replacer.getPrefix().c_str(), configured);
    if (actual == configured) {
        piPermanentStorage->RemoveValue(GetIdent(), key);
    } else {
        char value[16];
        std::snprintf(value, sizeof(value), "%d", actual);
        piPermanentStorage->SetValue(GetIdent(), key, value);
    }
}

int Protocol_QARN::DoCommand(const char* command, char* reply, int size) {
    std::vector<std::string> words;
    ProtUtilsN::ParseSubstrings(command != nullptr ? command : "", words, ' ');
    const std::string verb = words.empty() ? std::string() : words.front();

    if (verb == "help") {
        char* out = reply;
        int room = size;
        if (ProtocolBase::DoCommand(command, reply, size) != 0 && reply != nullptr && size > 0) {
            // The base text may fill the buffer without a terminating NUL.
            const void* end = std::memchr(reply, '\0', static_cast<size_t>(size));
            const int used =
                end != nullptr ? static_cast<int>(static_cast<const char*>(end) - reply) : size;
            out += used;
            room -= used;
        }
        copyTruncated(out, room, DriverHelp);
        return 1;
    }
    if (verb == "setid") {
        if (words.size() != 3) {
            copyTruncated(reply, size, "invalid format\n");
            return 1;
        }
        const int configured = _QARN::toInt(words[1].c_str());
        int actual = _QARN::toInt(words[2].c_str());
        if (actual == 0) {
            actual = configured;
        }
        setOverride(configured, actual);
        char line[64];
        std::snprintf(line, sizeof(line), "id %d set to %d\n", configured, actual);
        copyTruncated(reply, size, line);
        return 1;
    }
    if (verb == "getid") {
        copyTruncated(reply, size, "no node configurated\n");
        int used = 0;
        for (const AddressReplacerID::Pair& pair : replacer.getPairs()) {
            char line[64];
            const int length =
                std::snprintf(line, sizeof(line), "id %d -> %d\n", pair.first, pair.second);
            if (reply == nullptr || length < 0 || used + length + 1 > size) {
                break;
            }
            std::memcpy(reply + used, line, static_cast<size_t>(length) + 1);
            used += length;
        }
        return 1;
    }
    return ProtocolBase::DoCommand(command, reply, size);
}

// ---- transaction -----------------------------------------------------------------------------

uint8_t Protocol_QARN::effectiveNode(const Tag_QARN* tag) const {
    return static_cast<uint8_t>(replacer.lookup(tag->getNodeId()) & 0xFF);
}

bool Protocol_QARN::prepareTransaction(const Tag_QARN* tag, bool write, uint8_t& node) {
    const int delay = tag->getNodeParams()->delay;
    if (delay != 0 && piMultiTask != nullptr) {
        piMultiTask->Sleep(delay);
    }
    node = effectiveNode(tag);
    if (node == 255) {
        SetError(-10, "Node disabled");
        return false;
    }
    if (node == 0 && !write) {
        SetError(-10, "Broadcast request");
        return false;
    }
    return true;
}

bool Protocol_QARN::doTransaction(const Tag_QARN* tag, const uint8_t* request, int length,
                                  bool broadcast, uint8_t* answer, int& answerLength) {
    const _QARN::NodeParams* params = tag->getNodeParams();
    const bool ismg = usesIsmgFraming(tag);
    uint8_t wrapped[WrappedBufferSize];
    const uint8_t* frame = request;
    int frameLength = length;
    if (ismg) {
        frameLength = wrapIsmg(request, length, wrapped, WrappedBufferSize);
        frame = wrapped;
    }
    if (params->repeat < 0 || port == nullptr) {
        SetError(-6, "Communication error");
        return false;
    }
    for (long long attempt = 0; attempt <= params->repeat; ++attempt) {
        for (int round = 0; round < MaxDrainRounds && port->Drain(answer, 0, 0) != 0; ++round) {
        }
        port->Send(frame, frameLength, 0);
        if (broadcast) {
            answerLength = 0;
            return true;
        }
        int received = 0;
        if (port->Receive(answer, ResponseBufferSize, params->timeout, interCharTime, &received,
                          0) == 0) {
            continue;
        }
        received = std::min(received, ResponseBufferSize);
        if (ismg) {
            received = unwrapIsmg(answer, received);
            if (received < 0) {
                continue;
            }
        } else if (received <= 4) {
            continue;
        }
        if (!crcOk(answer, received)) {
            continue;
        }
        answerLength = received;
        return true;
    }
    SetError(-6, "Communication error");
    return false;
}

// ---- reading ---------------------------------------------------------------------------------

bool Protocol_QARN::ReadBlock(const ITag* itag, uint8_t* buffer, int len) {
    if (!started) {
        SetError(-3, "Protocol not started");
        return false;
    }
    const Tag_QARN* tag = ownTag(itag);
    long long count = 0;
    long long size = 0;
    long long skip = 0;
    if (onBitArea(tag)) {
        // The tag alone says how many bits are read, whatever the length asked for.
        count = tag->GetVarLength();
        size = ProtUtilsN::GetLenOfBits(tag->GetBitIndex(), tag->GetVarLength());
    } else {
        const int L = itemLength(tag);
        skip = tag->GetByteOffset() - static_cast<long long>(tag->getOffset()) * L;
        count = (skip + len + L - 1) / L;
        size = count * L;
    }
    if (len < 0 || count < 0 || size > MaxImageSize || buffer == nullptr) {
        SetError(0, BufferErrorText);
        return false;
    }
    // The node areas answer one byte, whatever the length.
    WorkBuffer<LocalImageSize> work(static_cast<int>(std::max(size, 1LL)));
    if (!work.ok()) {
        SetError(0, BufferErrorText);
        return false;
    }
    if (doReadBlock(tag, work.data(), static_cast<int>(count)) == 0) {
        return false;
    }
    const long long available = std::max(0LL, std::min<long long>(len, size - skip));
    std::memcpy(buffer, work.data() + skip, static_cast<size_t>(available));
    std::memset(buffer + available, 0, static_cast<size_t>(len - available));
    return true;
}

int Protocol_QARN::doReadBlock(const Tag_QARN* tag, uint8_t* work, int count) {
    if (isPseudoArea(tag)) {
        work[0] = effectiveNode(tag);
        return 1;
    }
    uint8_t node = 0;
    if (!prepareTransaction(tag, false, node)) {
        return 0;
    }
    uint8_t request[RequestBufferSize];
    const int length = buildRead(request, node, tag->getReadCode(),
                                 static_cast<uint16_t>(tag->getOffset() & 0xFFFF),
                                 static_cast<uint16_t>(count & 0xFFFF));
    uint8_t answer[ResponseBufferSize];
    int answerLength = 0;
    if (!doTransaction(tag, request, length, false, answer, answerLength)) {
        return 0;
    }
    const bool bits = onBitArea(tag);
    if (const char* error = checkReadAnswer(request, answer, answerLength, bits, count)) {
        SetError(-6, error);
        return 0;
    }
    // Answer data starts at byte 3. Bits: item i in bit i % 8 of byte i / 8, stored from the
    // first item's bit position on. Registers: high byte first on the line, low byte first here.
    const uint8_t* data = answer + 3;
    if (bits) {
        const int first = tag->getOffset() % 8;
        for (int i = 0; i < count; ++i) {
            const int p = first + i;
            const uint8_t mask = static_cast<uint8_t>(1u << (p % 8));
            if ((data[i / 8] >> (i % 8)) & 1u) {
                work[p / 8] = static_cast<uint8_t>(work[p / 8] | mask);
            } else {
                work[p / 8] = static_cast<uint8_t>(work[p / 8] & ~mask);
            }
        }
    } else {
        for (int i = 0; i < count; ++i) {
            work[2 * i] = data[2 * i + 1];
            work[2 * i + 1] = data[2 * i];
        }
    }
    return 1;
}

bool Protocol_QARN::CanBeOptimized(const ITag* firstTag, const ITag* secondTag, bool flag) const {
    if (flag || firstTag == nullptr || secondTag == nullptr) {
        return false;
    }
    const Tag_QARN* first = ownTag(firstTag);
    const Tag_QARN* second = ownTag(secondTag);
    if (first->getNodeId() != second->getNodeId() ||
        first->getReadCode() != second->getReadCode() || first->getOffset() > second->getOffset()) {
        return false;
    }
    const int L = itemLength(first);
    if (L <= 0) {
        return false;
    }
    long long span = 0;
    if (onBitArea(first)) {
        span = static_cast<long long>(second->getOffset()) + second->GetVarLength() -
               first->getOffset();
    } else {
        long long e = second->getSubIndex();
        if (ProtUtilsN::GetBasicType(second) == ICU_BOOLEAN) {
            e /= 8;
        }
        const long long end = e * ProtUtilsN::GetBasicLength(second) + second->PackedLen();
        span = (end + L - 1) / L + second->getOffset() - first->getOffset();
    }
    if (first->getNodeParams()->maxOptLen / L < span) {
        return false;
    }
    return span <= first->getMemoryType()->getBlockReadCount();
}

// ---- writing ---------------------------------------------------------------------------------

bool Protocol_QARN::Write(const ITag* itag, const uint8_t* value) {
    if (!started) {
        SetError(-3, "Protocol not started");
        return false;
    }
    const Tag_QARN* tag = ownTag(itag);
    // Input areas, and addresses whose area has no write function (coil numbers that fall into
    // the input-bit range), have no request that could write them.
    if (tag->getMemoryType()->isReadOnly() || (tag->getWriteCode() == 0 && !isPseudoArea(tag))) {
        SetError(-1, "writing to read_only type");
        return false;
    }
    const int packed = tag->PackedLen();
    long long count = 0;
    long long skip = 0;
    long long covered = 0;
    if (onBitArea(tag)) {
        count = tag->GetVarLength();
        covered = ProtUtilsN::GetLenOfBits(tag->GetBitIndex(), tag->GetVarLength());
    } else {
        const int L = itemLength(tag);
        skip = tag->GetByteOffset() - static_cast<long long>(tag->getOffset()) * L;
        count = (skip + packed + L - 1) / L;
        covered = count * L;
    }
    const long long size = std::max(packed + 8LL, covered);
    if (packed < 0 || count < 0 || size > MaxImageSize) {
        SetError(0, BufferErrorText);
        return false;
    }
    WorkBuffer<LocalImageSize> work(static_cast<int>(size));
    if (!work.ok()) {
        SetError(0, BufferErrorText);
        return false;
    }
    // Items the tag covers only in part are read first, so that their other bytes stay as
    // they are.
    if (skip != 0 || covered != packed) {
        if (doReadBlock(tag, work.data(), static_cast<int>(count)) == 0) {
            return false;
        }
    }
    if (value == nullptr || !tag->ConvertVariable(value, work.data() + skip, true)) {
        SetError(-9, "write conversion error");
        return false;
    }
    return doWrite(tag, work.data(), static_cast<int>(count)) != 0;
}

int Protocol_QARN::doWrite(const Tag_QARN* tag, const uint8_t* image, int count) {
    if (tag->isNodeOverrideTag()) {
        setOverride(tag->getNodeId(), image[0]);
        return 1;
    }
    switch (tag->getWriteCode()) {
        case WriteSingleRegister:
            for (int i = 0; i < count; ++i) {
                if (writeItems(tag, i, image + 2 * i, 1) == 0) {
                    return 0;
                }
            }
            return 1;
        case WriteSingleCoil:
            for (int i = 0; i < count; ++i) {
                const int p = tag->getOffset() % 8 + i;
                const uint8_t state = static_cast<uint8_t>((image[p / 8] >> (p % 8)) & 1u);
                if (writeItems(tag, i, &state, 1) == 0) {
                    return 0;
                }
            }
            return 1;
        case WriteMultipleRegisters: {
            // Longer tags go out as consecutive requests that each fit one frame.
            int index = 0;
            do {
                const int chunk = std::min(count - index, MaxWriteRegisters);
                if (writeItems(tag, index, image + 2 * index, chunk) == 0) {
                    return 0;
                }
                index += chunk;
            } while (index < count);
            return 1;
        }
        default:
            return writeItems(tag, 0, image, count);
    }
}

int Protocol_QARN::writeItems(const Tag_QARN* tag, int index, const uint8_t* data, int count) {
    uint8_t node = 0;
    if (!prepareTransaction(tag, true, node)) {
        return 0;
    }
    const bool slaveAddress = usesIsmgFraming(tag) && tag->getMemoryType()->isNamed("SL");
    const uint16_t address =
        static_cast<uint16_t>((static_cast<long long>(tag->getOffset()) + index) & 0xFFFF);
    uint8_t request[RequestBufferSize];
    int length = 0;
    if (slaveAddress) {
        length = buildSlaveAddress(request, node, data[0]);
    } else if (tag->getWriteCode() == WriteMultipleRegisters) {
        length = buildWriteRegisters(request, node, address, data, count);
    } else if (tag->getWriteCode() == WriteSingleRegister) {
        length = buildWriteRegister(request, node, address,
                                    static_cast<uint16_t>((data[1] << 8) | data[0]));
    } else if (tag->getWriteCode() == WriteSingleCoil) {
        length = buildWriteCoil(request, node, address, data[0] != 0);
    }
    if (length == 0) {
        SetError(-1, "writing to read_only type");
        return 0;
    }
    uint8_t answer[ResponseBufferSize];
    int answerLength = 0;
    if (!doTransaction(tag, request, length, node == 0, answer, answerLength)) {
        return 0;
    }
    if (node == 0) {
        return 1;
    }
    if (slaveAddress) {
        if (const char* error = checkHeader(request, answer, answerLength)) {
            SetError(-6, error);
            return 0;
        }
        // A differing echo fails the write without a text of its own.
        return isEcho(request, length, answer, answerLength) ? 1 : 0;
    }
    if (const char* error = checkWriteAnswer(request, answer, answerLength)) {
        SetError(-6, error);
        return 0;
    }
    return 1;
}
