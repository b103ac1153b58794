#pragma once
// The byte-order finder: every data type and conversion list that the plug-in could read a
// window of registers with, each decoded by the plug-in itself from one read of the window, and
// which of them give a value the user knows the device holds.
//
// The byte-moving conversions swap2, swap4 and swap8 each reverse the bytes in groups of 2, 4 or
// 8; they commute and each undoes itself, so a set of them (written in that order) names every
// byte order a value can have, once: 2 for 16-bit, 4 for 32-bit and 8 for 64-bit values.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <qarn/commission/TagAddress.h>
#include <qarn/scan/Scan.h>
#include <qarn/toolkit/ValueCodec.h>

class IProtocol;

namespace qarn {

// A data type and the conversions to read it with.
struct Interpretation {
    std::string type;                      // "float", "string-8"
    std::vector<std::string> conversions;  // a subset of swap2, swap4, swap8, in that order

    // The data-type field of a tag address: "float(swap2,swap4)", or "float" without any.
    std::string dataType() const;
};

// Every byte-moving conversion list for a value of `bytes` bytes, the shortest first.
std::vector<std::vector<std::string>> byteOrders(int bytes);
// Every numeric type (each integer type unsigned and signed, float, double) under every byte
// order, as far as `registers` registers hold them.
std::vector<Interpretation> numberInterpretations(int registers);
// Those, and the string over the whole window under every byte order.
std::vector<Interpretation> allInterpretations(int registers);
// The strings that could hold a text of `length` bytes, under every byte order: the shortest
// string each order can read (the groups must fit whole).
std::vector<Interpretation> textInterpretations(size_t length, int registers);

// How far a decoded number may be from the one looked for: absolute, or a percentage of it.
struct Tolerance {
    double amount = 0;
    bool percent = false;

    double bound(double target) const;
};
// "0.5" or "0.1%". Throws UsageError for anything else, or a negative amount.
Tolerance parseTolerance(const std::string& text);

// One interpretation as read: its tag address and what the plug-in made of the window.
struct Candidate {
    Interpretation how;
    std::string tag;
    bool ok = false;
    DecodedValue value{};
    std::string error;  // when not ok: why the plug-in refused the tag or the conversion
};

struct Match {
    size_t candidate;   // index into the candidates
    double difference;  // 0 for an exact match (for text always)
};

// The candidates that decode to `target`, best first: fewest conversions, then the smallest
// difference, then the candidates' order. A number matches when it is within the tolerance, or
// when it is the target as the candidate's type stores it (230.1 as a float).
std::vector<Match> matchNumber(const std::vector<Candidate>& candidates, double target,
                               const Tolerance& tolerance);
// Those whose string starts with `text` and holds only NULs or blanks after it.
std::vector<Match> matchText(const std::vector<Candidate>& candidates, const std::string& text);

struct WindowReading {
    std::vector<uint16_t> registers;  // the window as the device holds it
    std::vector<Candidate> candidates;
    size_t requests = 0;  // requests the read took on the line
};

// Reads `registers` registers at `base` (an address without a type) with one tag for the window
// and one for every interpretation, all in one planned read. A tag the plug-in refuses stays
// unread with its reason. Throws Failure when the window itself can't be read.
WindowReading readWindow(IProtocol& protocol, const TagAddress& base, int registers,
                         const std::vector<Interpretation>& interpretations, ScanHooks hooks = {});

}  // namespace qarn
