// The transaction's answer handling: a configured and started instance reads and writes tags of
// several kinds while the scripted port answers with whatever the input holds.
//
// Input: one set-up byte (model, repeat, write function, merge limit), then operations. Each
// operation is a byte choosing the tag (low 4 bits) and the access (bits 4-5: read, write,
// merged block read, array item), a byte with the number of scripted answers (low 3 bits) and
// the answers themselves (DriverRig.h), then what the access needs: the value of a write, the
// second tag of a merged read, the index of an array item.
//
// Properties beyond "no fault": a failure is reported with one of the driver's own codes and
// texts, a success leaves no error behind, every frame sent is a well-formed request to the node
// actually addressed, a read makes at most repeat + 1 attempts, a disabled node or a read
// broadcast sends nothing, the answer a read accepts is whole, an answer from another node or an
// exception is refused with its own text, a merged read stays within the block limits that
// allowed the merge, a write is acknowledged by its echo, and for plain tags the value read is
// the data of the accepted answer and the value written the data sent.
//
// With QARN_FUZZ_TRACE set in the environment every access is listed with its outcome.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "DriverRig.h"
#include "FuzzCheck.h"
#include "MemoryType.h"
#include "ModbusFrame.h"
#include "ProtUtilsN.h"
#include "Tag_QARN.h"

