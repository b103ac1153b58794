// One Modbus RTU transaction: delay, node checks, drain, send, receive, framing and CRC, repeats.

#include <qarn/driver/Protocol_QARN.h>

#include <algorithm>

#include <qarn/driver/ModbusFrame.h>
#include <qarn/driver/Tag_QARN.h>
#include <qarn/host/ErrorCodes.h>
#include <qarn/host/IMultiTask2.h>
#include <qarn/host/ISerialPort.h>
#include <qarn/plugin/HostServices.h>
#include "ProtocolParts_QARN.h"

using namespace ModbusFrameN;
using namespace ProtocolParts_QARN;

namespace {

// Drain is called until it reports nothing pending; a line that never falls silent must not hold
// the host's thread forever.
constexpr int MaxDrainRounds = 1024;

}  // namespace

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
        SetError(ErrorCode::NodeUnreachable, "Node disabled");
        return false;
    }
    if (node == 0 && !write) {
        SetError(ErrorCode::NodeUnreachable, "Broadcast request");
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
        SetError(ErrorCode::Communication, "Communication error");
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
    SetError(ErrorCode::Communication, "Communication error");
    return false;
}
