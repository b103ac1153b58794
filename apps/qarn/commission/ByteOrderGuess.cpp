#include <qarn/commission/ByteOrderGuess.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include <qarn/commission/TagBatch.h>
#include <qarn/host/DataTypes.h>
#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

constexpr int RegisterBytes = 2;
constexpr int Groups[] = {2, 4, 8};

// The numeric types in the order the table lists them; their sizes come from the host's table.
const char* const NumberTypes[] = {"unsignedShort", "short",  "unsignedInt",  "int",
                                   "float",         "double", "unsignedByte", "byte"};

int sizeOf(const std::string& name) {
    for (const HostDataType& row : HostDataTypes) {
        if (name == row.name) {
            return row.length;
        }
    }
    return 0;
}

int largestGroup(const std::vector<std::string>& conversions) {
    // The names end in their group's digit; the list is in ascending order.
    return conversions.empty() ? 1 : conversions.back().back() - '0';
}

bool isSingleFloat(const Candidate& c) {
    return c.how.type == "float";
}

}  // namespace

std::string Interpretation::dataType() const {
    std::string text = type;
    for (size_t i = 0; i < conversions.size(); ++i) {
        text += (i == 0 ? "(" : ",") + conversions[i];
    }
    return conversions.empty() ? text : text + ")";
}

std::vector<std::vector<std::string>> byteOrders(int bytes) {
    std::vector<std::string> usable;
    for (const int g : Groups) {
        if (g <= bytes && bytes % g == 0) {
            usable.push_back("swap" + std::to_string(g));
        }
    }
    std::vector<std::vector<std::string>> orders;
    const unsigned sets = 1u << usable.size();
    for (unsigned set = 0; set < sets; ++set) {
        std::vector<std::string> list;
        for (size_t i = 0; i < usable.size(); ++i) {
            if ((set >> i) & 1u) {
                list.push_back(usable[i]);
            }
        }
        orders.push_back(list);
    }
    // Shortest first; equal lengths keep the set's order, which is swap2 before swap4 before swap8.
    std::stable_sort(orders.begin(), orders.end(),
                     [](const auto& a, const auto& b) { return a.size() < b.size(); });
    return orders;
}

std::vector<Interpretation> numberInterpretations(int registers) {
    std::vector<Interpretation> list;
    for (const char* type : NumberTypes) {
        const int bytes = sizeOf(type);
        if (bytes > registers * RegisterBytes) {
            continue;
        }
        for (auto& order : byteOrders(bytes)) {
            list.push_back(Interpretation{type, std::move(order)});
        }
    }
    return list;
}

std::vector<Interpretation> allInterpretations(int registers) {
    std::vector<Interpretation> list = numberInterpretations(registers);
    const int bytes = registers * RegisterBytes;
    for (auto& order : byteOrders(bytes)) {
        list.push_back(Interpretation{"string-" + std::to_string(bytes), std::move(order)});
    }
    return list;
}

std::vector<Interpretation> textInterpretations(size_t length, int registers) {
    std::vector<Interpretation> list;
    const size_t window = static_cast<size_t>(registers) * RegisterBytes;
    // Every order that a string of the window's length knows, each with the shortest string
    // it can convert (a whole number of its largest group).
    int widest = 2;
    while (widest < 8 && static_cast<size_t>(widest) * 2 <= window) {
        widest *= 2;
    }
    for (auto& order : byteOrders(widest)) {
        const size_t group = static_cast<size_t>(largestGroup(order));
        const size_t bytes = (std::max<size_t>(length, 1) + group - 1) / group * group;
        if (bytes <= window) {
            list.push_back(Interpretation{"string-" + std::to_string(bytes), std::move(order)});
        }
    }
    return list;
}

double Tolerance::bound(double target) const {
    return percent ? std::fabs(target) * amount / 100.0 : amount;
}

Tolerance parseTolerance(const std::string& text) {
    Tolerance t;
    std::string number = text;
    if (!number.empty() && number.back() == '%') {
        t.percent = true;
        number.pop_back();
    }
    const char* end = number.data() + number.size();
    const auto r = std::from_chars(number.data(), end, t.amount);
    if (number.empty() || r.ec != std::errc() || r.ptr != end || !(t.amount >= 0) ||
        !std::isfinite(t.amount)) {
        throw UsageError(
            "--tolerance must be a number of 0 or more, or a percentage like 0.1%, "
            "not '" +
            text + "'");
    }
    return t;
}

