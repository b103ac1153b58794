// The HTTP side against an httplib client on 127.0.0.1: the API's views, who may write, live
// events and a prompt stop. The line behind it is a stand-in thread that answers the queue.

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <qarn/toolkit/Errors.h>
#include <qarn/web/LineState.h>
#include <qarn/web/Server.h>

namespace {

using namespace std::chrono_literals;
using qarn::web::LineRequest;
using qarn::web::LineState;
using qarn::web::Reply;

class ServerTest : public ::testing::Test {
  protected:
    ServerTest() : line("line") {
        line.setTags({{"volts", "1?HREG?400001?unsignedShort", "unsignedShort", true},
                      {"state", "1?INP?100001?boolean", "boolean", false}});
        qarn::web::CycleUpdate update;
        qarn::web::TagReadingState volts, state;
        volts.read = volts.ok = true;
        volts.value = 2305;
        volts.number = 2305;
        volts.timeMs = 1700000000000;
        state.read = true;
        state.code = -6;
        state.text = "Communication error (no answer within 200 ms, 3 tries)";
        update.readings = {volts, state};
        update.requests = 2;
        update.failedKinds = {"timeout"};
        update.up = true;
        line.publish(update);
        // The stand-in for the polling thread: echoes what it was asked.
        worker = std::thread([this] {
            while (!stopWorker) {
                line.requests().waitUntil(std::chrono::steady_clock::now() + 20ms);
                for (auto& [request, reply] : line.requests().take()) {
                    reply.set_value(Reply{200,
                                          {{"kind", static_cast<int>(request.kind)},
                                           {"tag", request.tag},
                                           {"written", request.value},
                                           {"node", request.node},
                                           {"target", request.target}}});
                }
            }
        });
    }
    ~ServerTest() override {
        stop();
        stopWorker = true;
        worker.join();
    }

    void start(qarn::web::ServerSettings settings = {}) {
        settings.port = 0;
        server = std::make_unique<qarn::web::Server>(std::vector<LineState*>{&line}, settings);
        port = server->bind();
        http = std::thread([this] { server->run(); });
        client = std::make_unique<httplib::Client>("127.0.0.1", port);
        client->set_read_timeout(5, 0);
    }
    void stop() {
        if (server) {
            server->stop();
            http.join();
            server.reset();
        }
    }
    nlohmann::json getJson(const std::string& path, int status = 200) {
        const auto r = client->Get(path.c_str());
        EXPECT_TRUE(r) << path;
        if (!r) {
            return nullptr;
        }
        EXPECT_EQ(r->status, status) << path << ": " << r->body;
        EXPECT_EQ(r->get_header_value("Content-Type"), "application/json") << path;
        return nlohmann::json::parse(r->body);
    }

    LineState line;
    std::atomic<bool> stopWorker{false};
    std::thread worker;
    std::unique_ptr<qarn::web::Server> server;
    std::thread http;
    std::unique_ptr<httplib::Client> client;
    int port = 0;
};

TEST_F(ServerTest, ApiViewsAndThePagesFiles) {
    start();
    const nlohmann::json tags = getJson("/api/tags");
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0], (nlohmann::json{{"name", "volts"},
                                       {"tag", "1?HREG?400001?unsignedShort"},
                                       {"type", "unsignedShort"},
                                       {"writable", true},
                                       {"value", 2305},
                                       {"error", nullptr},
                                       {"time", "2023-11-14T22:13:20.000Z"}}));
    EXPECT_EQ(getJson("/api/tags/state")["error"]["code"], -6);
    EXPECT_EQ(getJson("/api/tags/nope", 404)["error"], "no tag called 'nope'");
    EXPECT_EQ(getJson("/api/tags?line=other", 404)["error"], "no line called 'other'");
    EXPECT_EQ(getJson("/api/health")["failures"], (nlohmann::json{{"timeout", 1}}));
    EXPECT_EQ(getJson("/api/trends?names=volts")["volts"].size(), 1u);
    EXPECT_EQ(getJson("/api/info")["writes"], false);
    EXPECT_EQ(getJson("/api/overrides")["kind"], static_cast<int>(LineRequest::Kind::GetIds));
    EXPECT_EQ(getJson("/api/nothing", 404)["error"], "not found");

    const uint8_t frame[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01, 0x84, 0x0A};
    line.traffic().frame({"TX", frame, sizeof frame, true, std::chrono::system_clock::now()});
    line.traffic().frame({"RX", frame, sizeof frame, false, std::chrono::system_clock::now()});
    const nlohmann::json traffic = getJson("/api/traffic?since=1");
    EXPECT_EQ(traffic["last"], 2);
    ASSERT_EQ(traffic["frames"].size(), 1u);
    EXPECT_EQ(traffic["frames"][0]["dir"], "RX");
    getJson("/api/traffic?since=x", 400);

    // The page and every file it loads, with the icon that browsers ask for.
    for (const char* path : {"/", "/app.js", "/style.css", "/favicon.svg", "/favicon.ico",
                             "/dygraph.min.js", "/dygraph.css"}) {
        const auto r = client->Get(path);
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 200) << path;
        EXPECT_GT(r->body.size(), 100u) << path;
        EXPECT_EQ(r->body.find("sourceMappingURL"), std::string::npos) << path;
    }
    EXPECT_NE(client->Get("/")->body.find("<script src=\"/app.js\">"), std::string::npos);
}

