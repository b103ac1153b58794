// Whole accesses in-process against a port that answers at once: what the driver itself costs
// per transaction (request, checks, copies, conversions), without any line time.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "BenchHost.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An answer to a read: node 1, the function, the byte count and `dataBytes` bytes of data.
Bytes readAnswer(uint8_t function, int dataBytes) {
    Bytes frame = {1, function, static_cast<uint8_t>(dataBytes)};
    for (int i = 0; i < dataBytes; ++i) {
        frame.push_back(static_cast<uint8_t>(i * 7 + 1));
    }
    return qarnbench::withCrc(frame);
}

Bytes ismgWrapped(const Bytes& frame) {
    Bytes out(frame.size() + 2);
    out.front() = 0x0A;
    std::copy(frame.begin(), frame.end(), out.begin() + 1);
    out.back() = 0x0D;
    return out;
}

struct Access {
    const char* nodes;
    const char* address;
    Bytes answer;  // to the read request (writes are acknowledged by their echo)
};

const char* const Generic = "defNodeId=1 model=GenericModbus";
const char* const Generic16 = "defNodeId=1 model=GenericModbus presetFunction=16";

const std::vector<Access>& reads() {
    static const std::vector<Access> cases = {
        {Generic, "1?HREG?400001?unsignedShort", readAnswer(3, 2)},
        {Generic, "1?HREG?400001?float(swap2)", readAnswer(3, 4)},
        {Generic, "1?HREG?400001?unsignedShort-60", readAnswer(3, 120)},
        // Beyond the local buffers: the heap fallback.
        {Generic, "1?HREG?400001?unsignedShort-125", readAnswer(3, 250)},
        {Generic, "1?OUTP?1?boolean-16", readAnswer(1, 2)},
        {"defNodeId=1 model=ISMG1xx", "1?HREG?400001?unsignedShort", ismgWrapped(readAnswer(3, 2))},
    };
    return cases;
}

const std::vector<Access>& writes() {
    static const std::vector<Access> cases = {
        {Generic, "1?HREG?400001?unsignedShort", {}},
        {Generic, "1?HREG?400001?unsignedInt", {}},
        {Generic16, "1?HREG?400001?unsignedInt", {}},
        {Generic16, "1?HREG?400001?unsignedShort-100", {}},
        {Generic, "1?OUTP?1?boolean", {}},
        // Half a register: read first, then written.
        {Generic, "1?HREG?400001.1?byte", readAnswer(3, 2)},
    };
    return cases;
}

struct Prepared {
    qarnbench::BenchHost host;
    std::unique_ptr<Protocol_QARN> protocol;
    ITag* tag = nullptr;
    std::vector<uint8_t> value;

    bool prepare(benchmark::State& state, const Access& access) {
        state.SetLabel(access.address);
        std::string error;
        protocol = host.start(access.nodes, error);
        if (protocol != nullptr) {
            tag = protocol->CreateTag(access.address);
            error = protocol->GetLastErrorString();
        }
        if (tag == nullptr) {
            state.SkipWithError(error.c_str());
            return false;
        }
        host.port.answer(access.answer);
        host.port.echo();
        value.assign(static_cast<size_t>(tag->GetVarLength()), 0x21);
        return true;
    }
    void count(benchmark::State& state) const {
        state.counters["requests"] = benchmark::Counter(static_cast<double>(host.port.requests()),
                                                        benchmark::Counter::kAvgIterations);
    }
};

void BM_Read(benchmark::State& state) {
    Prepared p;
    if (!p.prepare(state, reads()[static_cast<size_t>(state.range(0))])) {
        return;
    }
    for (auto _ : state) {
        if (!p.protocol->Read(p.tag, p.value.data())) {
            state.SkipWithError(p.protocol->GetLastErrorString());
            break;
        }
        benchmark::ClobberMemory();
    }
    p.count(state);
}
BENCHMARK(BM_Read)->DenseRange(0, 5);

void BM_Write(benchmark::State& state) {
    Prepared p;
    if (!p.prepare(state, writes()[static_cast<size_t>(state.range(0))])) {
        return;
    }
    for (auto _ : state) {
        if (!p.protocol->Write(p.tag, p.value.data())) {
            state.SkipWithError(p.protocol->GetLastErrorString());
            break;
        }
    }
    p.count(state);
}
BENCHMARK(BM_Write)->DenseRange(0, 5);

// Two tags 10 registers apart as a host reads them after asking CanBeOptimized: one block read
// of the span, then each tag converted from its slice; range(0) 0 reads them one by one instead.
void BM_MergedRead(benchmark::State& state) {
    const bool merged = state.range(0) != 0;
    state.SetLabel(merged ? "one block read" : "two reads");
    qarnbench::BenchHost host;
    std::string error;
    auto protocol = host.start(Generic, error);
    ITag* first = protocol->CreateTag("1?HREG?400001?unsignedShort");
    ITag* second = protocol->CreateTag("1?HREG?400011?float");
    if (first == nullptr || second == nullptr || !protocol->CanBeOptimized(first, second, false)) {
        state.SkipWithError("the tags do not merge");
        return;
    }
    const int span = second->GetByteOffset() + second->PackedLen() - first->GetByteOffset();
    std::vector<uint8_t> raw(static_cast<size_t>(span));
    const Bytes spanAnswer = readAnswer(3, span);
    const Bytes firstAnswer = readAnswer(3, 2);
    const Bytes secondAnswer = readAnswer(3, 4);
    uint8_t a[2];
    uint8_t b[4];
    for (auto _ : state) {
        bool ok = false;
        if (merged) {
            host.port.answer(spanAnswer);
            ok = protocol->CanBeOptimized(first, second, false) &&
                 protocol->ReadBlock(first, raw.data(), span) &&
                 first->ConvertVariable(raw.data(), a, false) &&
                 second->ConvertVariable(
                     raw.data() + (second->GetByteOffset() - first->GetByteOffset()), b, false);
        } else {
            host.port.answer(firstAnswer);
            ok = protocol->Read(first, a);
            host.port.answer(secondAnswer);
            ok = ok && protocol->Read(second, b);
        }
        if (!ok) {
            state.SkipWithError(protocol->GetLastErrorString());
            break;
        }
        benchmark::ClobberMemory();
    }
    state.counters["requests"] = benchmark::Counter(static_cast<double>(host.port.requests()),
                                                    benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_MergedRead)->Arg(1)->Arg(0);

}  // namespace
