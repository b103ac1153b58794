#pragma once

#include "IInterface.h"

class ISerialPort;

class ISerialFactory : public IInterface {
  public:
    // The port of that name (e.g. "com1"), or null when it can't be had.
    virtual ISerialPort* OpenSerial(const char* name) = 0;
    virtual void CloseSerial(ISerialPort* port) = 0;
};