TEST_F(ServerTest, WritesNeedTheSwitchTheTokenAJsonBodyAndThisOrigin) {
    struct Case {
        const char* what;
        bool allow;
        const char* token;
        httplib::Headers headers;
        const char* type;
        std::string body;
        int status;
    };
    const std::string json = R"({"value": 2400})";
    const std::string host = "127.0.0.1:";  // + port, below
    const Case cases[] = {
        {"writes off", false, "", {}, "application/json", json, 403},
        {"writes on", true, "", {}, "application/json", json, 200},
        {"with charset", true, "", {}, "application/json; charset=utf-8", json, 200},
        {"a form", true, "", {}, "application/x-www-form-urlencoded", "value=2400", 415},
        {"plain text", true, "", {}, "text/plain", json, 415},
        {"not JSON", true, "", {}, "application/json", "{value", 400},
        {"no value", true, "", {}, "application/json", "{}", 400},
        {"too big",
         true,
         "",
         {},
         "application/json",
         R"({"value": ")" + std::string(5000, 'x') + "\"}",
         413},
        {"foreign page",
         true,
         "",
         {{"Origin", "http://evil.example"}},
         "application/json",
         json,
         403},
        {"token missing", true, "s3cret", {}, "application/json", json, 401},
        {"token wrong",
         true,
         "s3cret",
         {{"Authorization", "Bearer s3cre"}},
         "application/json",
         json,
         401},
        {"token right",
         true,
         "s3cret",
         {{"Authorization", "Bearer s3cret"}},
         "application/json",
         json,
         200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qarn::web::ServerSettings settings;
        settings.writes.allowWrites = c.allow;
        settings.writes.token = c.token;
        start(settings);
        const auto r = client->Post("/api/tags/volts", c.headers, c.body, c.type);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status) << r->body;
        const nlohmann::json body = nlohmann::json::parse(r->body);
        if (c.status == 200) {
            EXPECT_EQ(body["written"], 2400);
            EXPECT_EQ(body["tag"], "volts");
        } else {
            EXPECT_TRUE(body["error"].is_string()) << r->body;
        }
        stop();
    }
    // The page of this very server may write; and node overrides take numbers only.
    qarn::web::ServerSettings settings;
    settings.writes.allowWrites = true;
    start(settings);
    const httplib::Headers same = {{"Origin", "http://127.0.0.1:" + std::to_string(port)}};
    auto r = client->Post("/api/tags/volts", same, json, "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
    r = client->Post("/api/tags/nope", json, "application/json");
    EXPECT_EQ(r->status, 404);
    r = client->Post("/api/overrides", R"({"node": 2, "target": 5})", "application/json");
    EXPECT_EQ(nlohmann::json::parse(r->body)["target"], "5");
    r = client->Post("/api/overrides", R"({"node": "2; rm", "target": 5})", "application/json");
    EXPECT_EQ(r->status, 400);
}

TEST_F(ServerTest, WritesOnAnAddressOthersReachNeedAToken) {
    qarn::web::ServerSettings settings;
    settings.host = "0.0.0.0";
    settings.writes.allowWrites = true;
    EXPECT_THROW(qarn::web::Server({&line}, settings), qarn::UsageError);
    settings.writes.token = "t";
    EXPECT_NO_THROW(qarn::web::Server({&line}, settings));
    settings.writes = {true, ""};
    settings.host = "127.0.0.1";
    EXPECT_NO_THROW(qarn::web::Server({&line}, settings));
    settings.writes = {false, ""};
    settings.host = "::";
    EXPECT_NO_THROW(qarn::web::Server({&line}, settings));
}

TEST_F(ServerTest, EventsComeAfterEveryCycleAndStopEndsThemPromptly) {
    qarn::web::ServerSettings settings;
    settings.maxEventClients = 1;
    start(settings);
    std::atomic<int> events{0};
    std::thread listener([this, &events] {
        httplib::Client events_client("127.0.0.1", port);
        events_client.set_read_timeout(10, 0);
        events_client.Get("/api/events", [&](const char* data, size_t size) {
            const std::string text(data, size);
            if (text.rfind("data: ", 0) == 0) {
                const auto event = nlohmann::json::parse(text.substr(6));
                EXPECT_EQ(event["tags"][0]["name"], "volts");
                ++events;
            }
            return true;
        });
    });
    const auto waitFor = [&events](int n) {
        for (int i = 0; i < 200 && events < n; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return events.load();
    };
    EXPECT_EQ(waitFor(1), 1) << "the state as it is on connecting";
    line.publish(qarn::web::CycleUpdate{});
    EXPECT_EQ(waitFor(2), 2);
    // One live page only, here: the next one is told so.
    EXPECT_EQ(client->Get("/api/events")->status, 503);

    const auto before = std::chrono::steady_clock::now();
    stop();
    const auto took = std::chrono::steady_clock::now() - before;
    listener.join();
    EXPECT_LT(took, 2s) << "stopping with a live page (the aim: within 1 s)";
}

}  // namespace
