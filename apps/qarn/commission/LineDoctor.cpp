#include <qarn/commission/LineDoctor.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace qarn {

namespace {

using Kind = refhost::ExchangeTiming::Kind;

// An answer tells how its bytes were delivered only when it is long enough on the line.
constexpr int MinMeasurableBytes = 4;
constexpr double MinMeasurableLineMs = 2.0;
// More bytes per read than this, on most answers, is delivery in bursts: a UART passes bytes on
// one or two at a time.
constexpr double BurstBytesPerRead = 3.0;
constexpr double BurstShare = 0.6;
// Recommended time-out: the slowest answer and half as much again, at least this much more.
constexpr double TimeoutFactor = 1.5;
constexpr double MinTimeoutMarginMs = 20.0;
constexpr double MinGuardMs = 20.0;

double ms(int64_t us) {
    return static_cast<double>(us) / 1000.0;
}

int roundUp10(double value) {
    return static_cast<int>(std::ceil(value / 10.0)) * 10;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value >= 100 ? "%.0f" : "%.1f", value);
    return text;
}

bool answered(Kind k) {
    return k == Kind::Answer || k == Kind::Exception;
}

bool unanswered(Kind k) {
    return k == Kind::Silent || k == Kind::Incomplete || k == Kind::EchoOnly;
}

