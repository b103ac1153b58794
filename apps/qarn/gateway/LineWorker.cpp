#include <qarn/gateway/LineWorker.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>

#include <qarn/gateway/LineScan.h>
#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/mqtt/LinePublisher.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/ValueCodec.h>
#include <qarn/web/LineState.h>
#include <qarn/gateway/WebLine.h>

namespace qarn {

namespace {

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    const size_t last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

}  // namespace

LineWorker::LineWorker(Host& host, GatewayLine line, MqttClient* client, web::LineState* web)
    : host_(host), line_(std::move(line)), client_(client), web_(web) {
    if (pipe2(cancel_, O_CLOEXEC | O_NONBLOCK) != 0) {
        cancel_[0] = cancel_[1] = -1;  // a stop then waits for the port's time-out
    }
    thread_ = std::thread([this] { run(); });
}

LineWorker::~LineWorker() {
    requestStop();
    thread_.join();
    for (const int fd : cancel_) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void LineWorker::requestStop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (web_ != nullptr) {
        web_->requests().wake();
    }
    if (cancel_[1] >= 0) {
        const char byte = 0;
        (void)!::write(cancel_[1], &byte, 1);
    }
}

void LineWorker::queueWrite(const std::string& name, const std::string& text) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        writes_.push_back(Write{name, text});
    }
    wake_.notify_all();
    if (web_ != nullptr) {
        web_->requests().wake();
    }
}

LineState LineWorker::state() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

bool LineWorker::waitUntil(std::chrono::steady_clock::time_point until) {
    if (web_ != nullptr) {
        // Its queue wakes for the web's requests, and for ours through wake().
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (stop_ || !writes_.empty()) {
                return stop_;
            }
        }
        web_->requests().waitUntil(until);
        return stop_;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_until(lock, until, [this] { return stop_ || !writes_.empty(); });
    return stop_;
}

void LineWorker::run() {
    try {
        // Made on this thread: the port settings and reports of the session are the thread's.
        Session session(host_, line_.options);
        sinks_.add(host_.frameSink());
        if (web_ != nullptr) {
            sinks_.add(&web_->traffic());
        }
        host_.factory().serialFactory().setLineTrace(sinks_.empty() ? nullptr : &sinks_);
        session.setCancelFd(cancel_[0]);
        LineScan scan(session, line_, [this] { return stop_.load(); });
        if (web_ != nullptr) {
            web_->setTags(webTags(scan, line_));
        }
        std::unique_ptr<LinePublisher> publisher;
        if (client_ != nullptr) {
            std::vector<PublishedTag> tags;
            for (size_t i = 0; i < scan.tags().size(); ++i) {
                tags.push_back(PublishedTag{scan.tags()[i], line_.tags[i].scaling});
            }
            publisher = std::make_unique<LinePublisher>(*client_, line_.name, std::move(tags),
                                                        static_cast<double>(line_.intervalMs));
        }
        poll(session, scan, publisher.get());
        if (web_ != nullptr) {
            web_->requests().close(web::errorReply(503, "the line " + line_.name + " stopped"));
        }
    } catch (const std::exception& e) {
        // Checked before the start, so only a plug-in that changed its mind gets here.
        std::cerr << "qarn gateway: line " << line_.name << " stopped: " << e.what() << "\n";
        if (web_ != nullptr) {
            web_->requests().close(web::errorReply(503, std::string("the line stopped: ") + e.what()));
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        state_.running = false;
        state_.lastError = e.what();
    }
}

void LineWorker::poll(Session& session, LineScan& scan, LinePublisher* publisher) {
    bool started = false;
    const auto interval = std::chrono::milliseconds(line_.intervalMs);
    auto next = std::chrono::steady_clock::now();
    while (!stop_) {
        if (!started) {
            try {
                session.started();
                started = true;
            } catch (const std::exception& e) {
                // A missing adapter: the tags say why, and the line tries again.
                failAll(scan, publisher, session.lastErrorCode(), e.what());
                next = std::chrono::steady_clock::now() +
                       std::max<std::chrono::steady_clock::duration>(interval,
                                                                     std::chrono::seconds(1));
            }
        }
        if (started) {
            next += interval;
            const CycleSummary summary = scan.scan().runCycle();
            if (!summary.complete) {
                break;  // stopped
            }
            if (publisher != nullptr) {
                publisher->cycle(scan.scan().results(), summary);
            }
            if (web_ != nullptr) {
                web_->publish(webUpdate(scan, line_, scan.scan().results(), summary));
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            state_.running = true;
            ++state_.cycles;
            state_.failedTags += summary.failedTags;
            state_.lastCycleMs =
                std::chrono::duration<double, std::milli>(summary.elapsed).count();
            for (const TagResult& r : scan.scan().results()) {
                if (!r.ok) {
                    state_.lastError = r.text;
                }
            }
        }
        // A cycle longer than the interval starts the next one at once, not a burst of them.
        next = std::max(next, std::chrono::steady_clock::now());
        for (;;) {
            if (started) {
                bool wrote = false;
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    wrote = !writes_.empty();
                }
                serveQueued(session, scan, true);
                if (wrote) {
                    next = std::chrono::steady_clock::now();  // show the written values now
                }
            } else {
                serveQueued(session, scan, false);
            }
            if (waitUntil(next)) {
                return;
            }
            if (std::chrono::steady_clock::now() >= next) {
                break;
            }
        }
    }
}

void LineWorker::failAll(LineScan& scan, LinePublisher* publisher, int code,
                         const std::string& text) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        state_.running = false;
        state_.lastError = text;
    }
    TagResult bad;
    bad.code = code;
    bad.text = text;
    bad.time = std::chrono::system_clock::now();
    CycleSummary summary;
    summary.complete = true;
    summary.failedTags = scan.tags().size();
    const std::vector<TagResult> results(scan.tags().size(), bad);
    if (publisher != nullptr) {
        publisher->cycle(results, summary);
    }
    if (web_ != nullptr) {
        web::CycleUpdate update = webUpdate(scan, line_, results, summary);
        update.up = false;
        update.lineProblem = text;
        web_->publish(update);
    }
}

