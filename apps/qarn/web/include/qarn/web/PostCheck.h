#pragma once
// Who may change a line through the server. Writes are off unless asked for; a token, when set,
// must come with every POST as "Authorization: Bearer TOKEN"; a browser's POST must come from a
// page of this server (its Origin names the Host it was sent to); and only JSON is taken, which
// a foreign page cannot send without the browser asking first.

#include <cstddef>
#include <optional>
#include <string>

#include <qarn/web/RequestQueue.h>

namespace qarn::web {

struct WriteSettings {
    bool allowWrites = false;
    std::string token;  // empty: none asked for
};

// The headers of a POST that matter here (empty when absent).
struct PostHeaders {
    std::string contentType;
    std::string origin;
    std::string host;
    std::string authorization;
};

// The refusal of a POST that changes a line, or nothing when it may go ahead.
std::optional<Reply> refusePost(const PostHeaders& headers, const WriteSettings& settings);

// Why the server must not start: writes on a non-loopback address without a token. Empty when
// it may.
std::string listenProblem(const std::string& host, const WriteSettings& settings);
bool isLoopback(const std::string& host);

}  // namespace qarn::web