double percentile(const std::vector<double>& sorted, double p) {
    // Nearest rank.
    const size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 != 0 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

const char* failureKey(Kind k) {
    switch (k) {
        case Kind::Silent:
            return "silent";
        case Kind::Incomplete:
            return "incomplete";
        case Kind::Damaged:
            return "crc";
        case Kind::Foreign:
            return "foreign";
        case Kind::Unexpected:
            return "unexpected";
        case Kind::EchoOnly:
            return "echo_only";
        case Kind::EchoUnknown:
            return "echo_unknown";
        case Kind::Exception:
            return "exception";
        case Kind::Answer:
        case Kind::Cancelled:
        case Kind::Gone:
            break;
    }
    return nullptr;
}

// The largest interval that most of the differences between delivery times are whole multiples
// of; unset when none from 64 ms down to 1 ms is. Deliveries at the burst boundaries are such
// multiples apart even when every answer comes in one burst. A master that sends in step with
// the bursts (each exchange the same number of them) makes a multiple of the interval fit too:
// the reads must come at varying times.
std::optional<double> gridInterval(std::vector<double> timesMs) {
    constexpr size_t MinDifferences = 5;
    constexpr double Share = 0.8;
    std::sort(timesMs.begin(), timesMs.end());
    std::vector<double> diffs;
    for (size_t i = 1; i < timesMs.size(); ++i) {
        diffs.push_back(timesMs[i] - timesMs[i - 1]);
    }
    if (diffs.size() < MinDifferences) {
        return std::nullopt;
    }
    // Fit (share of differences within tolerance of a multiple) and mean residual of interval t.
    const auto fit = [&diffs](double t, double& residual) {
        const double tolerance = std::max(0.5, 0.06 * t);
        size_t within = 0;
        residual = 0;
        for (const double d : diffs) {
            const double off = std::fabs(d - std::round(d / t) * t);
            residual += off;
            within += off <= tolerance && d >= t - tolerance ? 1 : 0;
        }
        residual /= static_cast<double>(diffs.size());
        return static_cast<double>(within) / static_cast<double>(diffs.size());
    };
    constexpr double Step = 0.05;
    for (double t = 64.0; t >= 1.0; t -= Step) {
        double residual = 0;
        if (fit(t, residual) < Share) {
            continue;
        }
        // Intervals next to it fit too: take the one that fits best, within a tenth below.
        double best = t;
        double bestResidual = residual;
        for (double u = t - Step; u >= t * 0.9; u -= Step) {
            double r = 0;
            if (fit(u, r) >= Share && r < bestResidual) {
                best = u;
                bestResidual = r;
            }
        }
        return std::round(best * 10) / 10;
    }
    return std::nullopt;
}

// Bursts: most answers long enough to tell came in few, large reads. Their interval is the pause
// between two reads of one answer, which is one burst apart, or else the grid their deliveries
// fall on.
void findBursts(const std::vector<refhost::ExchangeTiming>& exchanges, DoctorReport& r) {
    int measurable = 0;
    int bursty = 0;
    std::vector<double> gaps;
    std::vector<double> deliveries;
    for (const refhost::ExchangeTiming& e : exchanges) {
        if (!answered(e.kind) || e.chunks == 0 || e.answerBytes < MinMeasurableBytes ||
            ms(e.charUs) * (e.answerBytes - 1) < MinMeasurableLineMs) {
            continue;
        }
        ++measurable;
        if (static_cast<double>(e.answerBytes) / e.chunks >= BurstBytesPerRead) {
            ++bursty;
            deliveries.push_back(ms(e.firstByteAtUs));
            if (e.chunks >= 2) {
                gaps.push_back(ms(e.maxGapUs));
            }
        }
    }
    r.burstSamples = measurable;
    r.burst = measurable > 0 && bursty >= BurstShare * measurable;
    if (r.burst) {
        r.burstMs = !gaps.empty() ? std::optional<double>(median(gaps)) : gridInterval(deliveries);
    }
}

void recommend(const std::vector<refhost::ExchangeTiming>& exchanges, DoctorReport& r,
               double medianSpanMs) {
    // --timeout: the slowest answer, late ones included, with a margin.
    double worst = r.slowestCompleteMs;
    if (r.lateAnswers > 0) {
        worst = std::max(worst, r.latestLateMs + medianSpanMs);
    }
    int timeout = 0;
    if (worst > 0) {
        timeout = roundUp10(std::max(worst * TimeoutFactor, worst + MinTimeoutMarginMs));
        std::string reason = "the slowest answer was complete " + number(worst) +
                             " ms after its request";
        if (r.lateAnswers > 0) {
            reason += " (" + std::to_string(r.lateAnswers) + " came after the time-out of " +
                      std::to_string(r.timeoutMs) + " ms)";
        }
        r.recommended.push_back(
            {"--timeout", std::to_string(timeout), reason + "; half as much again as margin"});
    } else {
        r.recommended.push_back({"--timeout", "",
                                 "no answer came: check the node numbers, wiring and line "
                                 "settings first (qarn scan)"});
    }

    // --delay: a pause before each request helps only a device that misses requests.
    // Requests whose answers came late were heard: the time-out is their trouble.
    const int missed = r.failures["silent"] + r.failures["incomplete"] - r.lateAnswers;
    if (r.answers > 0 && missed > 0 && r.latencyMs) {
        const int delay = roundUp10(std::max(10.0, r.latencyMs->median));
        r.recommended.push_back(
            {"--delay", std::to_string(delay),
             std::to_string(missed) +
                 " requests went without a whole answer although the device answers others: "
                 "one that needs a pause between requests may answer them; run doctor again "
                 "with it"});
    } else if (r.answers > 0) {
        r.recommended.push_back(
            {"--delay", "0", "every request was answered without a pause; a delay only slows "
                             "the line"});
    } else {
        r.recommended.push_back({"--delay", "", "nothing to judge by without answers"});
    }

    // --late-guard: long enough that a line quiet for it has no answer still on its way.
    if (r.answers > 0) {
        double guard = std::max({MinGuardMs, 2 * r.maxGapMs, 2 * r.burstMs.value_or(0)});
        std::string reason = "answers pause at most " + number(r.maxGapMs) + " ms inside";
        if (r.burstMs) {
            reason += " (bursts every " + number(*r.burstMs) + " ms)";
        }
        if (r.lateAnswers > 0 && timeout > 0) {
            const double after = r.latestLateMs + medianSpanMs - timeout;
            if (after > guard) {
                guard = after;
                reason += "; a late answer may still come " + number(after) +
                          " ms after the time-out";
            }
        }
        r.recommended.push_back({"--late-guard", std::to_string(roundUp10(guard)),
                                 reason + ": twice that of quiet means nothing more is on "
                                          "its way, sooner than the default of one time-out"});
    } else {
        r.recommended.push_back({"--late-guard", "", "nothing to judge by without answers"});
    }

    // --echo: what the answers showed.
    int echoed = 0;
    int plain = 0;
    for (const refhost::ExchangeTiming& e : exchanges) {
        if (e.echo) {
            ++echoed;
        } else if (answered(e.kind)) {
            ++plain;
        }
    }
    if (echoed > 0 && plain == 0) {
        r.recommended.push_back({"--echo", "on", "every request came back before its answer (" +
                                                     std::to_string(echoed) + " of " +
                                                     std::to_string(echoed) + ")"});
    } else if (plain > 0 && echoed == 0) {
        r.recommended.push_back({"--echo", "off", "no request came back; the answers came as "
                                                  "they are"});
    } else if (echoed > 0) {
        r.recommended.push_back({"--echo", "auto",
                                 std::to_string(echoed) + " requests came back, " +
                                     std::to_string(plain) +
                                     " answers came without: let qarn find out per line"});
    } else {
        r.recommended.push_back({"--echo", "auto", "no exchange told whether the line echoes"});
    }
}

}  // namespace

