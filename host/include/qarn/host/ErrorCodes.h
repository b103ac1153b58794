#pragma once
// The codes a protocol reports through GetLastError. The host and every tool around the
// plug-in compare against these names, never against bare numbers.

namespace ErrorCode {

constexpr int NoErrorYet = 1;         // nothing has failed since the instance was made
constexpr int Allocation = 0;         // "Can't allocate Tag", "Can't allocate buffer"
constexpr int Refused = -1;           // configuration, tag address, operation, memory type, port
constexpr int NotAvailable = -3;      // not started, or no block write
constexpr int Communication = -6;     // any transaction or answer failure
constexpr int Conversion = -9;        // the value does not convert
constexpr int NodeUnreachable = -10;  // "Node disabled", "Broadcast request"

}  // namespace ErrorCode
