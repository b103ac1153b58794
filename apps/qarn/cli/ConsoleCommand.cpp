// qarn console [COMMAND...]: the plug-in's diagnostic console, one line or interactively.

#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include <qarn/host/IProtocol.h>
#include <qarn/refhost/LineReport.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Session.h>
#include "Commands.h"

namespace qarn {

namespace {

constexpr int ReplySize = 16384;

// Words offered by tab completion: the console's commands and the prompt's own.
const char* const Words[] = {"help",     "info",  "xml",   "read", "write", "lasterror",
                             "getmaxtm", "setid", "getid", "quit", "exit",  nullptr};

char* completeWord(const char* text, int state) {
    static size_t index;
    static size_t length;
    if (state == 0) {
        index = 0;
        length = std::strlen(text);
    }
    while (Words[index] != nullptr) {
        const char* word = Words[index++];
        if (std::strncmp(word, text, length) == 0) {
            return strdup(word);
        }
    }
    return nullptr;
}

char** complete(const char* text, int start, int) {
    rl_attempted_completion_over = 1;  // no file names
    return start == 0 ? rl_completion_matches(text, completeWord) : nullptr;
}

// The console's words as the plug-in splits them: at every blank, each word trimmed.
std::vector<std::string> consoleWords(const std::string& line) {
    std::vector<std::string> words;
    size_t begin = 0;
    for (;;) {
        const size_t end = line.find(' ', begin);
        std::string word = line.substr(begin, end == std::string::npos ? end : end - begin);
        word.erase(0, word.find_first_not_of(" \t"));
        word.erase(word.find_last_not_of(" \t") + 1);
        words.push_back(word);
        if (end == std::string::npos) {
            return words;
        }
        begin = end + 1;
    }
}

// The byte of a one-byte value as the console's write takes it (two hex digits); -1 otherwise.
int hexByte(const std::string& data) {
    if (data.size() != 2 || std::isxdigit(static_cast<unsigned char>(data[0])) == 0 ||
        std::isxdigit(static_cast<unsigned char>(data[1])) == 0) {
        return -1;
    }
    return static_cast<int>(std::strtol(data.c_str(), nullptr, 16));
}

class ConsoleCommand final : public Command {
  public:
    const char* name() const override { return "console"; }
    const char* summary() const override {
        return "run one console command of the plug-in, or an interactive console";
    }

    void define(CLI::App& app) override {
        app.add_option("COMMAND", words_,
                       "console command and its arguments, e.g. getid or setid 5 7; none: "
                       "interactive (or lines from standard input)");
        app.add_flag("--broadcast", broadcast_,
                     "allow the console's write to node 0, a broadcast that every slave obeys");
        app.footer(
            "read, write and setid are refused before they reach the plug-in for a node (or a "
            "stored override) that is reserved, above 255, no number, or 0 for a write without "
            "--broadcast; getid adds a note for every stored override that is refused. Exit "
            "status: 2 for a refused or unknown command, 1 when a change was not saved in the "
            "store. Lines from standard input that is no terminal run to the end; the first "
            "that failed sets the status.");
    }

    int run(CommandContext& context) override {
        Session& session = context.session();
        session.allowBroadcast(broadcast_);
        // Without a line the console still answers help, info, xml, setid and the like.
        IProtocol& p = hasLine(context.options()) ? session.started() : session.protocol();
        if (!words_.empty()) {
            std::string line;
            for (const std::string& w : words_) {
                line += (line.empty() ? "" : " ") + w;
            }
            return execute(session, p, line);
        }
        return isatty(STDIN_FILENO) != 0 ? interactive(session, p) : script(session, p);
    }

