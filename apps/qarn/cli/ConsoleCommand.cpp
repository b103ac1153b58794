// qarn console [COMMAND...]: the plug-in's diagnostic console, one line or interactively.

#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <vector>

#include <qarn/host/IProtocol.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/LineOptions.h>
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
    }

    int run(CommandContext& context) override {
        Session& session = context.session();
        // Without a line the console still answers help, info, xml, setid and the like.
        IProtocol& p = hasLine(context.options()) ? session.started() : session.protocol();
        if (!words_.empty()) {
            std::string line;
            for (const std::string& w : words_) {
                line += (line.empty() ? "" : " ") + w;
            }
            return execute(p, line) ? ExitOk : ExitUsage;
        }
        return isatty(STDIN_FILENO) != 0 ? interactive(p) : script(p);
    }

  private:
    // False when the plug-in does not know the command.
    static bool execute(IProtocol& p, const std::string& line) {
        std::vector<char> reply(ReplySize + 1, '\0');
        if (p.DoCommand(line.c_str(), reply.data(), ReplySize) == 0) {
            std::cerr << "qarn: unknown console command '" << line << "' (try: help)\n";
            return false;
        }
        const std::string text(reply.data());
        std::cout << text;
        if (!text.empty() && text.back() != '\n') {
            std::cout << "\n";
        }
        std::cout.flush();
        return true;
    }

    static bool isQuit(const std::string& line) { return line == "quit" || line == "exit"; }

    static int interactive(IProtocol& p) {
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
            execute(p, line);
        }
        return ExitOk;
    }

    // Lines from a pipe or a file: no prompt; any unknown command makes the exit status 2.
    static int script(IProtocol& p) {
        int status = ExitOk;
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.find_first_not_of(' ') == std::string::npos) {
                continue;
            }
            if (isQuit(line)) {
                break;
            }
            if (!execute(p, line)) {
                status = ExitUsage;
            }
        }
        return status;
    }

    std::vector<std::string> words_;
};

}  // namespace

std::unique_ptr<Command> makeConsoleCommand() {
    return std::make_unique<ConsoleCommand>();
}

}  // namespace qarn
