#include <qarn/driver/Protocol_QARN.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include <qarn/driver/Tag_QARN.h>
#include <qarn/host/ErrorCodes.h>
#include <qarn/host/IPermanentStorage.h>
#include <qarn/host/ISerialFactory.h>
#include <qarn/host/ISerialPort.h>
#include <qarn/plugin/HostServices.h>
#include <qarn/plugin/Xml_QARN.h>
#include "PermanentStorage.h"
#include "ProtocolParts_QARN.h"

using namespace ProtocolParts_QARN;

IProtocol* CreateProtocol_QARN() {
    return new Protocol_QARN();
}

namespace {

// Size of the record that Extend code 0 fills: a 32-bit kind number, then four flag bytes.
constexpr int ExtendKindSize = 4;
constexpr int32_t ExtendKindWithFlag = 3;

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
        SetError(ErrorCode::Refused, paramManager.getLastError());
        return false;
    }
    const _QARN::CommonParams* common = paramManager.getCommonParams();
    portName = common->uart;
    baudRate = common->baudrate;
    dataBits = common->bits;
    stopBits = common->stopbits;
    if (!lookupCode(ParityCodes, common->parity, parityCode)) {
        SetError(ErrorCode::Refused, "Parser: parameter 'parity' has invalid value");
        return false;
    }
    if (!lookupCode(ModeCodes, common->mode, modeCode)) {
        SetError(ErrorCode::Refused, "Parser: parameter 'mode' has invalid value");
        return false;
    }
    if (baudRate == 0) {
        SetError(ErrorCode::Refused, "Parser: parameter 'baudrate' has invalid value");
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
        SetError(ErrorCode::Allocation, "Can't allocate Tag");
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
        SetError(ErrorCode::Refused, "Can't open serial port");
        return false;
    }
    port = serialFactory->OpenSerial(portName.c_str());
    if (port == nullptr) {
        SetError(ErrorCode::Refused, "Can't open serial port");
        return false;
    }
    if (port->Setup(baudRate, parityCode, dataBits, stopBits, modeCode) == 0) {
        closePort();
        SetError(ErrorCode::Refused, "Can't open serial port");
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
