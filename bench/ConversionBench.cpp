// Tags without the line: building them from address strings, data-type parsing, and the value
// conversions between raw image and host value in both directions.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include <qarn/protlib/ProtUtilsN.h>
#include "BenchHost.h"

namespace {

const char* const Addresses[] = {
    "1?HREG?400001?unsignedShort",     "1?HREG?400001?float(swap2)",
    "1?HREG?400001?int-20(swap4,neg)", "1?HREG?400001?unsignedInt(bcd)",
    "1?OUTP?4?boolean-16(inv)",        "1?IREG?300001?string-20",
};

void BM_CreateTag(benchmark::State& state) {
    qarnbench::BenchHost host;
    std::string error;
    auto protocol = host.start("defNodeId=1 model=GenericModbus", error);
    const char* address = Addresses[state.range(0)];
    state.SetLabel(address);
    for (auto _ : state) {
        ITag* tag = protocol->CreateTag(address);
        benchmark::DoNotOptimize(tag);
        protocol->FreeTag(tag);
    }
}
BENCHMARK(BM_CreateTag)->DenseRange(0, 5);

void BM_GetORBAType(benchmark::State& state) {
    const std::string text = "int-20(swap4,neg)";
    std::vector<std::string> conversions;
    for (auto _ : state) {
        ICU_Type varType = ICU_NONE;
        ICU_Type itemType = ICU_NONE;
        int length = 0;
        conversions.clear();
        benchmark::DoNotOptimize(
            ProtUtilsN::GetORBAType(text, varType, itemType, length, conversions));
    }
}
BENCHMARK(BM_GetORBAType);

// range(0): the tag; range(1): 0 raw image to host value (a read), 1 the other way (a write).
void BM_ConvertVariable(benchmark::State& state) {
    qarnbench::BenchHost host;
    std::string error;
    auto protocol = host.start("defNodeId=1 model=GenericModbus", error);
    const char* address = Addresses[state.range(0)];
    const bool toDevice = state.range(1) != 0;
    state.SetLabel(std::string(address) + (toDevice ? " to device" : " from device"));
    ITag* tag = protocol->CreateTag(address);
    // Packed decimal digits and small values convert in both directions.
    std::vector<uint8_t> source(static_cast<size_t>(tag->GetVarLength()) + 8, 0x12);
    std::vector<uint8_t> target(source.size());
    for (auto _ : state) {
        const bool ok = tag->ConvertVariable(source.data(), target.data(), toDevice);
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    protocol->FreeTag(tag);
}
BENCHMARK(BM_ConvertVariable)->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 1}});

}  // namespace
