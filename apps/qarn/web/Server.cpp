#include <qarn/web/Server.h>

#include <httplib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <qarn/toolkit/Errors.h>
#include <qarn/web/Assets.h>
#include <qarn/web/LineState.h>
#include <qarn/web/Metrics.h>

namespace qarn::web {

namespace {

// How long an event stream waits for news before it looks at the stop flag again, and how often
// it says it is alive when there is none.
constexpr auto EventWait = std::chrono::milliseconds(200);
constexpr auto KeepAlive = std::chrono::seconds(15);
// Threads for requests besides the event streams.
constexpr size_t RequestThreads = 8;

const char* const JsonType = "application/json";

std::vector<std::string> splitNames(const std::string& text) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= text.size() && !text.empty()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        if (comma > start) {
            names.push_back(text.substr(start, comma - start));
        }
        start = comma + 1;
    }
    return names;
}

}  // namespace

Server::Server(std::vector<LineState*> lines, ServerSettings settings)
    : lines_(std::move(lines)),
      settings_(std::move(settings)),
      http_(std::make_unique<httplib::Server>()) {
    const std::string problem = listenProblem(settings_.host, settings_.writes);
    if (!problem.empty()) {
        throw UsageError(problem);
    }
    if (lines_.empty()) {
        throw UsageError("a server needs a line");
    }
    const size_t threads = settings_.maxEventClients + RequestThreads;
    http_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // One request a connection: an idle kept-alive connection would hold a thread, and the
    // stop, for seconds.
    http_->set_keep_alive_max_count(1);
    http_->set_keep_alive_timeout(1);
    http_->set_read_timeout(5);
    http_->set_payload_max_length(settings_.maxBody);
    routes();
}

Server::~Server() {
    stop();
}

int Server::bind() {
    const int port =
        settings_.port == 0
            ? http_->bind_to_any_port(settings_.host)
            : (http_->bind_to_port(settings_.host, settings_.port) ? settings_.port : -1);
    if (port <= 0) {
        throw Failure("cannot listen on " + settings_.host + ":" + std::to_string(settings_.port) +
                      ": " + std::strerror(errno));
    }
    return port;
}

void Server::run() {
    if (!stopping_) {
        http_->listen_after_bind();
    }
}

void Server::stop() {
    stopping_ = true;
    http_->stop();
}

void Server::send(httplib::Response& response, const Reply& reply) const {
    response.status = reply.status;
    response.set_content(reply.body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         JsonType);
}

LineState* Server::lineOf(const httplib::Request& request, httplib::Response& response) const {
    if (!request.has_param("line")) {
        return lines_.front();
    }
    const std::string name = request.get_param_value("line");
    for (LineState* line : lines_) {
        if (line->name() == name) {
            return line;
        }
    }
    send(response, errorReply(404, "no line called '" + name + "'"));
    return nullptr;
}

void Server::queue(LineState& line, LineRequest request, httplib::Response& response) const {
    std::future<Reply> reply = line.requests().submit(std::move(request));
    if (reply.wait_for(settings_.lineTimeout) != std::future_status::ready) {
        send(response, errorReply(504, "the line did not get to the request in time"));
        return;
    }
    send(response, reply.get());
}

bool Server::postRefused(const httplib::Request& request, httplib::Response& response) const {
    PostHeaders headers;
    headers.contentType = request.get_header_value("Content-Type");
    headers.origin = request.get_header_value("Origin");
    headers.host = request.get_header_value("Host");
    headers.authorization = request.get_header_value("Authorization");
    const std::optional<Reply> refusal = refusePost(headers, settings_.writes);
    if (refusal) {
        send(response, *refusal);
    }
    return refusal.has_value();
}

