#include <qarn/sim/Profile.h>

#include <strings.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

struct AreaInfo {
    const char* keyword;
    Area area;
    uint32_t digit;  // first digit of the 6-digit address form
};
constexpr AreaInfo Areas[] = {
    {"coil", Area::Coils, 0},
    {"input", Area::DiscreteInputs, 1},
    {"ireg", Area::InputRegisters, 3},
    {"hreg", Area::HoldingRegisters, 4},
};

struct TypeInfo {
    const char* keyword;
    ValueType type;
    double min;
    double max;
};
constexpr TypeInfo Types[] = {
    {"bit", ValueType::Bit, 0, 1},
    {"uint16", ValueType::UInt16, 0, 65535},
    {"int16", ValueType::Int16, -32768, 32767},
    {"uint32", ValueType::UInt32, 0, 4294967295.0},
    {"int32", ValueType::Int32, -2147483648.0, 2147483647},
    {"float32", ValueType::Float32, -3.4028234663852886e38, 3.4028234663852886e38},
};

const TypeInfo* findType(const std::string& word) {
    for (const TypeInfo& t : Types) {
        if (word == t.keyword) {
            return &t;
        }
    }
    return nullptr;
}

bool isBitArea(Area area) {
    return area == Area::Coils || area == Area::DiscreteInputs;
}

[[noreturn]] void fail(const std::string& text) {
    throw ProfileError(text);
}

double parseNumber(const std::string& word, const char* what) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(word.c_str(), &end);
    if (word.empty() || *end != '\0' || errno != 0 || !std::isfinite(v)) {
        fail(std::string(what) + " '" + word + "' is not a number");
    }
    return v;
}

// A written address, 1-based or in the 6-digit form of its area, as a 0-based item number.
uint32_t parseAddress(const std::string& word, const AreaInfo& area) {
    errno = 0;
    char* end = nullptr;
    const long long n = std::strtoll(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || errno != 0) {
        fail("address '" + word + "' is not a number");
    }
    const long long base = static_cast<long long>(area.digit) * 100000;
    if (n >= 1 && n <= AreaSize) {
        return static_cast<uint32_t>(n - 1);
    }
    if (n > base && n <= base + AreaSize) {
        return static_cast<uint32_t>(n - base - 1);
    }
    fail("address " + word + " is outside the " + area.keyword + " area");
}

void parseItems(const std::vector<std::string>& tok, const AreaInfo& area, ProfileEntry& e) {
    size_t at = 1;
    if (at >= tok.size()) {
        fail("address missing");
    }
    const std::string& where = tok[at++];
    const size_t dots = where.find("..");
    const uint32_t first = parseAddress(where.substr(0, dots), area);
    const uint32_t last =
        dots == std::string::npos ? first : parseAddress(where.substr(dots + 2), area);
    if (last < first) {
        fail("range " + where + " ends before it starts");
    }

    const TypeInfo* type = at < tok.size() ? findType(tok[at]) : nullptr;
    if (type != nullptr) {
        ++at;
    } else {
        type = findType(isBitArea(area.area) ? "bit" : "uint16");
    }
    if (isBitArea(area.area) != (type->type == ValueType::Bit)) {
        fail(std::string("type ") + type->keyword + " does not fit the " + area.keyword + " area");
    }
    e.area = area.area;
    e.type = type->type;
    e.first = first;
    const uint32_t width = widthOf(e.type);
    e.count = dots == std::string::npos ? width : last - first + 1;
    if (e.count % width != 0 || e.first + e.count > AreaSize) {
        fail("range " + where + " does not hold whole " + type->keyword + " values");
    }
    e.writable = area.area == Area::Coils || area.area == Area::HoldingRegisters;

    if (at >= tok.size()) {
        fail("value missing");
    }
    const std::string& valueWord = tok[at];
    if (valueWord == "index") {
        if (e.type != ValueType::Bit && e.type != ValueType::UInt16) {
            fail("index values need type bit or uint16");
        }
        e.indexValue = true;
    } else {
        e.value = parseNumber(valueWord, "value");
    }
    ++at;

    auto argument = [&](const char* option) {
        if (at >= tok.size()) {
            fail(std::string(option) + " needs a number");
        }
        return parseNumber(tok[at++], option);
    };
    while (at < tok.size()) {
        const std::string& opt = tok[at++];
        if (opt == "ro") {
            e.writable = false;
        } else if (opt == "lsw") {
            if (width != 2) {
                fail("lsw needs a 32-bit type");
            }
            e.lowWordFirst = true;
        } else if (opt == "rate") {
            e.rate = argument("rate");
        } else if (opt == "wave") {
            e.waveAmplitude = argument("wave");
            e.wavePeriod = argument("wave");
            if (e.wavePeriod <= 0) {
                fail("wave period must be above 0 seconds");
            }
        } else if (opt == "noise") {
            e.noise = argument("noise");
            if (e.noise < 0) {
                fail("noise must not be negative");
            }
        } else {
            fail("unknown option '" + opt + "'");
        }
    }

    if (e.live() && (e.type == ValueType::Bit || e.indexValue)) {
        fail("live values need a register type and a number");
    }
    if (!e.indexValue && !e.live()) {
        if (e.value < type->min || e.value > type->max) {
            fail("value " + valueWord + " out of range for " + type->keyword);
        }
        if (e.type != ValueType::Float32 && std::floor(e.value) != e.value) {
            fail(std::string("value of type ") + type->keyword + " must be an integer");
        }
    }
}

