#pragma once
// The tag list that `qarn demo` polls (demo.tags, built into the tool).

namespace qarn {

extern const char* const DemoTagList;
// How the demo's simulated line is populated; the list above addresses these nodes.
constexpr int DemoMeterNode = 1;
constexpr const char* DemoMeterModel = "EM24";
constexpr int DemoIoNode = 2;
constexpr const char* DemoIoModel = "GenericModbus";

}  // namespace qarn