void Server::routes() {
    httplib::Server& s = *http_;
    const auto asset = [](const std::string& url, httplib::Response& response) {
        const Asset* a = findAsset(url);
        if (a == nullptr) {
            return false;
        }
        response.set_content(reinterpret_cast<const char*>(a->data), a->size, a->contentType);
        return true;
    };
    s.Get("/", [asset](const httplib::Request&, httplib::Response& res) { asset("/", res); });
    s.Get(R"(/(app\.js|style\.css|favicon\.svg|dygraph\.min\.js|dygraph\.css))",
          [asset](const httplib::Request& req, httplib::Response& res) { asset(req.path, res); });
    s.Get("/favicon.ico",
          [asset](const httplib::Request&, httplib::Response& res) { asset("/favicon.svg", res); });
    s.Get("/api/info", [this](const httplib::Request&, httplib::Response& res) {
        nlohmann::json lines = nlohmann::json::array();
        for (const LineState* line : lines_) {
            lines.push_back(line->name());
        }
        nlohmann::json info = {{"lines", lines},
                               {"writes", settings_.writes.allowWrites},
                               {"token_required", !settings_.writes.token.empty()}};
        if (settings_.extraInfo) {
            info.update(settings_.extraInfo());
        }
        send(res, Reply{200, info});
    });
    s.Get("/api/tags", [this](const httplib::Request& req, httplib::Response& res) {
        if (LineState* line = lineOf(req, res)) {
            send(res, Reply{200, line->tagsJson()});
        }
    });
    s.Get(R"(/api/tags/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        if (LineState* line = lineOf(req, res)) {
            const int index = line->findTag(req.matches[1]);
            send(res, index < 0 ? errorReply(404, "no tag called '" + req.matches[1].str() + "'")
                                : Reply{200, line->tagJson(static_cast<size_t>(index))});
        }
    });
    s.Post(R"(/api/tags/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        LineState* line = lineOf(req, res);
        if (line == nullptr || postRefused(req, res)) {
            return;
        }
        if (line->findTag(req.matches[1]) < 0) {
            send(res, errorReply(404, "no tag called '" + req.matches[1].str() + "'"));
            return;
        }
        const nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
        if (!body.is_object() || !body.contains("value")) {
            send(res, errorReply(400, "the body must be a JSON object {\"value\": ...}"));
            return;
        }
        LineRequest request;
        request.kind = LineRequest::Kind::Write;
        request.tag = req.matches[1];
        request.value = body["value"];
        queue(*line, std::move(request), res);
    });
    s.Get("/api/trends", [this](const httplib::Request& req, httplib::Response& res) {
        if (LineState* line = lineOf(req, res)) {
            send(res, Reply{200, line->trendsJson(splitNames(req.get_param_value("names")))});
        }
    });
    s.Get("/api/traffic", [this](const httplib::Request& req, httplib::Response& res) {
        LineState* line = lineOf(req, res);
        if (line == nullptr) {
            return;
        }
        const std::string since = req.get_param_value("since");
        char* end = nullptr;
        const unsigned long long seq = std::strtoull(since.c_str(), &end, 10);
        if (!since.empty() && (end == nullptr || *end != '\0')) {
            send(res, errorReply(400, "since must be a sequence number"));
            return;
        }
        nlohmann::json frames = nlohmann::json::array();
        for (const TrafficEntry& e : line->traffic().since(seq)) {
            frames.push_back({{"seq", e.seq},
                              {"time", isoTime(e.timeMs)},
                              {"dir", e.direction},
                              {"hex", e.hex},
                              {"text", e.text}});
        }
        send(res, Reply{200, {{"last", line->traffic().lastSeq()}, {"frames", frames}}});
    });
    s.Get("/api/overrides", [this](const httplib::Request& req, httplib::Response& res) {
        if (LineState* line = lineOf(req, res)) {
            queue(*line, LineRequest{LineRequest::Kind::GetIds, {}, {}, {}, {}}, res);
        }
    });
    s.Post("/api/overrides", [this](const httplib::Request& req, httplib::Response& res) {
        LineState* line = lineOf(req, res);
        if (line == nullptr || postRefused(req, res)) {
            return;
        }
        const nlohmann::json body = nlohmann::json::parse(req.body, nullptr, false);
        if (!body.is_object() || !body.contains("node") || !body.contains("target") ||
            !body["node"].is_number_unsigned() || !body["target"].is_number_unsigned()) {
            send(res, errorReply(400,
                                 "the body must be {\"node\": N, \"target\": M}, M 0 to "
                                 "reset"));
            return;
        }
        LineRequest request;
        request.kind = LineRequest::Kind::SetId;
        request.node = std::to_string(body["node"].get<unsigned long>());
        request.target = std::to_string(body["target"].get<unsigned long>());
        queue(*line, std::move(request), res);
    });
    s.Get("/api/health", [this](const httplib::Request& req, httplib::Response& res) {
        if (LineState* line = lineOf(req, res)) {
            send(res, Reply{200, line->healthJson()});
        }
    });
    s.Get("/api/doctor", [this](const httplib::Request& req, httplib::Response& res) {
        if (LineState* line = lineOf(req, res)) {
            queue(*line, LineRequest{LineRequest::Kind::Doctor, {}, {}, {}, {}}, res);
        }
    });
    s.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
        if (LineState* line = lineOf(req, res)) {
            events(*line, res);
        }
    });
    s.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        const std::vector<const LineState*> lines(lines_.begin(), lines_.end());
        res.set_content(metricsText(lines) +
                            (settings_.extraMetrics ? settings_.extraMetrics() : std::string()),
                        "text/plain; version=0.0.4; charset=utf-8");
    });
    // httplib's own answers (unknown paths, a body over the cap) in JSON as well.
    s.set_error_handler([this](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            send(res, errorReply(res.status, res.status == 413   ? "request body too large"
                                             : res.status == 404 ? "not found"
                                                                 : "request refused"));
        }
    });
    s.set_exception_handler(
        [this](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
            std::string text = "internal error";
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                text += std::string(": ") + e.what();
            } catch (...) {
            }
            send(res, errorReply(500, text));
        });
}

void Server::events(LineState& line, httplib::Response& response) {
    if (++eventClients_ > settings_.maxEventClients) {
        --eventClients_;
        send(response, errorReply(503, "too many live pages; close one and reload"));
        return;
    }
    struct Stream {
        uint64_t seen = 0;
        std::chrono::steady_clock::time_point lastSent = std::chrono::steady_clock::now();
    };
    auto stream = std::make_shared<Stream>();
    response.set_header("Cache-Control", "no-cache");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, &line, stream](size_t, httplib::DataSink& sink) {
            if (stopping_) {
                return false;
            }
            const uint64_t version = line.waitForChange(stream->seen, EventWait);
            if (stopping_ || !sink.is_writable()) {
                return false;
            }
            std::string message;
            if (version != stream->seen) {
                stream->seen = version;
                const nlohmann::json event = {{"tags", line.tagsJson()},
                                              {"health", line.healthJson()}};
                message = "data: " +
                          event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
                          "\n\n";
            } else if (std::chrono::steady_clock::now() - stream->lastSent > KeepAlive) {
                message = ": alive\n\n";
            }
            if (!message.empty()) {
                stream->lastSent = std::chrono::steady_clock::now();
                return sink.write(message.data(), message.size());
            }
            return true;
        },
        [this](bool) { --eventClients_; });
}

}  // namespace qarn::web