namespace {

using namespace qarnfuzz;
using Op = qarntest::RecordingSerialPort::Op;

constexpr int MaxOperations = 24;
constexpr int SentinelCode = 12345;
constexpr char SentinelText[] = "no error yet";

const char* const Models[] = {"GenericModbus", "EM24", "ISMG1xx", "WM40"};
const int Repeats[] = {0, 1, 2, -1};

uint16_t be16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Value checks against the bare answer frame that was accepted.
void expectRegister(const uint8_t* value, const Bytes& answer) {
    uint16_t got = 0;
    std::memcpy(&got, value, sizeof got);
    FUZZ_CHECK(got == be16(&answer[3]), "register value " + std::to_string(got));
}
void expectHighByte(const uint8_t* value, const Bytes& answer) {
    FUZZ_CHECK(value[0] == answer[3], "byte 1 of a register is its high byte");
}
void expectBit15(const uint8_t* value, const Bytes& answer) {
    FUZZ_CHECK(value[0] == ((answer[3] >> 7) & 1), "bit 15 of a register");
}
void expectFirstCoil(const uint8_t* value, const Bytes& answer) {
    FUZZ_CHECK(value[0] == (answer[3] & 1), "first bit of the answer");
}
void expectRegisters125(const uint8_t* value, const Bytes& answer) {
    for (int i = 0; i < 125; ++i) {
        uint16_t got = 0;
        std::memcpy(&got, value + 2 * i, sizeof got);
        FUZZ_CHECK(got == be16(&answer[3 + 2 * static_cast<size_t>(i)]),
                   "register " + std::to_string(i));
    }
}
void expectInputs20(const uint8_t* value, const Bytes& answer) {
    for (int i = 0; i < 20; ++i) {
        FUZZ_CHECK(value[i] == ((answer[3 + static_cast<size_t>(i / 8)] >> (i % 8)) & 1),
                   "input bit " + std::to_string(i));
    }
}

// What a successful write must have put on the line: `count` registers (or coils) from item
// `address` on, holding the host value as it is (or each coil inverted).
struct WrittenItems {
    int address;
    int count;
    bool coils;
    bool inverted;
};

struct TagCase {
    const char* address;
    // Checks a value read against the accepted answer; null where the value is not simply the
    // answer's data.
    void (*expect)(const uint8_t* value, const Bytes& answer);
    // Count 0 where the value written is not simply the data sent.
    WrittenItems written;
};

// Sixteen tags, one per value of the low half of an operation byte. Memory types a model lacks
// simply give no tag.
const TagCase Tags[16] = {
    {"1?HREG?400001?unsignedShort", expectRegister, {0, 1, false, false}},
    {"1?HREG?400002.1?byte", expectHighByte, {}},
    {"1?HREG?400010?float(swap2)", nullptr, {}},
    {"1?HREG?400100?int-20(swap4,neg)", nullptr, {}},
    {"1?HREG?400001.15?boolean", expectBit15, {}},
    {"1?IREG?300005?string-10", nullptr, {}},
    {"1?OUTP?12?boolean", expectFirstCoil, {11, 1, true, false}},
    {"1?INP?100009?boolean-20", expectInputs20, {}},
    {"1?OUTP?3?boolean-13(inv)", nullptr, {2, 13, true, true}},
    {"1?NO?0?unsignedByte", nullptr, {}},
    {"1?SL?5?unsignedByte", nullptr, {}},
    {"2?HREG?465535?unsignedInt(bcd)", nullptr, {}},
    {"1?HREG?400001?unsignedShort-125", expectRegisters125, {0, 125, false, false}},
    {"1?HREG?400001?unsignedShort-130", nullptr, {0, 130, false, false}},
    {"0?HREG?400001?short", nullptr, {0, 1, false, false}},
    {"1?HREG?400003.1?boolean-12", nullptr, {}},
};

// The items that the write requests among `frames` (bare) set, by item number.
void collectWrites(const std::vector<Bytes>& frames, std::map<int, uint16_t>& registers,
                   std::map<int, bool>& coils) {
    for (const Bytes& f : frames) {
        const int address = be16(&f[2]);
        if (f[1] == ModbusFrameN::WriteSingleRegister) {
            registers[address] = be16(&f[4]);
        } else if (f[1] == ModbusFrameN::WriteMultipleRegisters) {
            for (int j = 0; j < be16(&f[4]); ++j) {
                registers[(address + j) & 0xFFFF] = be16(&f[7 + 2 * static_cast<size_t>(j)]);
            }
        } else if (f[1] == ModbusFrameN::WriteSingleCoil) {
            coils[address] = f[4] == 0xFF;
        }
    }
}

void expectWritten(const WrittenItems& items, const uint8_t* value,
                   const std::vector<Bytes>& frames) {
    std::map<int, uint16_t> registers;
    std::map<int, bool> coils;
    collectWrites(frames, registers, coils);
    for (int i = 0; i < items.count; ++i) {
        const int item = items.address + i;
        if (items.coils) {
            const auto sent = coils.find(item);
            FUZZ_CHECK(sent != coils.end() && sent->second == ((value[i] != 0) != items.inverted),
                       "coil " + std::to_string(item) + " not written as given");
        } else {
            uint16_t given = 0;
            std::memcpy(&given, value + 2 * i, sizeof given);
            const auto sent = registers.find(item);
            FUZZ_CHECK(sent != registers.end() && sent->second == given,
                       "register " + std::to_string(item) + " not written as given");
        }
    }
}

// Families of failures an access may report.
enum Family : unsigned {
    Transaction = 1,  // -6 and -10: the line, the answer, the node
    ReadConversion = 2,
    WriteFailure = 4,  // -9 write conversion, -1 read-only
    ArrayItem = 8,
};

struct KnownError {
    int code;
    const char* text;
    unsigned family;
};

const KnownError Errors[] = {
    {-6, "Communication error", Transaction},
    {-6, "Incorrect node address in response", Transaction},
    {-6, "Exception: Illegal function", Transaction},
    {-6, "Exception: Illegal data address", Transaction},
    {-6, "Exception: Illegal data value", Transaction},
    {-6, "Exception: Failure in device", Transaction},
    {-6, "Unknown exception", Transaction},
    {-6, "Incorrect operation in response", Transaction},
    {-6, "Incorrect data length received", Transaction},
    {-6, "Incorrect offset in response", Transaction},
    {-6, "Incorrect writing data acknowledge", Transaction},
    {-6, "Incorrect count in response", Transaction},
    {-10, "Node disabled", Transaction},
    {-10, "Broadcast request", Transaction},
    {-9, "read conversion error", ReadConversion},
    {-9, "write conversion error", WriteFailure},
    {-1, "writing to read_only type", WriteFailure},
    {-1, "accessing array item out of range", ArrayItem},
    {-1, "accessing an array item where the tag is not array", ArrayItem},
};

class Session {
  public:
    Session(FuzzInput& input, const std::string& model, int repeats)
        : in(input), ismg(model.rfind("ISMG", 0) == 0), repeat(repeats) {}

    DriverRig rig;

    void run(uint8_t code);

