// A started instance reads and writes tags of several kinds while the scripted port answers with
// what the input holds (layout and properties in README.md). Host buffers have exactly the size
// the tag asks for, so overruns reach the sanitizers.

#include <algorithm>

#include <qarn/driver/ModbusFrame.h>
#include <qarn/driver/Tag_QARN.h>
#include "DriverRig.h"

using namespace qarnfuzz;

// Memory types that a model lacks give no tag.
// clang-format off
static const char* const Tags[16] = {
    "1?HREG?400001?unsignedShort", "1?HREG?400002.1?byte", "1?HREG?400010?float(swap2)",
    "1?HREG?400100?int-20(swap4,neg)", "1?HREG?400001.15?boolean", "1?IREG?300005?string-10",
    "1?OUTP?12?boolean", "1?INP?100009?boolean-20", "1?OUTP?3?boolean-13(inv)",
    "1?NO?0?unsignedByte", "1?SL?5?unsignedByte", "2?HREG?465535?unsignedInt(bcd)",
    "1?HREG?400001?unsignedShort-125", "1?HREG?400001?unsignedShort-130", "0?HREG?400001?short",
    "1?HREG?400003.1?boolean-12"};
// clang-format on

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const Models[] = {"GenericModbus", "EM24", "ISMG1xx", "WM40"};
    FuzzInput in{data, size};
    const uint8_t setup = in.byte();
    const size_t wrap = (setup & 3) == 2 ? 1 : 0;  // ISMG framing
    const int repeat = ((setup >> 2) & 3) == 3 ? -1 : (setup >> 2) & 3;
    DriverRig rig;
    FUZZ_CHECK(rig.start("defNodeId=1 model=" + std::string(Models[setup & 3]) +
                         " repeat=" + std::to_string(repeat) +
                         ((setup & 0x10) != 0 ? " presetFunction=16" : "") +
                         ((setup & 0x20) != 0 ? " maxOptLen=20" : "")),
               rig.lastError());
    Protocol_QARN& protocol = *rig.protocol;
    int node1 = 1;  // what node 1 is addressed as, after the override table
    std::vector<Bytes> answers;

    // A failure records one of the driver's error codes and a text (or, where `silent`, nothing);
    // a success leaves the error set before the call in place.
    const auto checkOutcome = [&](bool ok, bool silent) {
        const int code = protocol.GetLastError();
        const bool untouched = rig.lastError() == "12345 no error yet";
        const bool known = (code == -1 || code == -6 || code == -9 || code == -10) &&
                           *protocol.GetLastErrorString() != '\0';
        FUZZ_CHECK(ok ? untouched : known || (silent && untouched),
                   (ok ? "success with " : "failure with ") + rig.lastError());
    };
    // At most repeat + 1 requests; a success takes the whole answer to the last one: its node and
    // function, the byte count its item count calls for, as many data bytes.
    const auto checkRead = [&](bool ok) {
        checkOutcome(ok, false);
        const std::vector<Bytes> requests = rig.port.requests();
        FUZZ_CHECK(static_cast<int>(requests.size()) <= std::max(0, repeat + 1),
                   std::to_string(requests.size()) + " requests");
        if (!ok || requests.empty()) {
            return;  // the node areas need no traffic
        }
        const size_t taken = answers.size() - static_cast<size_t>(rig.port.pendingAnswers());
        FUZZ_CHECK(taken > 0 && answers[taken - 1].size() >= 2 * wrap &&
                       requests.back().size() >= 6 + 2 * wrap,
                   "success without an answer");
        Bytes answer = answers[taken - 1];
        answer.resize(std::min<size_t>(answer.size(), ModbusFrameN::ResponseBufferSize));
        answer = Bytes(answer.begin() + wrap, answer.end() - wrap);
        const Bytes request(requests.back().begin() + wrap, requests.back().end() - wrap);
        const size_t count = static_cast<size_t>((request[4] << 8) | request[5]);
        const size_t dataBytes =
            request[1] <= ModbusFrameN::ReadInputs ? (count + 7) / 8 : 2 * count;
        FUZZ_CHECK(answer.size() == dataBytes + 5 && answer[0] == request[0] &&
                       answer[1] == request[1] && answer[2] == (dataBytes & 0xFF),
                   "accepted " + qarntest::toHex(answer) + " for " + qarntest::toHex(request));
    };

    for (int op = 0; op < 24 && !in.empty(); ++op) {
        const uint8_t code = in.byte();
        auto* tag = static_cast<Tag_QARN*>(protocol.CreateTag(Tags[code & 0x0F]));
        const uint8_t counts = in.byte();
        if (tag == nullptr) {
            continue;
        }
        const bool slaveAddress = tag->getMemoryType()->isNamed("SL");
        const int access = (code >> 4) & 3;
        const int function =
            access == 1 && tag->getWriteCode() != 0 ? tag->getWriteCode() : tag->getReadCode();
        rig.port.clearScript();
        rig.port.clearCalls();
        answers =
            queueAnswers(in, rig.port, counts & 7,
                         static_cast<uint8_t>(tag->getNodeId() == 1 ? node1 : tag->getNodeId()),
                         static_cast<uint8_t>(function));
        protocol.SetError(12345, "no error yet");
        Bytes value(static_cast<size_t>(tag->GetVarLength()));
        if (access == 0) {
            checkRead(protocol.Read(tag, value.data()));
        } else if (access == 1) {
            value = in.bytes(value.size());
            value.resize(static_cast<size_t>(tag->GetVarLength()));
            const bool ok = protocol.Write(tag, value.data());
            // A slave-address frame answered by anything but its echo fails without a text.
            checkOutcome(ok, slaveAddress);
            node1 = ok && tag->isNodeOverrideTag() && tag->getNodeId() == 1 ? value[0] : node1;
        } else if (access == 2) {
            ITag* second = protocol.CreateTag(Tags[in.byte() & 0x0F]);
            if (second != nullptr && protocol.CanBeOptimized(tag, second, false)) {
                // From the first tag's first byte to the second tag's last, as a host asks.
                const int span =
                    second->GetByteOffset() + second->PackedLen() - tag->GetByteOffset();
                FUZZ_CHECK(span > 0, "merged span of " + std::to_string(span) + " bytes");
                Bytes raw(static_cast<size_t>(span));
                checkRead(protocol.ReadBlock(tag, raw.data(), span));
            }
            protocol.FreeTag(second);
        } else {
            const int index = static_cast<int8_t>(in.byte());
            const bool writing = (in.byte() & 1) != 0;
            Bytes item(static_cast<size_t>(std::max(1, ProtUtilsN::GetBasicLength(tag))));
            checkOutcome(writing ? protocol.writeArrayItem(tag, index, item.data())
                                 : protocol.readArrayItem(tag, index, item.data()),
                         writing && slaveAddress);
        }
        protocol.FreeTag(tag);
    }
    return 0;
}