DoctorReport analyse(const std::vector<refhost::ExchangeTiming>& exchanges, const DoctorRun& run) {
    DoctorReport r;
    r.run = run;
    r.exchanges = static_cast<int>(exchanges.size());
    for (const char* key : {"silent", "incomplete", "crc", "foreign", "unexpected", "echo_only",
                            "echo_unknown", "exception", "stray_bytes"}) {
        r.failures[key] = 0;
    }
    std::vector<double> latencies;
    std::vector<double> spans;
    int echoed = 0;
    int plain = 0;
    for (size_t i = 0; i < exchanges.size(); ++i) {
        const refhost::ExchangeTiming& e = exchanges[i];
        if (r.baud == 0 && e.baud > 0) {
            r.baud = e.baud;
        }
        r.timeoutMs = std::max(r.timeoutMs, e.timeoutMs);
        if (const char* key = failureKey(e.kind)) {
            ++r.failures[key];
        }
        if (e.lateBytes > 0) {
            // After a wait that gave up, what comes is that request's late answer.
            if (i > 0 && unanswered(exchanges[i - 1].kind) && e.lateAfterUs >= 0) {
                ++r.lateAnswers;
                r.latestLateMs = std::max(r.latestLateMs, ms(e.lateAfterUs));
            } else {
                ++r.failures["stray_bytes"];
            }
        }
        if (e.echo) {
            ++echoed;
        } else if (answered(e.kind)) {
            ++plain;
        }
        if (!answered(e.kind) || e.latencyUs < 0) {
            continue;
        }
        ++r.answers;
        latencies.push_back(ms(e.latencyUs));
        spans.push_back(ms(e.completeUs - e.latencyUs));
        r.slowestCompleteMs = std::max(r.slowestCompleteMs, ms(e.completeUs));
        r.maxGapMs = std::max(r.maxGapMs, ms(e.maxGapUs));
    }
    if (echoed > 0 || plain > 0) {
        r.echo = echoed > 0;
    }
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        r.latencyMs = LatencySummary{latencies.front(), median(latencies),
                                     percentile(latencies, 0.99), latencies.back()};
    }
    // 33 bit times, never below 10 ms: where a frame of no known length ends.
    r.gapRuleMs = r.baud > 0 ? std::max(10, 33000 / r.baud) : 10;
    findBursts(exchanges, r);
    recommend(exchanges, r, spans.empty() ? 0 : median(spans));

    if (r.maxGapMs >= r.gapRuleMs) {
        r.warnings.push_back("answers pause up to " + number(r.maxGapMs) +
                             " ms inside: the 10 ms gap rule (" + std::to_string(r.gapRuleMs) +
                             " ms at " + std::to_string(r.baud) +
                             " baud) would cut them; qarn waits for an answer by its length, a "
                             "master that ends frames at the gap would not");
    }
    if (r.burst) {
        r.warnings.push_back(
            "the adapter hands answers over in bursts" +
            (r.burstMs ? " every " + number(*r.burstMs) + " ms" : std::string()) +
            ": its latency timer adds up to that to every answer; set it to 1 ms "
            "(echo 1 > /sys/bus/usb-serial/devices/ttyUSBn/latency_timer)");
    }
    if (r.timeoutMs > 0 && r.slowestCompleteMs > r.timeoutMs * 0.8) {
        r.warnings.push_back("the time-out of " + std::to_string(r.timeoutMs) +
                             " ms leaves little room: the slowest answer took " +
                             number(r.slowestCompleteMs) + " ms");
    }
    if (echoed > 0 && plain > 0) {
        r.warnings.push_back("some requests came back and some did not: a second master or a "
                             "flaky adapter on the line?");
    }
    if (run.stopped) {
        r.warnings.push_back("stopped early: this covers the " + std::to_string(r.exchanges) +
                             " exchanges measured so far");
    }
    return r;
}