void LineWorker::serveQueued(Session& session, LineScan& scan, bool started) {
    std::deque<Write> writes;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        writes.swap(writes_);
    }
    for (const Write& w : writes) {
        const Outcome o = started ? write(session, scan, w)
                                  : Outcome{false, false,
                                            "the line is not running: " + session.lastErrorText()};
        publishResult(w.name, o.ok, o.text);
    }
    if (web_ == nullptr) {
        return;
    }
    for (auto& [request, promise] : web_->requests().take()) {
        if (request.kind != web::LineRequest::Kind::Write) {
            promise.set_value(web::errorReply(501, "the gateway offers reads and writes only"));
            continue;
        }
        if (!line_.allowWrites) {
            promise.set_value(web::errorReply(
                403, "writes are not allowed on line " + line_.name + " (allow_writes)"));
            continue;
        }
        // The value as `qarn write` takes it: text as it is, numbers and lists as written.
        std::string text;
        if (request.value.is_string()) {
            text = request.value.get<std::string>();
        } else if (request.value.is_array()) {
            for (const nlohmann::json& item : request.value) {
                text += (text.empty() ? "" : ",") +
                        (item.is_string() ? item.get<std::string>() : item.dump());
            }
        } else {
            text = request.value.dump();
        }
        const Outcome o = started ? write(session, scan, Write{request.tag, text})
                                  : Outcome{false, false, "the line is not running"};
        if (o.ok) {
            promise.set_value(web::Reply{200, {{"name", request.tag}, {"written", o.text}}});
        } else {
            promise.set_value(web::errorReply(o.sent ? 502 : 400, o.text));
        }
        publishResult(request.tag, o.ok, o.text);
    }
}

LineWorker::Outcome LineWorker::write(Session& session, LineScan& scan, const Write& w) {
    const int index = scan.find(w.name);
    if (index < 0) {
        return {false, false, "no tag '" + w.name + "' on line " + line_.name};
    }
    const TagHandle& handle = scan.handle(static_cast<size_t>(index));
    const std::string& address = scan.tags()[static_cast<size_t>(index)].address;
    const ValueType type = handle.type();
    std::string raw, error;
    std::vector<uint8_t> value;
    const std::string text = trimmed(w.text);
    if (!unscaleWrite(type, line_.tags[static_cast<size_t>(index)].scaling, text, raw, error) ||
        !encodeValue(type, raw, value, error)) {
        return {false, false, "refused, nothing sent: " + error};
    }
    std::string problem = session.nodeGuard().tagProblem(address, TagAccess::Write);
    if (problem.empty() && NodeGuard::isNodeOverride(address) && !value.empty()) {
        problem = session.nodeGuard().targetProblem(value[0]);
    }
    if (!problem.empty()) {
        return {false, false, "refused, nothing sent: " + problem};
    }
    IProtocol& protocol = session.started();
    const int storeFailures = session.storeFailures();
    session.clearPortError();
    if (!protocol.Write(&handle.tag(), value.data())) {
        return {false, true, session.protocolError()};
    }
    const std::string unsaved = session.storeFailureSince(storeFailures);
    if (!unsaved.empty()) {
        return {false, true, "the node override was not saved: " + unsaved};
    }
    return {true, true, text};
}

void LineWorker::publishResult(const std::string& name, bool ok, const std::string& text) {
    if (!ok) {
        std::cerr << "qarn gateway: line " << line_.name << ": write to " << name << ": " << text
                  << "\n";
    }
    if (client_ != nullptr) {
        client_->publishEvent(client_->topic(line_.name + "/" + name + "/set/result"),
                              writeResultPayload(ok, text, std::chrono::system_clock::now()));
    }
}

}  // namespace qarn
