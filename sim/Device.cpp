#include <qarn/sim/Device.h>

#include <cmath>
#include <cstring>

#include <qarn/rtu/Crc.h>
#include <qarn/rtu/Frame.h>
#include <qarn/rtu/FunctionCodes.h>
#include <qarn/sim/Random.h>
#include <qarn/sim/SlaveFrames.h>

namespace sim {

namespace {

constexpr double TwoPi = 6.283185307179586;

// Packs a number into one or two registers; integers wrap around like counters do.
void encode(ValueType type, bool lowWordFirst, double value, uint16_t words[2]) {
    uint32_t raw = 0;
    if (type == ValueType::Float32) {
        const float f = static_cast<float>(value);
        std::memcpy(&raw, &f, sizeof raw);
    } else {
        const long long n = std::llround(std::fmod(value, 4294967296.0));
        raw = static_cast<uint32_t>(n);
    }
    if (widthOf(type) == 1) {
        words[0] = static_cast<uint16_t>(raw);
        return;
    }
    const auto hi = static_cast<uint16_t>(raw >> 16);
    const auto lo = static_cast<uint16_t>(raw);
    words[0] = lowWordFirst ? lo : hi;
    words[1] = lowWordFirst ? hi : lo;
}

}  // namespace

Device::Device(const Profile& profile, uint64_t seed)
    : name_(profile.name), ismg_(profile.ismgFraming) {
    for (const ProfileEntry& e : profile.entries) {
        addEntry(e, seed);
    }
    update(0);
}

void Device::addEntry(const ProfileEntry& e, uint64_t seed) {
    stopLive(e.area, e.first, e.count);
    const uint32_t width = widthOf(e.type);
    if (e.indexValue) {
        for (uint32_t i = e.first; i < e.first + e.count; ++i) {
            map_.define(e.area, i, 1, static_cast<uint16_t>(e.type == ValueType::Bit ? i & 1 : i),
                        e.writable);
        }
        return;
    }
    map_.define(e.area, e.first, e.count, 0, e.writable);
    for (uint32_t item = e.first; item < e.first + e.count; item += width) {
        if (!e.live()) {
            store(e.area, item, e.type, e.lowWordFirst, e.value);
            continue;
        }
        // Keyed by the item number and not the area, so that a meter's holding and input
        // registers that mirror each other show the same value.
        const uint64_t key = mix64(seed ^ mix64(item));
        live_.push_back(LiveCell{e.area, static_cast<uint16_t>(item), e.type, e.lowWordFirst, true,
                                 e.value, e.rate, e.waveAmplitude, e.wavePeriod,
                                 TwoPi * unitInterval(mix64(key)), e.noise, key});
    }
}

void Device::stopLive(Area area, uint32_t first, uint32_t count) {
    for (LiveCell& c : live_) {
        if (c.active && c.area == area && c.first < first + count &&
            first < c.first + widthOf(c.type)) {
            c.active = false;
        }
    }
}

void Device::store(Area area, uint32_t first, ValueType type, bool lowWordFirst, double value) {
    uint16_t words[2];
    encode(type, lowWordFirst, value, words);
    for (uint32_t i = 0; i < widthOf(type); ++i) {
        map_.set(area, static_cast<uint16_t>(first + i), words[i]);
    }
}

void Device::update(uint64_t timeMs) {
    const double t = static_cast<double>(timeMs) / 1000.0;
    const uint64_t second = timeMs / 1000;
    for (const LiveCell& c : live_) {
        if (!c.active) {
            continue;
        }
        double v = c.base + c.rate * t;
        if (c.amplitude != 0) {
            v += c.amplitude * std::sin(TwoPi * t / c.period + c.phase);
        }
        if (c.noise != 0) {
            v += c.noise * (2.0 * unitInterval(mix64(c.noiseKey + second + 1)) - 1.0);
        }
        store(c.area, c.first, c.type, c.lowWordFirst, v);
    }
}

std::vector<uint8_t> Device::serve(const uint8_t* frame, size_t length) {
    const uint8_t node = frame[0];
    const uint8_t function = frame[1];
    std::vector<uint8_t> answer;
    switch (function) {
        case rtu::ReadCoils:
            answer = read(frame, length, Area::Coils);
            break;
        case rtu::ReadDiscreteInputs:
            answer = read(frame, length, Area::DiscreteInputs);
            break;
        case rtu::ReadHoldingRegisters:
            answer = read(frame, length, Area::HoldingRegisters);
            break;
        case rtu::ReadInputRegisters:
            answer = read(frame, length, Area::InputRegisters);
            break;
        case rtu::WriteSingleCoil:
            answer = writeCoil(frame, length);
            break;
        case rtu::WriteSingleRegister:
            answer = writeRegister(frame, length);
            break;
        case rtu::WriteMultipleRegisters:
            answer = writeRegisters(frame, length);
            break;
        default:
            answer = exceptionAnswer(node, function, rtu::IllegalFunction);
            break;
    }
    if (node == rtu::BroadcastNode) {
        answer.clear();
    }
    return answer;
}

/*
 * Read request:  node, function, address (2), quantity (2), CRC
 * Answer:        node, function, byte count, data, CRC
 * Bits pack eight to a byte from bit 0; registers travel high byte first.
 * Checks run in the order a master expects: function, then quantity, then address.
 */
std::vector<uint8_t> Device::read(const uint8_t* frame, size_t length, Area area) {
    const uint8_t node = frame[0];
    const uint8_t function = frame[1];
    const bool bits = area == Area::Coils || area == Area::DiscreteInputs;
    if (!map_.hasArea(area)) {
        return exceptionAnswer(node, function, rtu::IllegalFunction);
    }
    if (length != 8) {
        return exceptionAnswer(node, function, rtu::IllegalDataValue);
    }
    const uint16_t address = rtu::be16(frame + 2);
    const uint16_t quantity = rtu::be16(frame + 4);
    if (quantity == 0 || quantity > (bits ? rtu::MaxReadBits : rtu::MaxReadRegisters)) {
        return exceptionAnswer(node, function, rtu::IllegalDataValue);
    }
    if (!map_.present(area, address, quantity)) {
        return exceptionAnswer(node, function, rtu::IllegalDataAddress);
    }
    const size_t byteCount = bits ? (quantity + 7u) / 8u : 2u * quantity;
    std::vector<uint8_t> answer(3 + byteCount, 0);
    answer[0] = node;
    answer[1] = function;
    answer[2] = static_cast<uint8_t>(byteCount);
    for (uint32_t i = 0; i < quantity; ++i) {
        const uint16_t v = map_.get(area, static_cast<uint16_t>(address + i));
        if (bits) {
            answer[3 + i / 8] |= static_cast<uint8_t>((v & 1u) << (i % 8));
        } else {
            answer[3 + 2 * i] = static_cast<uint8_t>(v >> 8);
            answer[4 + 2 * i] = static_cast<uint8_t>(v);
        }
    }
    rtu::appendCrc(answer);
    return answer;
}

// node, 5, address (2), FF 00 (on) or 00 00 (off), CRC; the answer is the request.
std::vector<uint8_t> Device::writeCoil(const uint8_t* frame, size_t length) {
    const uint8_t node = frame[0];
    if (!map_.hasArea(Area::Coils)) {
        return exceptionAnswer(node, rtu::WriteSingleCoil, rtu::IllegalFunction);
    }
    if (length != 8) {
        return exceptionAnswer(node, rtu::WriteSingleCoil, rtu::IllegalDataValue);
    }
    const uint16_t value = rtu::be16(frame + 4);
    if (value != 0xFF00 && value != 0x0000) {
        return exceptionAnswer(node, rtu::WriteSingleCoil, rtu::IllegalDataValue);
    }
    const uint16_t address = rtu::be16(frame + 2);
    if (!map_.writable(Area::Coils, address, 1)) {
        return exceptionAnswer(node, rtu::WriteSingleCoil, rtu::IllegalDataAddress);
    }
    map_.set(Area::Coils, address, value != 0 ? 1 : 0);
    return {frame, frame + length};
}

// node, 6, address (2), value (2), CRC; the answer is the request.
std::vector<uint8_t> Device::writeRegister(const uint8_t* frame, size_t length) {
    const uint8_t node = frame[0];
    if (!map_.hasArea(Area::HoldingRegisters)) {
        return exceptionAnswer(node, rtu::WriteSingleRegister, rtu::IllegalFunction);
    }
    if (length != 8) {
        return exceptionAnswer(node, rtu::WriteSingleRegister, rtu::IllegalDataValue);
    }
    const uint16_t address = rtu::be16(frame + 2);
    if (!map_.writable(Area::HoldingRegisters, address, 1)) {
        return exceptionAnswer(node, rtu::WriteSingleRegister, rtu::IllegalDataAddress);
    }
    stopLive(Area::HoldingRegisters, address, 1);
    map_.set(Area::HoldingRegisters, address, rtu::be16(frame + 4));
    return {frame, frame + length};
}

// Request: node, 16, address (2), quantity n (2), byte count 2n, n values, CRC.
// Answer:  node, 16, address (2), quantity (2), CRC.
std::vector<uint8_t> Device::writeRegisters(const uint8_t* frame, size_t length) {
    const uint8_t node = frame[0];
    if (!map_.hasArea(Area::HoldingRegisters)) {
        return exceptionAnswer(node, rtu::WriteMultipleRegisters, rtu::IllegalFunction);
    }
    const uint16_t quantity = length >= 9 ? rtu::be16(frame + 4) : 0;
    if (quantity == 0 || quantity > rtu::MaxWriteRegisters || frame[6] != 2 * quantity ||
        length != 9 + 2u * quantity) {
        return exceptionAnswer(node, rtu::WriteMultipleRegisters, rtu::IllegalDataValue);
    }
    const uint16_t address = rtu::be16(frame + 2);
    if (!map_.writable(Area::HoldingRegisters, address, quantity)) {
        return exceptionAnswer(node, rtu::WriteMultipleRegisters, rtu::IllegalDataAddress);
    }
    stopLive(Area::HoldingRegisters, address, quantity);
    for (uint32_t i = 0; i < quantity; ++i) {
        map_.set(Area::HoldingRegisters, static_cast<uint16_t>(address + i),
                 rtu::be16(frame + 7 + 2 * i));
    }
    std::vector<uint8_t> answer(frame, frame + 6);
    rtu::appendCrc(answer);
    return answer;
}

}  // namespace sim
