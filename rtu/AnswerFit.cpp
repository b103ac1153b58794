#include <qarn/rtu/AnswerFit.h>

#include <qarn/rtu/Crc.h>
#include <qarn/rtu/Frame.h>
#include <qarn/rtu/FunctionCodes.h>

namespace rtu {

namespace {

// Node, function, byte count, CRC: what a read answer has besides its data.
constexpr size_t ReadAnswerOverhead = 5;

bool isRead(uint8_t function) {
    return function >= ReadCoils && function <= ReadInputRegisters;
}

}  // namespace

Expectation expect(const uint8_t* request, size_t requestSize) {
    Expectation e;
    // The bare CRC first (one CRC on the common path); a wrapped frame only when that fails.
    FrameView req{request, requestSize, false};
    if (requestSize < MinFrameLength || !crcOk(request, requestSize)) {
        req = unwrap(request, requestSize);
        if (!req.wrapped) {
            return e;
        }
    }
    e.valid = true;
    e.wrapped = req.wrapped;
    e.node = req.data[0];
    e.function = req.data[1];
    e.read = isRead(e.function);
    e.length = expectedAnswerLength(req.data, req.length);
    return e;
}

AnswerShape fitAnswer(const Expectation& e, const uint8_t* bytes, size_t count) {
    if (!e.valid) {
        return {AnswerFit::Unknown, 0};
    }
    const size_t wrap = e.wrapped ? 1 : 0;
    if (count == 0) {
        return {AnswerFit::Partial, 0};
    }
    if (e.wrapped && bytes[0] != IsmgStart) {
        return {AnswerFit::Foreign, 0};
    }
    if (count <= wrap) {
        return {AnswerFit::Partial, 0};
    }
    const uint8_t* ans = bytes + wrap;
    if (ans[0] != e.node) {
        return {AnswerFit::Foreign, 0};
    }
    if (count <= wrap + 1) {
        return {AnswerFit::Partial, 0};
    }
    size_t length = 0;
    if (ans[1] == (e.function | ExceptionFlag)) {
        length = ExceptionLength;
    } else if (ans[1] == e.function) {
        length = e.length;
        if (length == 0) {
            return {AnswerFit::Unknown, 0};
        }
        // A read answer says how many data bytes follow: it must be the number asked for.
        if (e.read && count > wrap + 2 && ans[2] != length - ReadAnswerOverhead) {
            return {AnswerFit::Unknown, 0};
        }
    } else {
        return {AnswerFit::Foreign, 0};
    }
    const size_t total = length + 2 * wrap;
    if (count < total) {
        return {AnswerFit::Partial, total};
    }
    const bool good = crcOk(ans, length) && (!e.wrapped || bytes[total - 1] == IsmgEnd);
    return {good ? AnswerFit::Complete : AnswerFit::Damaged, total};
}

AnswerShape fitAnswer(const uint8_t* request, size_t requestSize, const uint8_t* bytes,
                      size_t count) {
    return fitAnswer(expect(request, requestSize), bytes, count);
}

bool echoPassesAsAnswer(const uint8_t* request, size_t requestSize) {
    const AnswerShape shape = fitAnswer(request, requestSize, request, requestSize);
    return shape.fit == AnswerFit::Complete && shape.length == requestSize;
}

}  // namespace rtu
