#include <qarn/refhost/LineReport.h>

namespace refhost {

namespace {

std::string counted(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string describe(const LineReport& report) {
    // A device that is gone explains every other failure of the window.
    if (report.gone) {
        return "device gone: " + (report.osReason.empty() ? "no reason given" : report.osReason);
    }
    std::string text;
    const auto add = [&text](const std::string& part) {
        text += (text.empty() ? "" : "; ") + part;
    };
    if (report.cancelled) {
        add("stopped");
    }
    if (report.echoUndecided) {
        add("echo not yet known: read once first, or give --echo on|off");
    }
    if (report.echoOnly > 0) {
        add("echo only, no answer");
    }
    if (report.silent > 0) {
        add("no answer within " + std::to_string(report.lastTimeoutMs) + " ms, " +
            counted(report.silent, "try", "tries"));
    }
    if (report.incomplete > 0) {
        add("answer incomplete in " + counted(report.incomplete, "try", "tries"));
    }
    if (report.crcErrors > 0) {
        add("CRC error in " + counted(report.crcErrors, "answer", "answers"));
    }
    if (report.foreign > 0) {
        add("answer from another node or function");
    }
    if (report.lateBytes > 0) {
        add("late or foreign answers discarded");
    }
    return text;
}

}  // namespace refhost
