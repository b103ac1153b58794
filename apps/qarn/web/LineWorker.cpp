#include <qarn/web/LineWorker.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <sstream>
#include <string>

#include <qarn/host/IProtocol.h>
#include <qarn/host/ITag.h>
#include <qarn/output/ValueJson.h>
#include <qarn/scan/PollOutput.h>
#include <qarn/scan/Poller.h>
#include <qarn/toolkit/Errors.h>
#include <qarn/toolkit/NodeGuard.h>
#include <qarn/toolkit/Session.h>
#include <qarn/toolkit/StopOnSignal.h>
#include <qarn/toolkit/TagValue.h>
#include <qarn/toolkit/ValueCodec.h>
#include <qarn/web/FailureKind.h>

namespace qarn::web {

namespace {

constexpr size_t ConsoleReplySize = 16384;
// How long a wait between cycles may last before the stop flag is looked at again.
constexpr auto StopCheck = std::chrono::milliseconds(100);

int64_t millisecondsOf(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// The host value as the API shows it, and as a number when it is one scalar.
void decodeInto(const ValueType& type, const uint8_t* bytes, size_t size, TagReadingState& r) {
    const DecodedValue value = decodeValue(type, bytes, size);
    r.value = toJson(value);
    r.number.reset();
    if (value.shape == DecodedValue::Shape::Scalar && value.items.size() == 1) {
        const Element& e = value.items[0];
        const double n = e.kind == Element::Signed ? static_cast<double>(e.i)
                         : e.kind == Element::Real ? e.d
                                                   : static_cast<double>(e.u);
        if (std::isfinite(n)) {
            r.number = n;
        }
    }
}

// The API's value as the text `qarn write` takes: numbers and strings as they are, booleans as
// 1 or 0, lists as comma lists. False for anything else.
bool valueText(const nlohmann::json& value, std::string& text) {
    if (value.is_string()) {
        text = value.get<std::string>();
        return true;
    }
    if (value.is_boolean()) {
        text = value.get<bool>() ? "1" : "0";
        return true;
    }
    if (value.is_number()) {
        text = value.dump();
        return true;
    }
    if (value.is_array() && !value.empty()) {
        text.clear();
        for (const nlohmann::json& item : value) {
            std::string part;
            if (item.is_array() || !valueText(item, part)) {
                return false;
            }
            text += (text.empty() ? "" : ",") + part;
        }
        return true;
    }
    return false;
}

// Hands the one cycle that Poller::run ran to the worker.
class CycleCollector final : public PollOutput {
  public:
    void cycle(const CycleInfo& /*info*/, const std::vector<TagResult>& results,
               const CycleSummary& summary) override {
        results_ = results;
        summary_ = summary;
    }
    std::vector<TagResult> results_;
    CycleSummary summary_;
};

}  // namespace

LineWorker::LineWorker(Session& session, const std::vector<TagSpec>& specs, LineState& state,
                       WorkerSettings settings)
    : session_(session), protocol_(session.started()), state_(state), settings_(settings) {
    poller_ = std::make_unique<Poller>(session_, protocol_, specs);
    std::vector<TagInfo> tags;
    for (const PolledTag& polled : poller_->tags()) {
        handles_.push_back(std::make_unique<TagHandle>(session_, protocol_, polled.address));
        tags.push_back(TagInfo{polled.name, polled.address, typeName(polled.type),
                               !handles_.back()->tag().IsReadOnly()});
    }
    settled_.assign(tags.size(), !settings_.settleEcho);
    state_.setTags(std::move(tags));
}

// The tags go before the session that made them.
LineWorker::~LineWorker() {
    handles_.clear();
    poller_.reset();
}

void LineWorker::stop() {
    stop_ = true;
    state_.requests().wake();
}

void LineWorker::run() {
    auto next = std::chrono::steady_clock::now();
    while (!stop_ && !StopOnSignal::stopRequested()) {
        for (RequestQueue::Pending& pending : state_.requests().take()) {
            pending.second.set_value(serve(pending.first));
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= next) {
            cycle();
            // A cycle longer than the interval starts the next one at once, not a burst of them.
            next = std::max(next + settings_.interval, std::chrono::steady_clock::now());
            continue;
        }
        state_.requests().waitUntil(std::min(next, now + StopCheck));
    }
    state_.requests().close(errorReply(503, "the server is stopping"));
}

void LineWorker::cycle() {
    CycleCollector collector;
    PollSettings once;
    once.count = 1;
    const CycleSummary summary = poller_->run(once, collector);
    if (!summary.complete) {
        return;  // stopped half-way: the results are partly old
    }
    const std::vector<PolledTag>& tags = poller_->tags();
    CycleUpdate update;
    update.requests = summary.requests;
    update.seconds = std::chrono::duration<double>(summary.elapsed).count();
    for (size_t i = 0; i < tags.size(); ++i) {
        const TagResult& result = collector.results_[i];
        TagReadingState r;
        r.read = true;
        r.ok = result.ok;
        r.timeMs = millisecondsOf(result.time);
        if (result.ok) {
            decodeInto(tags[i].type, result.value.data(), result.value.size(), r);
        } else {
            r.code = result.code;
            r.text = result.text;
        }
        update.readings.push_back(std::move(r));
    }
    // A failed request marks every tag of its group alike; a tag that failed alone (a value
    // that does not convert) is not a failed request.
    for (const ScanGroup& group : poller_->scan().plan()) {
        if (!group.onLine || group.tags.empty() ||
            update.failedKinds.size() >= summary.failedRequests) {
            continue;
        }
        const TagResult& first = collector.results_[group.tags.front()];
        const bool failed = std::all_of(group.tags.begin(), group.tags.end(), [&](size_t t) {
            const TagResult& r = collector.results_[t];
            return !r.ok && r.code == first.code && r.text == first.text;
        });
        if (failed) {
            std::string kind = failureKind(first.code, first.text);
            // Once the device is gone, requests fail without reaching a port that could say so.
            if (portGone_ && kind.rfind("error_", 0) == 0) {
                kind = "gone";
            }
            update.failedKinds.push_back(kind);
            if (update.lineProblem.empty()) {
                update.lineProblem = "error " + std::to_string(first.code) + ": " + first.text;
            }
        }
    }
    update.failedKinds.resize(summary.failedRequests, "other");
    const bool gone = session_.lineReport().gone ||
                      std::find(update.failedKinds.begin(), update.failedKinds.end(), "gone") !=
                          update.failedKinds.end();
    update.up = !gone && (summary.requests == 0 || summary.failedRequests < summary.requests);
    // The port reports a device that went in the window of the request that found it so; later
    // requests and writes fail for that reason until an answer comes again.
    if (gone) {
        portGone_ = true;
        goneText_ = update.lineProblem;
    } else if (update.up) {
        portGone_ = false;
    } else if (portGone_) {
        // Later requests fail without reaching a port: the reason stays the same.
        update.lineProblem = goneText_;
    }
    if (update.up) {
        update.lineProblem.clear();
    }
    state_.publish(update);
}

Reply LineWorker::serve(const LineRequest& request) {
    try {
        switch (request.kind) {
            case LineRequest::Kind::Write:
                return write(request);
            case LineRequest::Kind::GetIds:
                return getIds();
            case LineRequest::Kind::SetId:
                return setId(request);
            case LineRequest::Kind::Doctor:
                return doctor();
        }
    } catch (const UsageError& e) {
        return errorReply(400, e.what());
    } catch (const std::exception& e) {
        return errorReply(500, e.what());
    }
    return errorReply(500, "unknown request");
}

Reply LineWorker::write(const LineRequest& request) {
    const int index = state_.findTag(request.tag);
    if (index < 0) {
        return errorReply(404, "no tag called '" + request.tag + "'");
    }
    const size_t i = static_cast<size_t>(index);
    const PolledTag& tag = poller_->tags()[i];
    const TagHandle& handle = *handles_[i];
    if (handle.tag().IsReadOnly()) {
        return errorReply(400, tag.name + " (" + tag.address + ") is read-only");
    }
    std::string text;
    if (!valueText(request.value, text)) {
        return errorReply(400, "the value must be a number, a boolean, a string or a list");
    }
    std::vector<uint8_t> bytes;
    std::string error;
    // Nothing goes on the line for a value that does not fit, nor for a refused node.
    if (!encodeValue(tag.type, text, bytes, error)) {
        return errorReply(400, tag.name + " (" + tag.address + "): " + error);
    }
    const NodeGuard guard = session_.nodeGuard();
    std::string problem = guard.tagProblem(tag.address, TagAccess::Write);
    if (problem.empty() && NodeGuard::isNodeOverride(tag.address) && !bytes.empty()) {
        problem = guard.targetProblem(bytes[0]);
    }
    if (!problem.empty()) {
        return errorReply(400,
                          tag.name + " (" + tag.address + "): refused, nothing sent: " + problem);
    }
    if (!settled_[i] && !NodeGuard::isNodeOverride(tag.address)) {
        readBack(i);
    }
    settled_[i] = true;
    const int storeFailures = session_.storeFailures();
    session_.clearPortError();
    if (!protocol_.Write(&handle.tag(), bytes.data())) {
        const bool gone = session_.lineReport().gone || portGone_;
        std::string reason = session_.lastErrorText();
        if (gone && reason.find("gone") == std::string::npos) {
            reason += " (the port is gone: " + goneText_ + ")";
        }
        return errorReply(gone ? 409 : 502, session_.lastErrorCode(), reason);
    }
    const std::string unsaved = session_.storeFailureSince(storeFailures);
    if (!unsaved.empty()) {
        return errorReply(500, tag.address + ": the node override was not saved: " + unsaved);
    }
    TagReadingState written;
    decodeInto(tag.type, bytes.data(), bytes.size(), written);
    readBack(i);
    nlohmann::json body = state_.tagJson(i);
    body["written"] = written.value;
    return Reply{200, body};
}

TagReadingState LineWorker::readBack(size_t index) {
    const PolledTag& tag = poller_->tags()[index];
    std::vector<uint8_t> value(hostValueSize(tag.type) + 1, 0);
    TagReadingState r;
    r.read = true;
    session_.clearPortError();
    r.ok = protocol_.Read(&handles_[index]->tag(), value.data());
    r.timeMs = millisecondsOf(std::chrono::system_clock::now());
    if (r.ok) {
        decodeInto(tag.type, value.data(), hostValueSize(tag.type), r);
    } else {
        r.code = session_.lastErrorCode();
        r.text = session_.lastErrorText();
    }
    state_.publishReading(index, r);
    return r;
}

Reply LineWorker::getIds() {
    std::vector<char> reply(ConsoleReplySize + 1, '\0');
    session_.clearPortError();
    protocol_.DoCommand("getid", reply.data(), ConsoleReplySize);
    // The plug-in lists its overrides as "id NODE -> TARGET", one a line.
    nlohmann::json overrides = nlohmann::json::array();
    const std::regex line(R"(id\s+(\d+)\s*->\s*(\d+))");
    std::istringstream text(reply.data());
    for (std::string row; std::getline(text, row);) {
        std::smatch m;
        if (std::regex_search(row, m, line)) {
            overrides.push_back({{"node", std::stol(m[1])}, {"target", std::stol(m[2])}});
        }
    }
    return Reply{200,
                 {{"overrides", overrides},
                  {"text", reply.data()},
                  {"notes", session_.nodeGuard().storedProblems()}}};
}

Reply LineWorker::setId(const LineRequest& request) {
    const std::string problem = session_.nodeGuard().setIdProblem(request.node, request.target);
    if (!problem.empty()) {
        return errorReply(400, "setid " + request.node + " " + request.target +
                                   ": refused, nothing changed: " + problem);
    }
    const int storeFailures = session_.storeFailures();
    std::vector<char> reply(ConsoleReplySize + 1, '\0');
    const std::string command = "setid " + request.node + " " + request.target;
    session_.clearPortError();
    protocol_.DoCommand(command.c_str(), reply.data(), ConsoleReplySize);
    const std::string unsaved = session_.storeFailureSince(storeFailures);
    if (!unsaved.empty()) {
        return errorReply(500, command + ": the change was not saved: " + unsaved);
    }
    Reply ids = getIds();
    ids.body["reply"] = reply.data();
    return ids;
}

Reply LineWorker::doctor() {
    // DOCTOR: the line doctor's analysis comes with the commissioning library.
    return errorReply(501, "the doctor is not part of this build");
}

}  // namespace qarn::web
