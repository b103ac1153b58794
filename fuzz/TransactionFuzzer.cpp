// The transaction's answer handling: a started instance reads and writes tags of several kinds
// while the scripted port answers with whatever the input holds (layout and properties in
// README.md). Host buffers have exactly the size the tag asks for, so overruns reach the
// sanitizers.

#include <algorithm>
#include <memory>
#include <string>

#include "DriverRig.h"
#include "ModbusFrame.h"
#include "ProtUtilsN.h"
#include "Tag_QARN.h"

namespace {

using namespace qarnfuzz;

const char* const Models[] = {"GenericModbus", "EM24", "ISMG1xx", "WM40"};
const int Repeats[] = {0, 1, 2, -1};
constexpr int Sentinel = 12345;

// Memory types that a model lacks give no tag.
// clang-format off
const char* const Tags[16] = {
    "1?HREG?400001?unsignedShort", "1?HREG?400002.1?byte", "1?HREG?400010?float(swap2)",
    "1?HREG?400100?int-20(swap4,neg)", "1?HREG?400001.15?boolean", "1?IREG?300005?string-10",
    "1?OUTP?12?boolean", "1?INP?100009?boolean-20", "1?OUTP?3?boolean-13(inv)",
    "1?NO?0?unsignedByte", "1?SL?5?unsignedByte", "2?HREG?465535?unsignedInt(bcd)",
    "1?HREG?400001?unsignedShort-125", "1?HREG?400001?unsignedShort-130", "0?HREG?400001?short",
    "1?HREG?400003.1?boolean-12"};
// clang-format on

struct Session {
    FuzzInput& in;
    bool ismg;
    int repeat;
    DriverRig rig;
    int node1 = 1;  // what node 1 is addressed as, after the override table
    std::vector<Bytes> answers;

    // A failure records one of the driver's error codes and a text (or, where `silent`, nothing);
    // a success leaves the sentinel in place.
    void checkOutcome(bool ok, bool silent = false) const {
        const int code = rig.protocol->GetLastError();
        const bool untouched = code == Sentinel && rig.lastError() == "12345 no error yet";
        const bool known = (code == -1 || code == -6 || code == -9 || code == -10) &&
                           *rig.protocol->GetLastErrorString() != '\0';
        FUZZ_CHECK(ok ? untouched : known || (silent && untouched),
                   (ok ? "success with " : "failure with ") + rig.lastError());
    }

    // The answer a read takes last must be the whole answer to the last request: its node and
    // function, the byte count the item count calls for, and as many data bytes.
    void checkRead(bool ok) const {
        checkOutcome(ok);
        const std::vector<Bytes> requests = rig.port.requests();
        FUZZ_CHECK(static_cast<int>(requests.size()) <= std::max(0, repeat + 1),
                   std::to_string(requests.size()) + " requests");
        const size_t taken = answers.size() - static_cast<size_t>(rig.port.pendingAnswers());
        if (!ok || requests.empty()) {
            return;  // the node areas need no traffic
        }
        const size_t wrap = ismg ? 1 : 0;
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
    }

    void run(uint8_t code) {
        Protocol_QARN& protocol = *rig.protocol;
        ITag* created = protocol.CreateTag(Tags[code & 0x0F]);
        const uint8_t counts = in.byte();
        if (created == nullptr) {
            return;
        }
        const auto* tag = static_cast<const Tag_QARN*>(created);
        const bool slaveAddress = tag->getMemoryType()->isNamed("SL");
        const int access = (code >> 4) & 3;
        const size_t length = static_cast<size_t>(tag->GetVarLength());
        const int node = tag->getNodeId() == 1 ? node1 : tag->getNodeId();
        const int function =
            access == 1 && tag->getWriteCode() != 0 ? tag->getWriteCode() : tag->getReadCode();
        rig.port.clearScript();
        rig.port.clearCalls();
        answers = queueAnswers(in, rig.port, counts & 7, static_cast<uint8_t>(node),
                               static_cast<uint8_t>(function));
        protocol.SetError(Sentinel, "no error yet");

        if (access == 0) {
            std::unique_ptr<uint8_t[]> value(new uint8_t[length]);
            checkRead(protocol.Read(tag, value.get()));
        } else if (access == 1) {
            std::unique_ptr<uint8_t[]> value(new uint8_t[length]());
            const Bytes given = in.bytes(length);
            std::copy(given.begin(), given.end(), value.get());
            const bool ok = protocol.Write(tag, value.get());
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
                std::unique_ptr<uint8_t[]> raw(new uint8_t[static_cast<size_t>(span)]);
                checkRead(protocol.ReadBlock(tag, raw.get(), span));
            }
            protocol.FreeTag(second);
        } else {
            const int index = static_cast<int8_t>(in.byte());
            const bool writing = (in.byte() & 1) != 0;
            const size_t itemLength =
                static_cast<size_t>(std::max(1, ProtUtilsN::GetBasicLength(tag)));
            std::unique_ptr<uint8_t[]> item(new uint8_t[itemLength]());
            const bool ok = writing ? protocol.writeArrayItem(tag, index, item.get())
                                    : protocol.readArrayItem(tag, index, item.get());
            checkOutcome(ok, writing && slaveAddress);
        }
        protocol.FreeTag(created);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t setup = in.byte();
    Session session{in, (setup & 3) == 2, Repeats[(setup >> 2) & 3], {}, 1, {}};
    const std::string nodes = "defNodeId=1 model=" + std::string(Models[setup & 3]) +
                              " repeat=" + std::to_string(session.repeat) +
                              ((setup & 0x10) != 0 ? " presetFunction=16" : "") +
                              ((setup & 0x20) != 0 ? " maxOptLen=20" : "");
    FUZZ_CHECK(session.rig.start(nodes), session.rig.lastError());
    for (int op = 0; op < 24 && !in.empty(); ++op) {
        session.run(in.byte());
    }
    return 0;
}