void parseStatement(const std::vector<std::string>& tok, Profile& p) {
    if (tok[0] == "framing") {
        if (tok.size() != 2 || (tok[1] != "rtu" && tok[1] != "ismg")) {
            fail("framing must be rtu or ismg");
        }
        p.ismgFraming = tok[1] == "ismg";
        return;
    }
    for (const AreaInfo& area : Areas) {
        if (tok[0] == area.keyword) {
            ProfileEntry e;
            parseItems(tok, area, e);
            p.entries.push_back(e);
            return;
        }
    }
    fail("unknown statement '" + tok[0] + "'");
}

// Meters: the same measurements in the holding and the input registers, items counted from 1.
// Signed 32-bit values, 0.1 V, mA, 0.1 W/VA/var; energy counters 0.01 kWh/kvarh, hours 0.01 h.
struct MeterRow {
    unsigned item;
    const char* comment;
    const char* rest;  // type, value and options
};
constexpr MeterRow MeterRows[] = {
    {1, "V L1-N", "int32 2300 ro wave 40 600 noise 4"},
    {3, "V L2-N", "int32 2300 ro wave 40 600 noise 4"},
    {5, "V L3-N", "int32 2300 ro wave 40 600 noise 4"},
    {7, "V L1-L2", "int32 3984 ro wave 60 600 noise 6"},
    {9, "V L2-L3", "int32 3984 ro wave 60 600 noise 6"},
    {11, "V L3-L1", "int32 3984 ro wave 60 600 noise 6"},
    {13, "A L1", "int32 8000 ro wave 5000 120 noise 100"},
    {15, "A L2", "int32 8000 ro wave 5000 120 noise 100"},
    {17, "A L3", "int32 8000 ro wave 5000 120 noise 100"},
    {19, "W L1", "int32 18000 ro wave 11000 120 noise 200"},
    {21, "W L2", "int32 18000 ro wave 11000 120 noise 200"},
    {23, "W L3", "int32 18000 ro wave 11000 120 noise 200"},
    {25, "W total", "int32 54000 ro wave 33000 120 noise 400"},
    {27, "VA total", "int32 57000 ro wave 34000 120 noise 400"},
    {29, "var total", "int32 12000 ro wave 8000 300 noise 200"},
    {31, "PF total, 0.001", "int16 950 ro wave 30 300 noise 5"},
    {32, "frequency, 0.1 Hz", "uint16 500 ro noise 1"},
    {33, "kWh import", "uint32 1234567 ro rate 0.15"},
    {35, "kWh export", "uint32 2345 ro"},
    {37, "kvarh import", "uint32 345678 ro rate 0.033"},
    {39, "operating hours", "uint32 98765 ro rate 0.0278"},
};
// The analysers add per-phase energy, distortion and demand right after.
constexpr MeterRow AnalyserRows[] = {
    {41, "kWh import L1", "uint32 411522 ro rate 0.05"},
    {43, "kWh import L2", "uint32 411523 ro rate 0.05"},
    {45, "kWh import L3", "uint32 411522 ro rate 0.05"},
    {47, "THD V L1, 0.1 %", "uint16 21 ro noise 3"},
    {48, "THD V L2, 0.1 %", "uint16 19 ro noise 3"},
    {49, "THD V L3, 0.1 %", "uint16 22 ro noise 3"},
    {50, "THD A L1, 0.1 %", "uint16 85 ro noise 10"},
    {51, "THD A L2, 0.1 %", "uint16 90 ro noise 10"},
    {52, "THD A L3, 0.1 %", "uint16 80 ro noise 10"},
    {53, "W demand", "int32 52000 ro wave 5000 900"},
    {55, "W peak demand", "int32 71000 ro"},
};

void appendRows(std::string& text, const MeterRow* rows, size_t n) {
    char line[160];
    for (size_t i = 0; i < n; ++i) {
        for (const char* area : {"hreg 4", "ireg 3"}) {
            std::snprintf(line, sizeof line, "%s%05u %s  # %s\n", area, rows[i].item, rows[i].rest,
                          rows[i].comment);
            text += line;
        }
    }
}

