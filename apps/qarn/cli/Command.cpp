#include "Command.h"

#include <algorithm>
#include <cstring>

#include "LineOptions.h"
#include "Session.h"

namespace qarn {

namespace {

std::vector<CommandMaker>& registry() {
    static std::vector<CommandMaker> makers;
    return makers;
}

}  // namespace

bool registerCommand(CommandMaker maker) {
    registry().push_back(maker);
    return true;
}

std::vector<std::unique_ptr<Command>> makeCommands() {
    std::vector<std::unique_ptr<Command>> commands;
    for (CommandMaker maker : registry()) {
        commands.push_back(maker());
    }
    std::sort(commands.begin(), commands.end(),
              [](const auto& a, const auto& b) { return std::strcmp(a->name(), b->name()) < 0; });
    return commands;
}

CommandContext::CommandContext(const LineOptions& options) : options_(options) {}

CommandContext::~CommandContext() = default;

Session& CommandContext::session() {
    if (session_ == nullptr) {
        session_ = std::make_unique<Session>(options_);
    }
    return *session_;
}

}  // namespace qarn
