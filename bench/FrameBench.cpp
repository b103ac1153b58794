// The pure frame functions: CRC, request building, answer checks.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include <qarn/driver/ModbusFrame.h>
#include "BenchHost.h"

namespace {

using namespace ModbusFrameN;

void BM_Crc16(benchmark::State& state) {
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 37);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc16(data.data(), static_cast<int>(data.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
// A read request's body, a 125-register answer, a full frame.
BENCHMARK(BM_Crc16)->Arg(6)->Arg(253)->Arg(254);

void BM_BuildRead(benchmark::State& state) {
    uint8_t frame[RequestBufferSize];
    uint16_t address = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildRead(frame, 1, ReadHoldingRegisters, ++address, 10));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildRead);

void BM_BuildWriteRegisters(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    std::vector<uint8_t> image(2 * static_cast<size_t>(count), 0x5A);
    uint8_t frame[RequestBufferSize];
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildWriteRegisters(frame, 1, 0, image.data(), count));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildWriteRegisters)->Arg(2)->Arg(MaxWriteRegisters);

// CRC check and every check of an answer to a read of `count` registers.
void BM_CheckReadAnswer(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    uint8_t request[RequestBufferSize];
    buildRead(request, 1, ReadHoldingRegisters, 0, static_cast<uint16_t>(count));
    std::vector<uint8_t> answer = {1, ReadHoldingRegisters, static_cast<uint8_t>(2 * count)};
    answer.resize(3 + 2 * static_cast<size_t>(count), 0x42);
    answer = qarnbench::withCrc(answer);
    const int length = static_cast<int>(answer.size());
    for (auto _ : state) {
        const bool ok = crcOk(answer.data(), length) &&
                        checkReadAnswer(request, answer.data(), length, false, count) == nullptr;
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_CheckReadAnswer)->Arg(1)->Arg(125);

void BM_CheckWriteAnswer(benchmark::State& state) {
    uint8_t request[RequestBufferSize];
    const int length = buildWriteRegister(request, 1, 7, 0x1234);
    for (auto _ : state) {
        const bool ok =
            crcOk(request, length) && checkWriteAnswer(request, request, length) == nullptr;
        benchmark::DoNotOptimize(ok);
    }
}
BENCHMARK(BM_CheckWriteAnswer);

}  // namespace
