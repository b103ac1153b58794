// `qarn simulate` as a process: the pty path comes first on standard output, the simulated
// devices and fault options take effect, and a signal ends it cleanly with its statistics.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "PtyServer.h"
#include "SimTestSupport.h"

using simtest::frame;
using simtest::hex;
using simtest::ismg;

namespace {

// A child process with its standard output and error piped back.
class Tool {
  public:
    explicit Tool(std::vector<std::string> args) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            for (int fd : {out[0], out[1], err[0], err[1]}) {
                close(fd);
            }
            std::vector<char*> argv{const_cast<char*>(QARN_TOOL_PATH)};
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = fdopen(out[0], "r");
        err_ = fdopen(err[0], "r");
    }
    ~Tool() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (std::FILE* f : {out_, err_}) {
            if (f != nullptr) {
                std::fclose(f);
            }
        }
    }

    std::string outputLine() {
        char line[256] = {};
        if (out_ == nullptr || std::fgets(line, sizeof line, out_) == nullptr) {
            return {};
        }
        std::string s(line);
        if (!s.empty() && s.back() == '\n') {
            s.pop_back();
        }
        return s;
    }
    // Sends `signal` (0: none), waits up to 5 s for the end (then kills) and returns the exit
    // status and all of standard error.
    int stop(int signal, std::string& errors) {
        kill(pid_, signal);
        for (int i = 0; i < 500 && waitpid(pid_, &status_, WNOHANG) == 0; ++i) {
            usleep(10000);
        }
        if (status_ < 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status_, 0);
        }
        char buf[512];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, err_)) > 0;) {
            errors.append(buf, n);
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }

  private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
};

TEST(SimulateTool, ServesDevicesWithFaultsOnAPtyUntilSignalled) {
    Tool tool({"simulate", "--pty", "--slave", "1:generic", "--slave", "3:ISMG3xx", "--baud",
               "19200", "--parity", "none", "--wrong-node-every", "2", "--seed", "5"});
    const std::string path = tool.outputLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
    simtest::PtyClient client(path);
    ASSERT_TRUE(client.ok());

    const struct {
        std::vector<uint8_t> request;
        std::vector<uint8_t> answer;
    } cases[] = {
        {frame("01 06 00 07 0D 0A"), frame("01 06 00 07 0D 0A")},
        {frame("01 03 00 07 00 01"), frame("02 03 02 0D 0A")},  // every 2nd from node 2
        {ismg("03 03 00 00 00 01"), ismg("03 03 02 01 2C")},
        {frame("05 03 00 00 00 01"), {}},  // nobody at node 5
    };
    for (const auto& c : cases) {
        client.send(c.request);
        EXPECT_EQ(hex(client.receive(std::max<size_t>(c.answer.size(), 1), 1000)), hex(c.answer));
    }

    std::string errors;
    EXPECT_EQ(tool.stop(SIGTERM, errors), 0);
    EXPECT_NE(errors.find("node 1 GenericModbus, node 3 ISMG3xx on " + path +
                          ", 19200 baud 8N1, paced, seed 5"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("4 frames, 3 answers (0 exceptions), 0 broadcasts, 1 ignored; faults: "
                          "wrong-node 1"),
              std::string::npos)
        << errors;
}

TEST(SimulateTool, RefusesBadArgumentsWithUsageStatus) {
    const std::vector<std::string> cases[] = {
        {"simulate", "--slave", "1:generic"},
        {"simulate", "--pty", "--slave", "1:nosuchmodel"},
        {"simulate", "--pty", "--slave", "0:generic"},
        {"simulate", "--pty", "--slave", "1:generic", "--slave", "1:EM24"},
        {"simulate", "--pty", "--slave", "1:generic", "--timeout", "100"},
        {"simulate", "--pty", "--serial", "/dev/null", "--slave", "1:generic"},
        {"simulate", "--pty", "--slave", "1:generic", "--bits", "7"},
    };
    for (const auto& args : cases) {
        Tool tool(args);
        std::string errors;
        EXPECT_EQ(tool.stop(0, errors), 2) << args.back() << ": " << errors;
        EXPECT_EQ(errors.rfind("qarn: ", 0), 0u) << errors;
    }
}

}  // namespace
