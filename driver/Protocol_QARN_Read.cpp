// Reads: a tag or a merged block into the raw image, and which tags may share a request.

#include <qarn/driver/Protocol_QARN.h>

#include <algorithm>
#include <cstring>

#include <qarn/driver/ModbusFrame.h>
#include <qarn/driver/Tag_QARN.h>
#include <qarn/host/ErrorCodes.h>
#include <qarn/protlib/ProtUtilsN.h>
#include <qarn/protlib/WorkBuffer.h>
#include "ProtocolParts_QARN.h"

using namespace ModbusFrameN;
using namespace ProtocolParts_QARN;

bool Protocol_QARN::ReadBlock(const ITag* itag, uint8_t* buffer, int len) {
    if (!started) {
        SetError(ErrorCode::NotAvailable, "Protocol not started");
        return false;
    }
    const Tag_QARN* tag = ownTag(itag);
    const bool bits = onBitArea(tag);
    long long count = 0;
    long long size = 0;
    long long skip = 0;
    if (bits) {
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
        SetError(ErrorCode::Allocation, BufferErrorText);
        return false;
    }
    // Whole registers from the first byte of the first one: the answer writes every byte asked
    // for, so it goes straight to the host's buffer (which a failure leaves untouched).
    if (!bits && skip == 0 && size == len && !isPseudoArea(tag)) {
        return doReadBlock(tag, buffer, static_cast<int>(count)) != 0;
    }
    // The node areas answer one byte, whatever the length.
    WorkBuffer<LocalImageSize> work(static_cast<int>(std::max(size, 1LL)));
    if (!work.ok()) {
        SetError(ErrorCode::Allocation, BufferErrorText);
        return false;
    }
    if (doReadBlock(tag, work.data(), static_cast<int>(count)) == 0) {
        return false;
    }
    const long long available = std::max(0LL, std::min<long long>(len, size - skip));
    std::memcpy(buffer, work.data() + skip, static_cast<size_t>(available));
    if (available < len) {
        std::memset(buffer + available, 0, static_cast<size_t>(len - available));
    }
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
        SetError(ErrorCode::Communication, error);
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
