#pragma once
// Runs the qarn binary and collects its exit status and output.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

// `folder` holds the captured output; `input` is fed on standard input.
inline ToolResult runTool(const std::string& folder, const std::vector<std::string>& args,
                          const std::string& input = "") {
    const std::string in = folder + "/stdin", out = folder + "/stdout", err = folder + "/stderr";
    std::ofstream(in) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{QARN_TOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    ToolResult r;
    pid_t pid = -1;
    if (posix_spawn(&pid, QARN_TOOL_PATH, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    const auto slurp = [](const std::string& path) {
        std::ifstream f(path);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    };
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}
