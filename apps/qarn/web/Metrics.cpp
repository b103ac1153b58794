#include <qarn/web/Metrics.h>

#include <cmath>
#include <sstream>
#include <string>

#include <qarn/web/LineState.h>

namespace qarn::web {

namespace {

// Shortest text that reads back to the same double; the format's own names for the rest.
std::string number(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    for (int precision = 15;; precision = 17) {
        std::ostringstream out;
        out.precision(precision);
        out << value;
        if (precision == 17 || std::stod(out.str()) == value) {
            return out.str();
        }
    }
}

struct Family {
    const char* name;
    const char* type;
    const char* help;
};

const Family Families[] = {
    {"qarn_tag_value", "gauge", "Latest value of a numeric tag (booleans as 0 or 1)."},
    {"qarn_tag_ok", "gauge", "1 when the tag's latest read succeeded, else 0."},
    {"qarn_requests_total", "counter", "Requests that went on the line."},
    {"qarn_failures_total", "counter", "Failed requests by kind."},
    {"qarn_cycle_seconds", "histogram", "Time of one poll cycle."},
    {"qarn_line_up", "gauge", "1 when the last cycle had an answer from the line, else 0."},
};

}  // namespace

std::string labelValue(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string metricsText(const std::vector<const LineState*>& lines) {
    const bool several = lines.size() > 1;
    // Labels: the line's first when there are several, then the series' own.
    const auto labels = [several](const LineState& line, const std::string& own) {
        std::string text = several ? "line=\"" + labelValue(line.name()) + "\"" : "";
        if (!own.empty()) {
            text += (text.empty() ? "" : ",") + own;
        }
        return text.empty() ? std::string() : "{" + text + "}";
    };
    std::ostringstream out;
    for (const Family& family : Families) {
        const std::string name = family.name;
        out << "# HELP " << name << " " << family.help << "\n# TYPE " << name << " " << family.type
            << "\n";
        for (const LineState* line : lines) {
            const std::vector<TagInfo> tags = line->tags();
            const std::vector<TagReadingState> readings = line->readings();
            const Health health = line->health();
            if (name == "qarn_tag_value") {
                for (size_t i = 0; i < tags.size(); ++i) {
                    if (readings[i].ok && readings[i].number) {
                        out << name
                            << labels(*line, "name=\"" + labelValue(tags[i].name) + "\",tag=\"" +
                                                 labelValue(tags[i].address) + "\"")
                            << " " << number(*readings[i].number) << "\n";
                    }
                }
            } else if (name == "qarn_tag_ok") {
                for (size_t i = 0; i < tags.size(); ++i) {
                    out << name << labels(*line, "name=\"" + labelValue(tags[i].name) + "\"") << " "
                        << (readings[i].ok ? 1 : 0) << "\n";
                }
            } else if (name == "qarn_requests_total") {
                out << name << labels(*line, "") << " " << health.requests << "\n";
            } else if (name == "qarn_failures_total") {
                for (const auto& [kind, count] : health.failures) {
                    out << name << labels(*line, "kind=\"" + labelValue(kind) + "\"") << " "
                        << count << "\n";
                }
            } else if (name == "qarn_cycle_seconds") {
                for (size_t b = 0; b < CycleBuckets.size(); ++b) {
                    out << name << "_bucket"
                        << labels(*line, "le=\"" + number(CycleBuckets[b]) + "\"") << " "
                        << health.bucketCounts[b] << "\n";
                }
                out << name << "_bucket" << labels(*line, "le=\"+Inf\"") << " " << health.cycles
                    << "\n"
                    << name << "_sum" << labels(*line, "") << " " << number(health.cycleSecondsSum)
                    << "\n"
                    << name << "_count" << labels(*line, "") << " " << health.cycles << "\n";
            } else if (name == "qarn_line_up") {
                out << name << labels(*line, "") << " " << (health.up ? 1 : 0) << "\n";
            }
        }
    }
    return out.str();
}

}  // namespace qarn::web
