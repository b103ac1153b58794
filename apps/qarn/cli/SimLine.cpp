#include "SimLine.h"

#include <qarn/rtu/LineSettings.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>

namespace qarn {

namespace {

sim::Parity simParity(rtu::Parity parity) {
    switch (parity) {
        case rtu::Parity::None:
            return sim::Parity::None;
        case rtu::Parity::Even:
            return sim::Parity::Even;
        case rtu::Parity::Odd:
            return sim::Parity::Odd;
        case rtu::Parity::Mark:
            return sim::Parity::Mark;
    }
    return sim::Parity::None;
}

}  // namespace

sim::LineSettings simLineSettings(const LineOptions& options, bool pace) {
    if (options.bits != 8) {
        throw UsageError("Modbus RTU uses 8 data bits");
    }
    sim::LineSettings line;
    line.baud = static_cast<uint32_t>(options.baud);
    line.parity = simParity(lineParity(options));
    line.stopBits = static_cast<uint32_t>(options.stopbits);
    line.pace = pace;
    return line;
}

}  // namespace qarn
