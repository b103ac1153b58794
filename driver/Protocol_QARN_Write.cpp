// Writes: the raw image of a tag (read first where the tag covers items only in part), and the
// requests that carry it.

#include <qarn/driver/Protocol_QARN.h>

#include <algorithm>

#include <qarn/driver/ModbusFrame.h>
#include <qarn/driver/Tag_QARN.h>
#include <qarn/host/ErrorCodes.h>
#include <qarn/protlib/ProtUtilsN.h>
#include <qarn/protlib/WorkBuffer.h>
#include "ProtocolParts_QARN.h"

using namespace ModbusFrameN;
using namespace ProtocolParts_QARN;

bool Protocol_QARN::Write(const ITag* itag, const uint8_t* value) {
    if (!started) {
        SetError(ErrorCode::NotAvailable, "Protocol not started");
        return false;
    }
    const Tag_QARN* tag = ownTag(itag);
    // Input areas, and addresses whose area has no write function (coil numbers that fall into
    // the input-bit range), have no request that could write them.
    if (tag->getMemoryType()->isReadOnly() || (tag->getWriteCode() == 0 && !isPseudoArea(tag))) {
        SetError(ErrorCode::Refused, "writing to read_only type");
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
        SetError(ErrorCode::Allocation, BufferErrorText);
        return false;
    }
    WorkBuffer<LocalImageSize> work(static_cast<int>(size));
    if (!work.ok()) {
        SetError(ErrorCode::Allocation, BufferErrorText);
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
        SetError(ErrorCode::Conversion, "write conversion error");
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
        SetError(ErrorCode::Refused, "writing to read_only type");
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
            SetError(ErrorCode::Communication, error);
            return 0;
        }
        // A differing echo fails the write without a text of its own.
        return isEcho(request, length, answer, answerLength) ? 1 : 0;
    }
    if (const char* error = checkWriteAnswer(request, answer, answerLength)) {
        SetError(ErrorCode::Communication, error);
        return 0;
    }
    return 1;
}
