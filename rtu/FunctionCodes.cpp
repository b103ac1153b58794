#include <qarn/rtu/FunctionCodes.h>

namespace rtu {

const char* functionName(uint8_t function) {
    switch (function) {
        case ReadCoils:
            return "read coils";
        case ReadDiscreteInputs:
            return "read discrete inputs";
        case ReadHoldingRegisters:
            return "read holding registers";
        case ReadInputRegisters:
            return "read input registers";
        case WriteSingleCoil:
            return "write single coil";
        case WriteSingleRegister:
            return "write single register";
        case Diagnostics:
            return "set slave address";
        case WriteMultipleRegisters:
            return "write multiple registers";
        default:
            return nullptr;
    }
}

const char* exceptionName(uint8_t code) {
    switch (code) {
        case IllegalFunction:
            return "illegal function";
        case IllegalDataAddress:
            return "illegal data address";
        case IllegalDataValue:
            return "illegal data value";
        case DeviceFailure:
            return "slave device failure";
        case Acknowledge:
            return "acknowledge";
        case DeviceBusy:
            return "slave device busy";
        case MemoryParityError:
            return "memory parity error";
        case GatewayPathUnavailable:
            return "gateway path unavailable";
        case GatewayTargetNoResponse:
            return "gateway target device failed to respond";
        default:
            return nullptr;
    }
}

}  // namespace rtu
