#pragma once
// Runs the qarn binary and collects its exit status and output.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

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
    const std::string files[] = {folder + "/stdin", folder + "/stdout", folder + "/stderr"};
    std::ofstream(files[0]) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) {
        posix_spawn_file_actions_addopen(&actions, fd, files[fd].c_str(),
                                         fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    std::vector<std::string> all{QARN_TOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    ToolResult r;
    pid_t pid = -1;
    int status = 0;
    if (posix_spawn(&pid, QARN_TOOL_PATH, &actions, nullptr, argv.data(), environ) == 0 &&
        waitpid(pid, &status, 0) == pid) {
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ostringstream out, err;
    out << std::ifstream(files[1]).rdbuf();
    err << std::ifstream(files[2]).rdbuf();
    r.out = out.str();
    r.err = err.str();
    return r;
}
