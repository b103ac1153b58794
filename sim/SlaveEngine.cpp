#include <qarn/sim/SlaveEngine.h>

#include <stdexcept>
#include <string>

#include <qarn/rtu/Crc.h>
#include <qarn/rtu/Frame.h>
#include <qarn/rtu/FunctionCodes.h>
#include <qarn/sim/SlaveFrames.h>

namespace sim {

namespace {
constexpr uint64_t FaultSeedSalt = 0x6661756C74ULL;
}

SlaveEngine::SlaveEngine(uint64_t seed)
    : seed_(seed), faults_(FaultConfig{}, seed ^ FaultSeedSalt) {}

Device& SlaveEngine::addDevice(uint8_t node, const Profile& profile) {
    if (node == rtu::BroadcastNode || node > rtu::MaxNode) {
        throw std::invalid_argument("node " + std::to_string(node) + " is not a slave address " +
                                    "(1.." + std::to_string(rtu::MaxNode) + ")");
    }
    if (devices_.count(node) != 0) {
        throw std::invalid_argument("node " + std::to_string(node) + " is used twice");
    }
    auto& slot = devices_[node];
    slot = std::make_unique<Device>(profile, mix64(seed_ ^ node));
    return *slot;
}

Device* SlaveEngine::device(uint8_t node) {
    const auto it = devices_.find(node);
    return it == devices_.end() ? nullptr : it->second.get();
}

void SlaveEngine::setFaults(const FaultConfig& config) {
    faults_ = FaultInjector(config, seed_ ^ FaultSeedSalt);
}

std::optional<Reply> SlaveEngine::process(const uint8_t* frame, size_t length, uint64_t timeMs) {
    ++stats_.frames;
    const rtu::FrameView view = rtu::unwrap(frame, length);
    if (view.length < rtu::MinFrameLength || !rtu::crcOk(view.data, view.length)) {
        ++stats_.ignored;
        return std::nullopt;
    }
    const bool wrapped = view.wrapped;
    frame = view.data;
    length = view.length;

    const uint8_t node = frame[0];
    if (node == rtu::BroadcastNode) {
        ++stats_.broadcasts;
        broadcast(frame, length, wrapped);
        return std::nullopt;
    }
    Device* dev = device(node);
    if (dev == nullptr || dev->ismgFraming() != wrapped) {
        ++stats_.ignored;
        return std::nullopt;
    }

    const bool covered = faults_.config().covers(node);
    const FaultSet faults = covered ? faults_.next() : FaultSet{};
    if (faults.has(Fault::Drop)) {
        ++stats_.faults[static_cast<size_t>(Fault::Drop)];
        return std::nullopt;
    }
    for (size_t i = 0; i < FaultCount; ++i) {
        stats_.faults[i] += faults.has(static_cast<Fault>(i)) ? 1 : 0;
    }

    Reply reply;
    if (faults.has(Fault::Exception)) {
        reply.bytes = exceptionAnswer(node, frame[1], faults_.config().exceptionCode);
    } else if (dev->ismgFraming() && frame[1] == rtu::Diagnostics) {
        reply.bytes = changeAddress(node, frame, length);
    } else {
        dev->update(timeMs);
        reply.bytes = dev->serve(frame, length);
    }
    ++stats_.answers;
    if (reply.bytes.size() == rtu::ExceptionLength && (reply.bytes[1] & rtu::ExceptionFlag)) {
        ++stats_.exceptions;
    }

    if (faults.has(Fault::WrongNode)) {
        reply.bytes[0] = static_cast<uint8_t>(node % rtu::MaxNode + 1);
        reply.bytes.resize(reply.bytes.size() - 2);
        rtu::appendCrc(reply.bytes);
    }
    if (faults.has(Fault::BadCrc)) {
        reply.bytes.back() ^= 0xFF;
    }
    if (covered) {
        reply.delayMs = faults_.answerDelayMs(faults.has(Fault::Delay));
    }
    if (wrapped) {
        reply.bytes = rtu::wrapIsmg(reply.bytes);
    }
    return reply;
}

// The slave-address frame is answered by its echo from the old address; the device then
// listens at the new one. A new address outside 1..247 or held by another simulated device is
// refused with exception 3, since two devices on one address would make the line ambiguous.
std::vector<uint8_t> SlaveEngine::changeAddress(uint8_t node, const uint8_t* frame, size_t length) {
    if (!rtu::isSlaveAddressFrame(frame, length)) {
        return exceptionAnswer(node, frame[1], rtu::IllegalFunction);
    }
    const uint8_t target = frame[8];
    if (target == rtu::BroadcastNode || target > rtu::MaxNode ||
        (target != node && devices_.count(target) != 0)) {
        return exceptionAnswer(node, frame[1], rtu::IllegalDataValue);
    }
    auto moved = std::move(devices_[node]);
    devices_.erase(node);
    devices_[target] = std::move(moved);
    return {frame, frame + length};
}

// Writes go to every device of the frame's framing. A broadcast slave-address frame is obeyed
// only when a single ISMG device is on the line: the way to address a device whose address is
// unknown, without giving several devices the same one.
void SlaveEngine::broadcast(const uint8_t* frame, size_t length, bool wrapped) {
    if (wrapped && rtu::isSlaveAddressFrame(frame, length)) {
        std::vector<uint8_t> ismgNodes;
        for (const auto& [node, dev] : devices_) {
            if (dev->ismgFraming()) {
                ismgNodes.push_back(node);
            }
        }
        if (ismgNodes.size() == 1) {
            changeAddress(ismgNodes[0], frame, length);
        }
        return;
    }
    for (const auto& entry : devices_) {
        if (entry.second->ismgFraming() == wrapped) {
            entry.second->serve(frame, length);
        }
    }
}

}  // namespace sim
