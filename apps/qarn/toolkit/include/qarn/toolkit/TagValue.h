#pragma once
// One tag through the plug-in, as the host does it: CreateTag, Read or Write, FreeTag.

#include <string>

#include <qarn/toolkit/ValueCodec.h>

class IProtocol;
class ITag;

namespace qarn {

class Session;

// A tag created through the protocol and freed with it.
class TagHandle {
  public:
    // Throws Failure with the plug-in's reason when the address gives no tag.
    TagHandle(Session& session, IProtocol& protocol, const std::string& address);
    ~TagHandle();
    TagHandle(const TagHandle&) = delete;
    TagHandle& operator=(const TagHandle&) = delete;

    const ITag& tag() const { return *tag_; }
    ValueType type() const;

  private:
    IProtocol& protocol_;
    ITag* tag_;
};

struct TagReading {
    std::string tag;
    bool ok = false;
    std::string type;      // data-type string
    DecodedValue value{};  // when ok
    int code = 0;          // when not ok: the plug-in's error code
    std::string text;      // and its text, with the port's own reason when there is one

    std::string message() const { return "error " + std::to_string(code) + ": " + text; }
};

// The plug-in's reason for refusing a tag, with a pointer to `qarn types` when the reason is a
// data type it does not know: the type string's rules (the count before the conversions) are
// easy to get wrong, and the plug-in can't say which rule was broken.
std::string withTypesHint(const std::string& reason);

// Reads one tag; a failure is part of the result, not an exception.
TagReading readTag(Session& session, IProtocol& protocol, const std::string& address);

}  // namespace qarn