  private:
    Protocol_QARN& protocol() { return *rig.protocol; }
    uint8_t addressedNode(const Tag_QARN* tag) const {
        return static_cast<uint8_t>((tag->getNodeId() == 1 ? node1 : tag->getNodeId()) & 0xFF);
    }
    void read(const TagCase& c, const Tag_QARN* tag);
    void write(const TagCase& c, const Tag_QARN* tag);
    void mergedRead(const Tag_QARN* first);
    void arrayItem(const Tag_QARN* tag);
    // The outcome of one access: a known failure of the allowed families, or success with no
    // error recorded.
    void checkOutcome(bool ok, unsigned families, bool silentFailureAllowed = false);
    // The requests sent, without the ISMG wrapper.
    std::vector<Bytes> bareRequests() const;
    void checkRequests(uint8_t node, bool slaveAddressTag);
    void checkAttempts() {
        const int sends = rig.port.count(Op::Send);
        FUZZ_CHECK(sends <= (repeat < 0 ? 0 : repeat + 1), std::to_string(sends) + " attempts");
        FUZZ_CHECK(rig.port.count(Op::Receive) == sends, "one receive per request");
    }
    // A disabled node is never addressed, nor is a node read by broadcast: such an access fails
    // at once, before any traffic.
    void checkUnreachable(const Tag_QARN* tag, bool ok, int sends, bool reading) {
        const uint8_t node = addressedNode(tag);
        if (tag->getReadCode() != 0 && (node == 255 || (node == 0 && reading))) {
            // A write may be refused earlier still, for its memory type.
            FUZZ_CHECK(!ok && sends == 0 && (!reading || rig.protocol->GetLastError() == -10),
                       "node " + std::to_string(node) + " addressed: " + rig.lastError());
        }
    }
    void checkRefusal() const;
    bool bareAnswer(const ScriptedAnswer& delivered, Bytes& answer) const;
    // The bare answer that ended the last transaction.
    Bytes acceptedAnswer() const;
    // Each request that awaited an answer, with the well-framed answer it got, if any.
    struct Exchange {
        Bytes request;
        Bytes answer;
        bool answered;
    };
    std::vector<Exchange> exchanges() const;

