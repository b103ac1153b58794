#pragma once
// Answers a simulated slave builds. The frame layout itself (codes, limits, wrapper, lengths)
// is the wire library's.

#include <cstdint>
#include <vector>

#include <qarn/rtu/Frame.h>
#include <qarn/rtu/FunctionCodes.h>

namespace sim {

// The wire facts the simulator's users name through it.
using rtu::DeviceFailure;
using rtu::MaxNode;

// node, function | ExceptionFlag, code, CRC.
std::vector<uint8_t> exceptionAnswer(uint8_t node, uint8_t function, uint8_t code);

}  // namespace sim
