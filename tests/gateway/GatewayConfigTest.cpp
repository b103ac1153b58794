// The gateway's configuration file: a good one read whole, and every bad one refused with the
// file, the line in it and the field of each problem.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <qarn/gateway/GatewayConfig.h>
#include "TempDir.h"

namespace {

const char* const Good = R"([gateway]
store = "/tmp/store.ini"
[mqtt]
url = "mqtt://gw@broker:1884/site"
qos = 0
publish = "every"
[web]
listen = "127.0.0.1:8080"
[[line]]
name = "hall1"
device = "/dev/ttyUSB0"
baud = 19200
timeout = 300
late_guard = 150
echo = "off"
interval = 250
allow_writes = true
tags_file = "hall1.tags"
[[line.tag]]
name = "volts"
address = "1?HREG?400001?unsignedShort"
scale = 0.1
unit = "V"
[[line]]
name = "hall2"
ident = "H2"
config = "CfgVer=1 uart=/dev/ttyUSB1 baudrate=9600 defNodeId=1 model=GenericModbus"
[[line.tag]]
name = "count"
address = "2?IREG?300001?unsignedInt"
)";

class GatewayConfigTest : public ::testing::Test {
  protected:
    GatewayConfigTest() {
        TempDir::write(dir.file("hall1.tags"), "power 1?HREG?400010?float\n");
    }
    std::string write(const std::string& text) {
        TempDir::write(dir.file("gw.toml"), text);
        return dir.file("gw.toml");
    }
    TempDir dir;
};

TEST_F(GatewayConfigTest, AGoodFileIsReadWhole) {
    const qarn::GatewayConfig c = qarn::loadGatewayConfig(write(Good));
    ASSERT_TRUE(c.mqtt);
    EXPECT_EQ(c.mqtt->url.prefix, "site");
    EXPECT_EQ(c.mqtt->qos, 0);
    EXPECT_EQ(c.mqtt->publish, qarn::PublishMode::Every);
    EXPECT_EQ(c.web.listen, "127.0.0.1:8080");
    EXPECT_EQ(c.host.store, "/tmp/store.ini");
    ASSERT_EQ(c.lines.size(), 2u);
    const qarn::GatewayLine& one = c.lines[0];
    EXPECT_EQ(one.options.ident, "hall1");  // the name unless given
    EXPECT_EQ(c.lines[1].options.ident, "H2");
    EXPECT_EQ(one.intervalMs, 250);
    EXPECT_EQ(one.options.lateGuardMs, 150);
    EXPECT_EQ(one.options.echo, "off");
    EXPECT_TRUE(one.allowWrites);
    EXPECT_FALSE(c.lines[1].allowWrites);
    ASSERT_EQ(one.tags.size(), 2u);  // the file's first, then the inline ones
    EXPECT_EQ(one.tags[0].entry.name, "power");
    EXPECT_EQ(one.tags[1].entry.name, "volts");
    EXPECT_EQ(one.tags[1].entry.origin, dir.file("gw.toml") + ":20");  // its name
    EXPECT_EQ(one.tags[1].scaling.scale, 0.1);
    EXPECT_EQ(one.tags[1].scaling.unit, "V");
    EXPECT_NE(one.signature(), c.lines[1].signature());
}

TEST_F(GatewayConfigTest, EachProblemNamesItsLineAndField) {
    auto replaced = [](const std::string& from, const std::string& to) {
        std::string text = Good;
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const struct {
        std::string text;
        std::string problem;  // after "FILE:"
    } cases[] = {
        {replaced("baud = 19200", "baud = \"fast\""), "12: line[1].baud: must be an integer"},
        {replaced("qos = 0", "qos = 3"), "5: mqtt.qos: must be an integer from 0 to 2"},
        {replaced("broker:1884", "broker:99999"), "4: mqtt.url: MQTT URL"},
        {replaced("publish = \"every\"", "publish = \"often\""), "6: mqtt.publish:"},
        {replaced("listen = \"127.0.0.1:8080\"", "listen = \"8080\""), "8: web.listen:"},
        {replaced("name = \"hall1\"", "name = \"hall/1\""), "10: line[1].name: 'hall/1' must"},
        {replaced("name = \"hall2\"", "name = \"hall1\""),
         "25: line[2].name: 'hall1' is used by the line at"},
        {replaced("ident = \"H2\"", "ident = \"hall1\""), "26: line[2].ident: 'hall1'"},
        {replaced("name = \"volts\"", "name = \"set\""), "20: line[1] tag name: 'set'"},
        {replaced("name = \"volts\"", "name = \"power\""), "20: line[1] tag name: 'power' is given"},
        {replaced("scale = 0.1", "scale = 0"), "22: line[1].tag[1].scale: must not be 0"},
        {replaced("unit = \"V\"", "units = \"V\""), "23: line[1].tag[1].units: unknown field"},
        {replaced("address = \"1?HREG?400001?unsignedShort\"\n", ""),
         "19: line[1].tag[1].address: missing"},
        {replaced("echo = \"off\"", "echo = \"maybe\""), "15: line[1].echo: must be auto"},
        {replaced("tags_file = \"hall1.tags\"", "tags_file = \"none.tags\""),
         "18: line[1].tags_file: cannot read"},
        {replaced("ident = \"H2\"", "device = \"/dev/ttyS0\""), "27: line[2].config: a full"},
        {replaced("device = \"/dev/ttyUSB0\"", "bits = 9"), "11: line[1].bits: must be"},
        {replaced("interval = 250", "interval = -1"), "16: line[1].interval: must be"},
        {replaced("[web]", "[webb]"), "7: webb: unknown field"},
        {replaced("late_guard = 150", "late_guard = 150\nlate_guard = 2"), "15: "},
    };
    for (const auto& c : cases) {
        if (c.problem.empty()) {
            continue;
        }
        SCOPED_TRACE(c.problem);
        const std::string path = write(c.text);
        try {
            qarn::loadGatewayConfig(path);
            ADD_FAILURE() << "taken";
        } catch (const qarn::ConfigError& e) {
            bool found = false;
            for (const std::string& p : e.problems()) {
                found = found || p.rfind(path + ":" + c.problem, 0) == 0;
            }
            EXPECT_TRUE(found) << e.what();
        }
    }
}

TEST_F(GatewayConfigTest, EveryProblemOfAFileIsToldAtOnceInTheFilesOrder) {
    const std::string path = write(
        "[[line]]\nname = \"a+b\"\ndevice = \"/dev/x\"\n[[line.tag]]\nname = \"t\"\n"
        "[mqtt]\nurl = \"ftp://x/y\"\n");
    try {
        qarn::loadGatewayConfig(path);
        FAIL() << "taken";
    } catch (const qarn::ConfigError& e) {
        ASSERT_EQ(e.problems().size(), 3u) << e.what();
        EXPECT_EQ(e.problems()[0].rfind(path + ":2: line[1].name", 0), 0u) << e.what();
        EXPECT_EQ(e.problems()[1].rfind(path + ":4: line[1].tag[1].address: missing", 0), 0u);
        EXPECT_EQ(e.problems()[2].rfind(path + ":7: mqtt.url", 0), 0u) << e.what();
    }
}

}  // namespace
