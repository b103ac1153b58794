#pragma once
// A sub-command of qarn. Each one lives in its own file and registers itself with
// QARN_REGISTER_COMMAND; main() builds the command line from the registry.

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace qarn {

class Session;
struct LineOptions;

enum ExitCode : int { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

// A usage error found after parsing: exit status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A device or protocol failure: exit status 1. The text follows "qarn: ".
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

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
    // Runs after a successful parse; returns the exit status or throws UsageError or Failure.
    virtual int run(CommandContext& context) = 0;
};

using CommandMaker = std::unique_ptr<Command> (*)();

// Adds a command to the registry; returns true so that it can initialise a static.
bool registerCommand(CommandMaker maker);
// Every registered command, sorted by name.
std::vector<std::unique_ptr<Command>> makeCommands();

}  // namespace qarn

// Registers a command class; write it inside namespace qarn, after the class.
#define QARN_REGISTER_COMMAND(Class)                                                     \
    namespace {                                                                          \
    [[maybe_unused]] const bool registered##Class = ::qarn::registerCommand(             \
        []() -> std::unique_ptr<::qarn::Command> { return std::make_unique<Class>(); }); \
    }
