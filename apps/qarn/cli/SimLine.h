#pragma once
// The simulator's end of a line that the shared line options describe, for `qarn simulate` and
// `qarn demo`.

#include <qarn/sim/LineRunner.h>

namespace qarn {

struct LineOptions;

// Baud rate, parity and stop bits of the quick form. Throws UsageError for a parity the options
// do not name, or for data bits other than 8, which Modbus RTU does not use.
sim::LineSettings simLineSettings(const LineOptions& options, bool pace);

}  // namespace qarn