std::string meterText(unsigned modelCode, bool analyser) {
    std::string text = std::string(analyser ? "# Power analyser" : "# Energy meter") +
                       ", model code " + std::to_string(modelCode) + "\n";
    appendRows(text, MeterRows, sizeof MeterRows / sizeof MeterRows[0]);
    if (analyser) {
        appendRows(text, AnalyserRows, sizeof AnalyserRows / sizeof AnalyserRows[0]);
    }
    text += "# Identification and set-up, holding registers only\n";
    text += "hreg 400257 " + std::to_string(modelCode) + " ro  # model code\n";
    text += "hreg 400258 0x0102 ro  # firmware version\n";
    text += "hreg 400259 1  # current transformer ratio\n";
    text += "hreg 400260 1  # voltage transformer ratio\n";
    text += "hreg 400261 3  # measuring system: 3 = three phases with neutral\n";
    return text;
}

std::string ismgText(unsigned modelCode, unsigned counters, unsigned userRegisters) {
    std::string text = "# Gateway with pulse counters, model code " + std::to_string(modelCode) +
                       "\nframing ismg\n";
    text += "hreg 400001 " + std::to_string(modelCode) + " ro  # model code\n";
    text += "hreg 400002 1 ro  # status: 1 = running\n";
    text += "hreg 400003 uint32 0 ro rate 1  # seconds since start\n";
    static const char* const rates[] = {"0.5", "0.2", "0.05", "0", "1", "0.1", "0.02", "0"};
    for (unsigned i = 0; i < counters; ++i) {
        text += "hreg " + std::to_string(400005 + 2 * i) + " uint32 " + std::to_string(1000 * i) +
                " ro rate " + rates[i % 8] + "  # pulse counter " + std::to_string(i + 1) + "\n";
    }
    const unsigned user = 400005 + 2 * counters;
    text += "hreg " + std::to_string(user) + ".." + std::to_string(user + userRegisters - 1) +
            " 0  # user registers\n";
    return text;
}

struct Builtin {
    const char* name;
    const char* canonical;
};
constexpr Builtin Builtins[] = {
    {"EM21", "EM21"},
    {"EM24", "EM24"},
    {"EM26", "EM26"},
    {"WM30", "WM30"},
    {"WM40", "WM40"},
    {"ISMG1xx", "ISMG1xx"},
    {"ISMG3xx", "ISMG3xx"},
    {"GenericModbus", "GenericModbus"},
    {"generic", "GenericModbus"},
};

const Builtin* findBuiltin(const std::string& name) {
    for (const Builtin& b : Builtins) {
        if (strcasecmp(name.c_str(), b.name) == 0) {
            return &b;
        }
    }
    return nullptr;
}

}  // namespace

uint32_t widthOf(ValueType type) {
    return type == ValueType::UInt32 || type == ValueType::Int32 || type == ValueType::Float32 ? 2
                                                                                               : 1;
}

Profile parseProfile(std::istream& in, const std::string& name) {
    Profile p;
    p.name = name;
    std::string line;
    unsigned lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        const size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.erase(hash);
        }
        std::istringstream words(line);
        std::vector<std::string> tok;
        for (std::string w; words >> w;) {
            tok.push_back(w);
        }
        if (tok.empty()) {
            continue;
        }
        try {
            parseStatement(tok, p);
        } catch (const ProfileError& e) {
            throw ProfileError(name + ":" + std::to_string(lineNo) + ": " + e.what());
        }
    }
    if (p.entries.empty()) {
        throw ProfileError(name + ": the profile defines no items");
    }
    return p;
}

Profile parseProfile(const std::string& text, const std::string& name) {
    std::istringstream in(text);
    return parseProfile(in, name);
}

const std::vector<std::string>& builtinProfileNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> v;
        for (const Builtin& b : Builtins) {
            v.emplace_back(b.name);
        }
        return v;
    }();
    return names;
}

std::string builtinProfileText(const std::string& name) {
    const Builtin* b = findBuiltin(name);
    if (b == nullptr) {
        return {};
    }
    const std::string model = b->canonical;
    if (model == "EM21") {
        return meterText(21, false);
    }
    if (model == "EM24") {
        return meterText(24, false);
    }
    if (model == "EM26") {
        return meterText(26, false);
    }
    if (model == "WM30") {
        return meterText(30, true);
    }
    if (model == "WM40") {
        return meterText(40, true);
    }
    if (model == "ISMG1xx") {
        return ismgText(100, 4, 40);
    }
    if (model == "ISMG3xx") {
        return ismgText(300, 8, 64);
    }
    return "# Generic I/O device: every item of every area, coils and holding registers writable\n"
           "coil 1..65536 0\n"
           "input 100001..165536 index\n"
           "hreg 400001..465536 0\n"
           "ireg 300001..365536 index\n";
}

Profile loadProfile(const std::string& nameOrPath) {
    if (const Builtin* b = findBuiltin(nameOrPath)) {
        return parseProfile(builtinProfileText(nameOrPath), b->canonical);
    }
    std::ifstream file(nameOrPath);
    if (!file) {
        throw ProfileError("unknown profile '" + nameOrPath +
                           "': neither a device model nor a readable profile file");
    }
    return parseProfile(file, nameOrPath);
}

}  // namespace sim
