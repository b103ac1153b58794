#pragma once
// qarn as a child process: its output read as it comes, its errors kept in a file. The shell
// reports its process id, then becomes qarn under a time limit, so that a hang fails a test
// instead of stalling it; in the foreground, so that a signal for qarn reaches it once.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace simtest {

class ToolProcess {
  public:
    explicit ToolProcess(const std::vector<std::string>& args) {
        static int count = 0;
        errors_ = ::testing::TempDir() + "qarn-" + std::to_string(getpid()) + "-" +
                  std::to_string(++count) + ".err";
        std::string command = "echo $$; exec timeout --foreground 60 " QARN_TOOL_PATH;
        for (const std::string& a : args) {
            command += " '" + a + "'";  // no quotes inside
        }
        out_ = popen((command + " 2>" + errors_).c_str(), "r");
        pid_ = std::atoi(line().c_str());
    }
    ~ToolProcess() {
        finish(SIGTERM);
        std::remove(errors_.c_str());
    }

    // The next line of output without its newline; empty at the end.
    std::string line() {
        char text[1024] = {};
        const std::string s = out_ && std::fgets(text, sizeof text, out_) ? text : "";
        return s.substr(0, s.find('\n'));
    }
    // Sends `signal` (0: none), waits for the end and returns the exit status, -1 for none.
    int finish(int signal = 0, std::string* output = nullptr) {
        if (out_ == nullptr || pid_ <= 0) {
            return -1;
        }
        kill(pid_, signal);
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, out_)) > 0;) {
            if (output != nullptr) {
                output->append(buf, n);
            }
        }
        const int status = pclose(out_);
        out_ = nullptr;
        return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string errors() const {
        std::ostringstream s;
        s << std::ifstream(errors_).rdbuf();
        return s.str();
    }

  private:
    std::string errors_;
    std::FILE* out_ = nullptr;
    int pid_ = 0;
};

struct ToolResult {
    int status;
    std::string out, err;
};

// Runs qarn to its end.
inline ToolResult runTool(const std::vector<std::string>& args) {
    ToolProcess tool(args);
    ToolResult r{-1, "", ""};
    r.status = tool.finish(0, &r.out);
    r.err = tool.errors();
    return r;
}

}  // namespace simtest