    FuzzInput& in;
    // QARN_FUZZ_TRACE set: every access and its outcome on standard error, to see what an
    // input does.
    const bool trace = std::getenv("QARN_FUZZ_TRACE") != nullptr;
    bool ismg;
    int repeat;
    int node1 = 1;  // what node 1 is addressed as, after the override table
    std::vector<ScriptedAnswer> answers;
};

void Session::run(uint8_t code) {
    const TagCase& c = Tags[code & 0x0F];
    ITag* created = protocol().CreateTag(c.address);
    const uint8_t counts = in.byte();
    if (created == nullptr) {
        return;
    }
    const auto* tag = static_cast<const Tag_QARN*>(created);
    const uint8_t node = addressedNode(tag);
    const int access = (code >> 4) & 3;
    AnswerHint hint;
    hint.node = node;
    hint.function =
        access == 1 && tag->getWriteCode() != 0 ? tag->getWriteCode() : tag->getReadCode();
    rig.port.clearScript();
    rig.port.clearCalls();
    answers = queueAnswers(in, rig.port, counts & 7, hint);
    protocol().SetError(SentinelCode, SentinelText);

    switch (access) {
        case 0:
            read(c, tag);
            break;
        case 1:
            write(c, tag);
            break;
        case 2:
            mergedRead(tag);
            break;
        default:
            arrayItem(tag);
            break;
    }
    checkRequests(node, tag->getMemoryType()->isNamed("SL"));
    if (trace) {
        static const char* const Accesses[] = {"read", "write", "merged read", "array item"};
        std::fprintf(stderr, "  %s %s: %d requests, %s\n", Accesses[access], c.address,
                     rig.port.count(Op::Send), rig.lastError().c_str());
    }
    protocol().FreeTag(created);
}

void Session::read(const TagCase& c, const Tag_QARN* tag) {
    const int length = tag->GetVarLength();
    // Exactly the host value's size, so that a byte too many is an overflow.
    std::unique_ptr<uint8_t[]> value(new uint8_t[static_cast<size_t>(length)]);
    const bool ok = protocol().Read(tag, value.get());
    checkOutcome(ok, Transaction | ReadConversion);
    const bool pseudo = tag->getMemoryType()->isNamed("NO") || tag->getMemoryType()->isNamed("SL");
    if (pseudo) {
        FUZZ_CHECK(rig.port.count(Op::Send) == 0, "the node areas need no traffic");
        FUZZ_CHECK(ok && value[0] == addressedNode(tag), "a node area reads the node addressed");
        return;
    }
    checkAttempts();
    checkUnreachable(tag, ok, rig.port.count(Op::Send), true);
    if (!ok) {
        checkRefusal();
        return;
    }
    // The answer accepted is the whole answer to the last request: its node and function, the
    // byte count that the item count calls for, and as many data bytes.
    const Bytes answer = acceptedAnswer();
    const Bytes request = bareRequests().back();
    const int count = be16(&request[4]);
    const size_t dataBytes = ProtUtilsN::IsBitType(tag->getMemoryType()->getNaturalType())
                                 ? static_cast<size_t>((count + 7) / 8)
                                 : static_cast<size_t>(2 * count);
    FUZZ_CHECK(answer.size() == dataBytes + 5 && answer[0] == request[0] &&
                   answer[1] == request[1] && answer[2] == (dataBytes & 0xFF),
               "accepted " + qarntest::toHex(answer) + " for " + qarntest::toHex(request));
    if (c.expect != nullptr) {
        c.expect(value.get(), answer);
    }
}

void Session::write(const TagCase& c, const Tag_QARN* tag) {
    const int length = tag->GetVarLength();
    Bytes given = in.bytes(static_cast<size_t>(length));
    given.resize(static_cast<size_t>(length));
    std::unique_ptr<uint8_t[]> value(new uint8_t[static_cast<size_t>(length)]);
    std::memcpy(value.get(), given.data(), given.size());
    const bool ok = protocol().Write(tag, value.get());
    // A slave-address frame answered by anything but its echo fails without a text.
    checkOutcome(ok, Transaction | WriteFailure, tag->getMemoryType()->isNamed("SL"));
    if (addressedNode(tag) == 0) {
        FUZZ_CHECK(rig.port.count(Op::Receive) == 0, "an answer awaited from a broadcast");
    } else {
        checkUnreachable(tag, ok, rig.port.count(Op::Send), false);
    }
    if (ok) {
        // The frames are looked into only once they are known to be well-formed.
        checkRequests(addressedNode(tag), tag->getMemoryType()->isNamed("SL"));
        expectWritten(c.written, value.get(), bareRequests());
        // Every write request that got a well-framed answer got its acknowledgement: node,
        // function, address and data (or count) as sent.
        for (const Exchange& e : exchanges()) {
            const uint8_t function = e.request[1];
            if (e.answered && (function == ModbusFrameN::WriteSingleCoil ||
                               function == ModbusFrameN::WriteSingleRegister ||
                               function == ModbusFrameN::WriteMultipleRegisters)) {
                FUZZ_CHECK(
                    e.answer.size() >= 8 &&
                        std::equal(e.request.begin(), e.request.begin() + 6, e.answer.begin()),
                    "write acknowledged by " + qarntest::toHex(e.answer));
            }
        }
    }
    if (tag->isNodeOverrideTag()) {
        FUZZ_CHECK(ok, "a node override is always written");
        FUZZ_CHECK(rig.port.count(Op::Send) == 0, "a node override needs no traffic");
        if (tag->getNodeId() == 1) {
            node1 = value[0];
        }
    }
}

void Session::mergedRead(const Tag_QARN* first) {
    ITag* created = protocol().CreateTag(Tags[in.byte() & 0x0F].address);
    if (created == nullptr) {
        return;
    }
    const auto* second = static_cast<const Tag_QARN*>(created);
    if (protocol().CanBeOptimized(first, second, false)) {
        // The span from the first tag's first byte to the second tag's last, as a host asks.
        const int length = second->GetByteOffset() + second->PackedLen() - first->GetByteOffset();
        FUZZ_CHECK(length > 0, "merged span of " + std::to_string(length) + " bytes");
        std::unique_ptr<uint8_t[]> raw(new uint8_t[static_cast<size_t>(length)]);
        const bool ok = protocol().ReadBlock(first, raw.get(), length);
        checkOutcome(ok, Transaction);
        checkAttempts();
        checkUnreachable(first, ok, rig.port.count(Op::Send), true);
        const bool registers = !ProtUtilsN::IsBitType(first->getMemoryType()->getNaturalType());
        for (const Bytes& frame : rig.port.requests()) {
            if (registers && frame.size() >= 6u + (ismg ? 1 : 0)) {
                const int count = be16(&frame[ismg ? 5 : 4]);
                FUZZ_CHECK(count <= first->getMemoryType()->getBlockReadCount(),
                           "merged read of " + std::to_string(count) + " registers");
                FUZZ_CHECK(count <= first->getNodeParams()->maxOptLen / 2,
                           "merged read beyond maxOptLen: " + std::to_string(count));
            }
        }
    }
    protocol().FreeTag(created);
}

void Session::arrayItem(const Tag_QARN* tag) {
    const int index = static_cast<int8_t>(in.byte());
    const bool writing = (in.byte() & 1) != 0;
    const int length = ProtUtilsN::GetBasicLength(tag);
    std::unique_ptr<uint8_t[]> item(new uint8_t[static_cast<size_t>(length > 0 ? length : 1)]);
    std::memset(item.get(), 0x5A, static_cast<size_t>(length > 0 ? length : 1));
    const bool ok = writing ? protocol().writeArrayItem(tag, index, item.get())
                            : protocol().readArrayItem(tag, index, item.get());
    checkOutcome(ok, Transaction | ReadConversion | WriteFailure | ArrayItem,
                 writing && tag->getMemoryType()->isNamed("SL"));
}

void Session::checkOutcome(bool ok, unsigned families, bool silentFailureAllowed) {
    const int code = protocol().GetLastError();
    const std::string text = protocol().GetLastErrorString();
    const bool untouched = code == SentinelCode && text == SentinelText;
    if (ok) {
        FUZZ_CHECK(untouched, "success with an error recorded: " + rig.lastError());
        return;
    }
    if (untouched) {
        FUZZ_CHECK(silentFailureAllowed, "failure without an error");
        return;
    }
    for (const KnownError& e : Errors) {
        if (e.code == code && text == e.text) {
            FUZZ_CHECK((e.family & families) != 0, "out of place: " + rig.lastError());
            return;
        }
    }
    FUZZ_CHECK(false, "unknown error: " + rig.lastError());
}

std::vector<Bytes> Session::bareRequests() const {
    std::vector<Bytes> frames;
    for (const Bytes& frame : rig.port.requests()) {
        if (ismg) {
            FUZZ_CHECK(frame.size() >= 2 && frame.front() == ModbusFrameN::IsmgStart &&
                           frame.back() == ModbusFrameN::IsmgEnd,
                       "ISMG request without its wrapper: " + qarntest::toHex(frame));
            frames.emplace_back(frame.begin() + 1, frame.end() - 1);
        } else {
            frames.push_back(frame);
        }
    }
    return frames;
}

// Every request: the wrapper exactly for ISMG devices, a good CRC, the node addressed, a
// function the driver sends and the length that function has.
void Session::checkRequests(uint8_t node, bool slaveAddressTag) {
    for (const Bytes& frame : bareRequests()) {
        FUZZ_CHECK(
            frame.size() >= 4 && qarntest::withCrc(Bytes(frame.begin(), frame.end() - 2)) == frame,
            "request with a bad CRC: " + qarntest::toHex(frame));
        FUZZ_CHECK(frame[0] == node, "request to node " + std::to_string(frame[0]) +
                                         " instead of " + std::to_string(node));
        const size_t size = frame.size();
        switch (frame[1]) {
            case ModbusFrameN::ReadCoils:
            case ModbusFrameN::ReadInputs:
            case ModbusFrameN::ReadHoldingRegisters:
            case ModbusFrameN::ReadInputRegisters:
            case ModbusFrameN::WriteSingleRegister:
                FUZZ_CHECK(size == 8, "request length " + qarntest::toHex(frame));
                break;
            case ModbusFrameN::WriteSingleCoil:
                FUZZ_CHECK(size == 8 && (frame[4] == 0xFF || frame[4] == 0) && frame[5] == 0,
                           "coil request " + qarntest::toHex(frame));
                break;
            case ModbusFrameN::WriteMultipleRegisters: {
                const size_t n = be16(&frame[4]);
                FUZZ_CHECK(n >= 1 && n <= ModbusFrameN::MaxWriteRegisters && frame[6] == 2 * n &&
                               size == 9 + 2 * n,
                           "function 16 request " + qarntest::toHex(frame));
                break;
            }
            case ModbusFrameN::SlaveAddressFunction:
                FUZZ_CHECK(ismg && slaveAddressTag && size == 11,
                           "slave-address request " + qarntest::toHex(frame));
                break;
            default:
                FUZZ_CHECK(false, "unexpected function " + qarntest::toHex(frame));
        }
    }
}

// A read that failed on a well-framed answer (the first one: it ends the transaction) names the
// answer's fault: another node, or the exception the device sent.
void Session::checkRefusal() const {
    static const char* const ExceptionTexts[] = {
        "Unknown exception", "Exception: Illegal function", "Exception: Illegal data address",
        "Exception: Illegal data value", "Exception: Failure in device"};
    for (const Exchange& e : exchanges()) {
        if (!e.answered) {
            continue;
        }
        const std::string text = rig.protocol->GetLastErrorString();
        if (e.answer[0] != e.request[0]) {
            FUZZ_CHECK(text == "Incorrect node address in response",
                       qarntest::toHex(e.answer) + " refused with " + rig.lastError());
        } else if (e.answer.size() == ModbusFrameN::ExceptionLength &&
                   e.answer[1] == (e.request[1] | ModbusFrameN::ExceptionFlag)) {
            const uint8_t code = e.answer[2];
            FUZZ_CHECK(text == ExceptionTexts[code <= 4 ? code : 0],
                       qarntest::toHex(e.answer) + " refused with " + rig.lastError());
        }
        return;
    }
}

// The bare frame the driver sees of a delivered answer: cut to its buffer, without the ISMG
// wrapper; false when the driver must take it for no answer (wrapper missing, CRC bad).
bool Session::bareAnswer(const ScriptedAnswer& delivered, Bytes& answer) const {
    if (!delivered.delivers) {
        return false;
    }
    answer = delivered.bytes;
    if (answer.size() > ModbusFrameN::ResponseBufferSize) {
        answer.resize(ModbusFrameN::ResponseBufferSize);
    }
    if (ismg) {
        if (answer.size() < 2 || answer.front() != ModbusFrameN::IsmgStart ||
            answer.back() != ModbusFrameN::IsmgEnd) {
            return false;
        }
        answer = Bytes(answer.begin() + 1, answer.end() - 1);
    }
    return answer.size() > 4 &&
           qarntest::withCrc(Bytes(answer.begin(), answer.end() - 2)) == answer;
}

Bytes Session::acceptedAnswer() const {
    const size_t consumed = answers.size() - static_cast<size_t>(rig.port.pendingAnswers());
    Bytes answer;
    FUZZ_CHECK(consumed > 0 && bareAnswer(answers[consumed - 1], answer),
               "success without a well-framed answer");
    return answer;
}

std::vector<Session::Exchange> Session::exchanges() const {
    std::vector<Exchange> pairs;
    Bytes request;
    size_t next = 0;
    for (const auto& call : rig.port.calls()) {
        if (call.op == Op::Send) {
            request = call.bytes;
        } else if (call.op == Op::Receive) {
            // An empty queue answers with silence and consumes nothing.
            Exchange e{ismg ? Bytes(request.begin() + 1, request.end() - 1) : request, {}, false};
            if (next < answers.size()) {
                e.answered = bareAnswer(answers[next++], e.answer);
            }
            pairs.push_back(e);
        }
    }
    return pairs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t setup = in.byte();
    const std::string model = Models[setup & 3];
    const int repeat = Repeats[(setup >> 2) & 3];
    std::string nodes = "defNodeId=1 model=" + model + " repeat=" + std::to_string(repeat);
    if ((setup & 0x10) != 0) {
        nodes += " presetFunction=16";
    }
    if ((setup & 0x20) != 0) {
        nodes += " maxOptLen=20";
    }
    Session session(in, model, repeat);
    FUZZ_CHECK(session.rig.configure(LineConfig + nodes), session.rig.lastError());
    FUZZ_CHECK(session.rig.protocol->Start(), session.rig.lastError());
    for (int op = 0; op < MaxOperations && !in.empty(); ++op) {
        session.run(in.byte());
    }
    return 0;
}
