#pragma once

#include "IInterface.h"

// Host service the driver obtains and gives back but never otherwise calls.
class IFastTimer : public IInterface {};
