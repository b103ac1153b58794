#pragma once
// The Modbus function and exception codes the host side meets on the line, and their names.
// Plain enumerations, since the codes are compared with frame bytes all the time.

#include <cstdint>

namespace rtu {

enum FunctionCode : uint8_t {
    ReadCoils = 1,
    ReadDiscreteInputs = 2,
    ReadHoldingRegisters = 3,
    ReadInputRegisters = 4,
    WriteSingleCoil = 5,
    WriteSingleRegister = 6,
    Diagnostics = 8,  // carries the ISMG slave-address frame
    WriteMultipleRegisters = 16,
};

// Set in the function byte of an exception answer.
constexpr uint8_t ExceptionFlag = 0x80;

enum ExceptionCode : uint8_t {
    IllegalFunction = 1,
    IllegalDataAddress = 2,
    IllegalDataValue = 3,
    DeviceFailure = 4,
    Acknowledge = 5,
    DeviceBusy = 6,
    MemoryParityError = 8,
    GatewayPathUnavailable = 10,
    GatewayTargetNoResponse = 11,
};

// Name of a function code ("read holding registers"), or null for one the line never carries.
// Function 8 is named after the only use it has here.
const char* functionName(uint8_t function);
// Name of an exception code ("illegal data address"), or null for an unknown one.
const char* exceptionName(uint8_t code);

}  // namespace rtu
