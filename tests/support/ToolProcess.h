#pragma once
// qarn as a child process: its output read as it comes, its input and errors in files. The shell
// reports its process id, then becomes qarn under a time limit, so that a hang fails a test
// instead of stalling it; in the foreground, so that a signal for qarn reaches it once.

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TempDir.h"

struct ToolResult {
    int status;  // -1: no exit status
    std::string out, err;
};

class ToolProcess {
  public:
    explicit ToolProcess(const std::vector<std::string>& args, const std::string& input = "") {
        TempDir::write(dir_.file("in"), input);
        std::string command = "echo $$; exec timeout --foreground 60 " QARN_TOOL_PATH;
        for (const std::string& a : args) {
            command += " '" + a + "'";  // no quotes inside
        }
        out_ = popen((command + " <" + dir_.file("in") + " 2>" + dir_.file("err")).c_str(), "r");
        pid_ = std::atoi(line().c_str());
    }
    ~ToolProcess() { finish(SIGTERM); }

    // The next line of output without its newline; empty at the end.
    std::string line() {
        char text[1024] = {};
        const std::string s = out_ && std::fgets(text, sizeof text, out_) ? text : "";
        return s.substr(0, s.find('\n'));
    }
    // Sends `signal` (0: none) and waits for the end; the output from here on.
    ToolResult finish(int signal = 0) {
        ToolResult r{-1, "", ""};
        if (out_ == nullptr || pid_ <= 0) {
            return r;
        }
        kill(pid_, signal);
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, out_)) > 0;) {
            r.out.append(buf, n);
        }
        const int status = pclose(out_);
        out_ = nullptr;
        r.status = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.err = TempDir::read(dir_.file("err"));
        return r;
    }

  private:
    TempDir dir_;
    std::FILE* out_ = nullptr;
    int pid_ = 0;
};

// Runs qarn to its end.
inline ToolResult runTool(const std::vector<std::string>& args, const std::string& input = "") {
    return ToolProcess(args, input).finish();
}
