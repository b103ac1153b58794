#include <qarn/web/PostCheck.h>

#include <algorithm>
#include <cctype>

namespace qarn::web {

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Compares without stopping at the first difference, so that timing tells nothing of the token.
bool sameSecret(const std::string& given, const std::string& expected) {
    unsigned char difference = given.size() == expected.size() ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ expected[i % expected.size()]);
    }
    return difference == 0;
}

}  // namespace

std::optional<Reply> refusePost(const PostHeaders& headers, const WriteSettings& settings) {
    if (!settings.allowWrites) {
        return errorReply(403, "writes are off: start qarn serve with --allow-writes");
    }
    if (!settings.token.empty()) {
        const std::string prefix = "Bearer ";
        const std::string& a = headers.authorization;
        if (a.size() <= prefix.size() || lower(a.substr(0, prefix.size())) != lower(prefix) ||
            !sameSecret(a.substr(prefix.size()), settings.token)) {
            return errorReply(401,
                              "this server takes writes with its token only "
                              "(Authorization: Bearer TOKEN)");
        }
    }
    // Browsers name the page a request comes from; a page of another site is refused. Clients
    // that are no browser send no Origin.
    if (!headers.origin.empty() && lower(headers.origin) != "http://" + lower(headers.host)) {
        return errorReply(403, "cross-origin write refused (Origin " + headers.origin + ")");
    }
    const std::string type = lower(headers.contentType.substr(0, headers.contentType.find(';')));
    if (type.find_first_not_of(' ') == std::string::npos ||
        type.substr(type.find_first_not_of(' ')) != "application/json") {
        return errorReply(415, "writes take a JSON body (Content-Type: application/json)");
    }
    return std::nullopt;
}

bool isLoopback(const std::string& host) {
    return host == "localhost" || host == "::1" || host == "[::1]" || host.rfind("127.", 0) == 0;
}

std::string listenProblem(const std::string& host, const WriteSettings& settings) {
    if (settings.allowWrites && settings.token.empty() && !isLoopback(host)) {
        return "--allow-writes on " + host + ", an address other machines reach, needs --token";
    }
    return std::string();
}

}  // namespace qarn::web
