#pragma once
// The real driver on the host doubles, as the commissioning tests drive it.

#include <gtest/gtest.h>

#include <string>

#include <qarn/driver/Protocol_QARN.h>
#include <qarn/plugin/HostServices.h>
#include "RecordingHost.h"

namespace commissiontest {

constexpr const char* Line =
    "CfgVer=1 uart=com1 baudrate=9600 parity=even bits=8 stopbits=1 mode=RS-485 defNodeId=1 "
    "model=GenericModbus repeat=0 timeout=100";

// Installs the doubles as the driver's host services and hands out `port`.
inline bool useHost(qarntest::RecordingHost& host, ISerialPort& port) {
    piMultiTask = &host.multiTask();
    piSerialFactory = &host.serialFactory();
    piPermanentStorage = &host.store();
    host.serialFactory().usePort(&port);
    return true;
}

}  // namespace commissiontest
