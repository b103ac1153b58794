#include <qarn/toolkit/TagValue.h>

#include <vector>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/Session.h>

namespace qarn {

TagHandle::TagHandle(Session& session, IProtocol& protocol, const std::string& address)
    : protocol_(protocol), tag_(nullptr) {
    session.clearPortError();
    tag_ = protocol.CreateTag(address.c_str());
    if (tag_ == nullptr) {
        throw Failure(session.protocolError());
    }
}

TagHandle::~TagHandle() {
    protocol_.FreeTag(tag_);
}

ValueType TagHandle::type() const {
    return ValueType{tag_->GetVarType(), tag_->GetVarLength(), tag_->GetItemType()};
}

std::string withTypesHint(const std::string& reason) {
    if (reason.find("data type unknown") == std::string::npos) {
        return reason;
    }
    return reason +
           " ('qarn types' lists the data types and conversions, e.g. float(swap2,swap4) or "
           "string-8(swap2))";
}

TagReading readTag(Session& session, IProtocol& protocol, const std::string& address) {
    TagReading r;
    r.tag = address;
    try {
        TagHandle handle(session, protocol, address);
        const ValueType type = handle.type();
        r.type = typeName(type);
        std::vector<uint8_t> value(hostValueSize(type) + 1, 0);
        session.clearPortError();
        if (protocol.Read(&handle.tag(), value.data())) {
            r.ok = true;
            r.value = decodeValue(type, value.data(), hostValueSize(type));
            return r;
        }
    } catch (const Failure&) {
        // The tag was refused: the protocol's last error says why.
    }
    r.code = session.lastErrorCode();
    r.text = session.lastErrorText();
    return r;
}

}  // namespace qarn
