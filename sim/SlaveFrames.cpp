#include <qarn/sim/SlaveFrames.h>

#include <qarn/rtu/Crc.h>

namespace sim {

std::vector<uint8_t> exceptionAnswer(uint8_t node, uint8_t function, uint8_t code) {
    std::vector<uint8_t> f{node, static_cast<uint8_t>(function | rtu::ExceptionFlag), code};
    rtu::appendCrc(f);
    return f;
}

}  // namespace sim