std::vector<DoctorRow> doctorRows(const DoctorReport& r) {
    std::vector<DoctorRow> rows;
    rows.push_back({"transactions", std::to_string(r.run.transactions),
                    std::to_string(r.run.failed) + " failed, " + std::to_string(r.exchanges) +
                        " waits for an answer, " + std::to_string(r.answers) + " answers"});
    if (r.latencyMs) {
        const LatencySummary& l = *r.latencyMs;
        rows.push_back({"latency ms", number(l.min) + " / " + number(l.median) + " / " +
                                          number(l.p99) + " / " + number(l.max),
                        "min / median / p99 / max, end of request to first answer byte"});
    } else {
        rows.push_back({"latency ms", "-", "no answer came"});
    }
    rows.push_back({"slowest answer ms", number(r.slowestCompleteMs),
                    "end of request to last answer byte"});
    rows.push_back({"max gap ms", number(r.maxGapMs), "largest pause inside an answer"});
    rows.push_back({"echo", !r.echo ? "-" : *r.echo ? "yes" : "no",
                    "our requests come back before the answers"});
    if (r.burstSamples == 0) {
        rows.push_back({"burst", "-",
                        "answers too short on the line to tell; read a longer item with --tag"});
    } else {
        rows.push_back({"burst",
                        r.burst ? (r.burstMs ? "yes, " + number(*r.burstMs) + " ms" : "yes") : "no",
                        "USB adapter passing answers on in bursts"});
    }
    rows.push_back({"late answers", std::to_string(r.lateAnswers),
                    r.lateAnswers > 0 ? "latest " + number(r.latestLateMs) + " ms after its request"
                                      : "answers after their time-out"});
    std::string failures;
    for (const auto& [kind, count] : r.failures) {
        if (count > 0) {
            failures += (failures.empty() ? "" : ", ") + kind + " " + std::to_string(count);
        }
    }
    rows.push_back({"failures", failures.empty() ? "none" : failures, "by kind"});
    for (const Recommendation& rec : r.recommended) {
        rows.push_back({rec.option, rec.value.empty() ? "-" : rec.value, rec.reason});
    }
    for (const std::string& w : r.warnings) {
        rows.push_back({"warning", "", w});
    }
    return rows;
}

std::string doctorJson(const DoctorReport& r) {
    using nlohmann::json;
    const auto rounded = [](double v) { return std::round(v * 10) / 10; };
    json j;
    if (r.latencyMs) {
        j["latency_ms"] = {{"min", rounded(r.latencyMs->min)},
                           {"median", rounded(r.latencyMs->median)},
                           {"p99", rounded(r.latencyMs->p99)},
                           {"max", rounded(r.latencyMs->max)}};
    } else {
        j["latency_ms"] = {{"min", nullptr}, {"median", nullptr}, {"p99", nullptr},
                           {"max", nullptr}};
    }
    j["slowest_answer_ms"] = rounded(r.slowestCompleteMs);
    j["max_gap_ms"] = rounded(r.maxGapMs);
    j["echo"] = r.echo ? json(*r.echo) : json(nullptr);
    j["burst"] = r.burstSamples > 0 ? json(r.burst) : json(nullptr);
    j["burst_ms"] = r.burstMs ? json(rounded(*r.burstMs)) : json(nullptr);
    j["late_answers"] = r.lateAnswers;
    j["failures"] = r.failures;
    j["transactions"] = r.run.transactions;
    j["failed_transactions"] = r.run.failed;
    j["exchanges"] = r.exchanges;
    j["answers"] = r.answers;
    j["gap_rule_ms"] = r.gapRuleMs;
    j["stopped"] = r.run.stopped;
    json recommended = json::object();
    for (const Recommendation& rec : r.recommended) {
        std::string key = rec.option.substr(2);
        std::replace(key.begin(), key.end(), '-', '_');
        json value = nullptr;
        if (!rec.value.empty()) {
            value = std::all_of(rec.value.begin(), rec.value.end(),
                                [](unsigned char c) { return std::isdigit(c) != 0; })
                        ? json(std::stoi(rec.value))
                        : json(rec.value);
        }
        recommended[key] = {{"value", value}, {"reason", rec.reason}};
    }
    j["recommended"] = recommended;
    j["warnings"] = r.warnings;
    return j.dump();
}

}  // namespace qarn