std::vector<Match> matchNumber(const std::vector<Candidate>& candidates, double target,
                               const Tolerance& tolerance) {
    std::vector<Match> matches;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& c = candidates[i];
        if (!c.ok || c.value.shape != DecodedValue::Shape::Scalar || c.value.items.size() != 1) {
            continue;
        }
        const Element& e = c.value.items[0];
        double x = 0;
        switch (e.kind) {
            case Element::Real:
                x = e.d;
                break;
            case Element::Signed:
                x = static_cast<double>(e.i);
                break;
            case Element::Unsigned:
                x = static_cast<double>(e.u);
                break;
            case Element::Bool:
                continue;
        }
        if (std::isnan(x)) {
            continue;
        }
        // A float holds 230.1 only as the float nearest to it: that is an exact match too.
        const bool stored = x == target || (isSingleFloat(c) && std::isfinite(target) &&
                                            std::fabs(target) <= 3.4028234663852886e38 &&
                                            x == static_cast<double>(static_cast<float>(target)));
        const double difference = stored ? 0.0 : std::fabs(x - target);
        if (stored || difference <= tolerance.bound(target)) {
            matches.push_back(Match{i, difference});
        }
    }
    std::stable_sort(matches.begin(), matches.end(), [&candidates](const Match& a, const Match& b) {
        const size_t ca = candidates[a.candidate].how.conversions.size();
        const size_t cb = candidates[b.candidate].how.conversions.size();
        return ca != cb ? ca < cb : a.difference < b.difference;
    });
    return matches;
}

std::vector<Match> matchText(const std::vector<Candidate>& candidates, const std::string& text) {
    std::vector<Match> matches;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& c = candidates[i];
        if (!c.ok || c.value.shape != DecodedValue::Shape::Text ||
            c.value.text.compare(0, text.size(), text) != 0) {
            continue;
        }
        // The decoded text ends at the first NUL; what is left of it must be padding.
        if (c.value.text.find_first_not_of(' ', text.size()) == std::string::npos) {
            matches.push_back(Match{i, 0.0});
        }
    }
    std::stable_sort(matches.begin(), matches.end(), [&candidates](const Match& a, const Match& b) {
        return candidates[a.candidate].how.conversions.size() <
               candidates[b.candidate].how.conversions.size();
    });
    return matches;
}

WindowReading readWindow(IProtocol& protocol, const TagAddress& base, int registers,
                         const std::vector<Interpretation>& interpretations, ScanHooks hooks) {
    TagBatch batch(protocol);
    const std::string windowTag = base.with("unsignedShort-" + std::to_string(registers));
    size_t window = 0;
    std::string why;
    if (!batch.tryAdd(windowTag, window, why)) {
        throw Failure(windowTag + ": " + why + " (the window must be registers: HREG or IREG)");
    }
    WindowReading reading;
    std::vector<size_t> index(interpretations.size(), SIZE_MAX);
    for (size_t i = 0; i < interpretations.size(); ++i) {
        Candidate c;
        c.how = interpretations[i];
        c.tag = base.with(c.how.dataType());
        if (!batch.tryAdd(c.tag, index[i], c.error)) {
            index[i] = SIZE_MAX;
        }
        reading.candidates.push_back(std::move(c));
    }
    batch.plan(std::move(hooks));
    batch.read();
    reading.requests = batch.requests();
    const TagResult& w = batch.result(window);
    if (!w.ok && w.code == 0) {
        throw Failure(base.place() + ": stopped before the registers were read");
    }
    if (!w.ok) {
        throw Failure(base.place() + ": the " + std::to_string(registers) +
                      " registers were not read: error " + std::to_string(w.code) + ": " + w.text);
    }
    for (const Element& e : batch.value(window).items) {
        reading.registers.push_back(static_cast<uint16_t>(e.u));
    }
    for (size_t i = 0; i < interpretations.size(); ++i) {
        Candidate& c = reading.candidates[i];
        if (index[i] == SIZE_MAX) {
            continue;
        }
        const TagResult& r = batch.result(index[i]);
        c.ok = r.ok;
        if (r.ok) {
            c.value = batch.value(index[i]);
        } else {
            c.error = "error " + std::to_string(r.code) + ": " + r.text;
        }
    }
    return reading;
}

}  // namespace qarn