  private:
    // Why the guard keeps `words` from the plug-in, or empty.
    static std::string refusal(Session& session, const std::vector<std::string>& words) {
        const std::string& verb = words.front();
        const NodeGuard guard = session.nodeGuard();
        if (verb == "setid" && words.size() == 3) {
            return guard.setIdProblem(words[1], words[2]);
        }
        if (verb == "read" && words.size() == 2) {
            return guard.tagProblem(words[1], TagAccess::Read);
        }
        if (verb == "write" && words.size() == 3) {
            std::string problem = guard.tagProblem(words[1], TagAccess::Write);
            const int target = hexByte(words[2]);
            if (problem.empty() && NodeGuard::isNodeOverride(words[1]) && target >= 0) {
                problem = guard.targetProblem(target);
            }
            return problem;
        }
        return std::string();
    }

    // The exit status of one console line: refused or unknown commands give 2, changes the
    // store did not save 1.
    static int execute(Session& session, IProtocol& p, const std::string& line) {
        const std::vector<std::string> words = consoleWords(line);
        const std::string problem = refusal(session, words);
        if (!problem.empty()) {
            std::cerr << "qarn: " << line << ": refused, nothing sent or changed: " << problem
                      << "\n";
            return ExitUsage;
        }
        const int storeFailures = session.storeFailures();
        std::vector<char> reply(ReplySize + 1, '\0');
        session.clearPortError();
        if (p.DoCommand(line.c_str(), reply.data(), ReplySize) == 0) {
            std::cerr << "qarn: unknown console command '" << line << "' (try: help)\n";
            return ExitUsage;
        }
        const std::string text(reply.data());
        std::cout << text;
        if (!text.empty() && text.back() != '\n') {
            std::cout << "\n";
        }
        // The plug-in's reply is all it says; what the ports saw goes beside it.
        const std::string seen = refhost::describe(session.lineReport());
        if (!seen.empty()) {
            std::cerr << "qarn: " << line << ": the line: " << seen << "\n";
        }
        if (words.front() == "getid") {
            for (const std::string& note : session.nodeGuard().storedProblems()) {
                std::cout << note << "\n";
            }
        }
        std::cout.flush();
        // The plug-in answers as if stored; the change is lost when the tool ends.
        const std::string unsaved = session.storeFailureSince(storeFailures);
        if (!unsaved.empty()) {
            std::cerr << "qarn: " << line << ": the change was not saved: " << unsaved << "\n";
            return ExitFailure;
        }
        return ExitOk;
    }

    static bool isQuit(const std::string& line) { return line == "quit" || line == "exit"; }

    static int interactive(Session& session, IProtocol& p) {
        rl_attempted_completion_function = complete;
        std::cout << "qarn console: help lists the commands, quit or Ctrl-D ends.\n";
        while (char* raw = readline("qarn> ")) {
            const std::string line = raw;
            std::free(raw);
            if (line.find_first_not_of(' ') == std::string::npos) {
                continue;
            }
            add_history(line.c_str());
            if (isQuit(line)) {
                break;
            }
            execute(session, p, line);
        }
        return ExitOk;
    }

    // Lines from a pipe or a file: no prompt; a line that fails does not end the script, the
    // first one sets the exit status and the end says how many failed.
    static int script(Session& session, IProtocol& p) {
        int status = ExitOk;
        int commands = 0;
        int failed = 0;
        int firstFailed = 0;
        std::string line;
        for (int number = 1; std::getline(std::cin, line); ++number) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.find_first_not_of(' ') == std::string::npos) {
                continue;
            }
            if (isQuit(line)) {
                break;
            }
            const int result = execute(session, p, line);
            ++commands;
            if (result != ExitOk) {
                ++failed;
                firstFailed = firstFailed == 0 ? number : firstFailed;
            }
            if (status == ExitOk) {
                status = result;
            }
        }
        if (failed != 0) {
            std::cerr << "qarn console: " << failed << " of " << commands
                      << (commands == 1 ? " command" : " commands") << " failed (the first on line "
                      << firstFailed << ")\n";
        }
        return status;
    }

    std::vector<std::string> words_;
    bool broadcast_ = false;
};

}  // namespace

std::unique_ptr<Command> makeConsoleCommand() {
    return std::make_unique<ConsoleCommand>();
}

}  // namespace qarn
