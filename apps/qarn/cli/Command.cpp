#include "Command.h"
#include <qarn/toolkit/Errors.h>

#include <qarn/toolkit/LineOptions.h>
#include <qarn/toolkit/Session.h>

namespace qarn {

CommandContext::CommandContext(const LineOptions& options) : options_(options) {}

CommandContext::~CommandContext() = default;

Session& CommandContext::session() {
    if (session_ == nullptr) {
        session_ = std::make_unique<Session>(options_);
    }
    return *session_;
}

}  // namespace qarn
