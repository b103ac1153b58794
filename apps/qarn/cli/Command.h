#pragma once
// A sub-command of qarn. Each one lives in its own file; Commands.cpp lists them all.

#include <memory>

namespace CLI {
class App;
}

namespace qarn {

class Session;
struct LineOptions;

// What a command is handed when it runs: the parsed line options, and the plug-in session,
// opened on first use (commands that need no plug-in never open it).
class CommandContext {
  public:
    explicit CommandContext(const LineOptions& options);
    ~CommandContext();
    CommandContext(const CommandContext&) = delete;
    CommandContext& operator=(const CommandContext&) = delete;

    const LineOptions& options() const { return options_; }
    Session& session();

  private:
    const LineOptions& options_;
    std::unique_ptr<Session> session_;
};

class Command {
  public:
    virtual ~Command() = default;
    virtual const char* name() const = 0;
    virtual const char* summary() const = 0;
    // Declares the command's own arguments; the line options are already on `app`.
    virtual void define(CLI::App& app) = 0;
    // Whether the command talks to the line as its master: it then takes the port options too.
    virtual bool talksToLine() const { return true; }
    // Runs after a successful parse; returns the exit status or throws UsageError or Failure.
    virtual int run(CommandContext& context) = 0;
};

}  // namespace qarn
