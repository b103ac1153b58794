#pragma once
// What the source files of Protocol_QARN share: how a tag's memory area is laid out and framed,
// and the limits of the per-call scratch buffers.

#include <cstddef>
#include <cstring>
#include <string>

#include <qarn/driver/MemoryType.h>
#include <qarn/driver/Model.h>
#include <qarn/driver/Tag_QARN.h>
#include <qarn/host/ITag.h>
#include <qarn/protlib/ProtUtilsN.h>

namespace ProtocolParts_QARN {

// Raw images up to this size live on the stack.
constexpr int LocalImageSize = 128;
// The largest raw image a tag can have: a whole register area. Larger sizes come only from
// nonsensical element counts and are refused rather than allocated.
constexpr long long MaxImageSize = 2LL * 65536;

constexpr char BufferErrorText[] = "Can't allocate buffer";

// Every tag the host hands back was made by this protocol.
inline const Tag_QARN* ownTag(const ITag* tag) {
    return static_cast<const Tag_QARN*>(tag);
}

// Bytes of one item of the tag's area: 2 for registers, 1 for bits and the node areas.
inline int itemLength(const Tag_QARN* tag) {
    return ProtUtilsN::GetDataLength(tag->getMemoryType()->getNaturalType());
}

inline bool onBitArea(const Tag_QARN* tag) {
    return ProtUtilsN::IsBitType(tag->getMemoryType()->getNaturalType());
}

// Exact comparison with a literal whose length is known: no library call on the read path.
template <size_t N>
bool isText(const std::string& text, const char (&literal)[N]) {
    return text.size() == N - 1 && std::memcmp(text.data(), literal, N - 1) == 0;
}

inline bool usesIsmgFraming(const Tag_QARN* tag) {
    const std::string& model = tag->getModel()->getName();
    return isText(model, "ISMG1xx") || isText(model, "ISMG3xx");
}

// The node override and slave address areas are answered and written without a read request.
inline bool isPseudoArea(const Tag_QARN* tag) {
    return tag->isNodeOverrideTag() || tag->getMemoryType()->isNamed("SL");
}

}  // namespace ProtocolParts_QARN
