#include <qarn/gateway/GatewayConfig.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <toml++/toml.h>

#include <qarn/mqtt/MqttUrl.h>
#include <qarn/rtu/LineSettings.h>
#include <qarn/toolkit/Errors.h>

namespace qarn {

namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) {
        text += (text.empty() ? "" : "\n") + l;
    }
    return text;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Reads the fields of one table, noting each problem with the file, line and field.
class Fields {
  public:
    Fields(const toml::table& table, std::string path, std::string file,
           std::vector<std::string>& problems)
        : table_(table), path_(std::move(path)), file_(std::move(file)), problems_(problems) {}

    // Call after reading: every key not asked for is an unknown field.
    ~Fields() {
        for (auto&& [key, node] : table_) {
            if (known_.count(std::string(key.str())) == 0) {
                problem(node, std::string(key.str()), "unknown field");
            }
        }
    }
    Fields(const Fields&) = delete;
    Fields& operator=(const Fields&) = delete;

    const toml::node* get(const std::string& key) {
        known_.insert(key);
        return table_.get(key);
    }
    bool has(const std::string& key) { return get(key) != nullptr; }
    // Where `key` is, else where the table starts.
    std::string whereOf(const std::string& key) {
        const toml::node* n = get(key);
        return where(n != nullptr ? *n : table_);
    }

    std::optional<std::string> text(const std::string& key) {
        const toml::node* n = get(key);
        if (n == nullptr) {
            return std::nullopt;
        }
        if (!n->is_string()) {
            problem(*n, key, "must be a string");
            return std::nullopt;
        }
        return n->as_string()->get();
    }
    // An integer within [min, max].
    std::optional<long> integer(const std::string& key, long min, long max) {
        const toml::node* n = get(key);
        if (n == nullptr) {
            return std::nullopt;
        }
        if (!n->is_integer() || n->as_integer()->get() < min || n->as_integer()->get() > max) {
            problem(*n, key,
                    "must be an integer from " + std::to_string(min) + " to " +
                        std::to_string(max));
            return std::nullopt;
        }
        return static_cast<long>(n->as_integer()->get());
    }
    std::optional<double> number(const std::string& key) {
        const toml::node* n = get(key);
        if (n == nullptr) {
            return std::nullopt;
        }
        const std::optional<double> v = n->value<double>();
        if (!v || !std::isfinite(*v)) {
            problem(*n, key, "must be a finite number");
            return std::nullopt;
        }
        return v;
    }
    std::optional<bool> flag(const std::string& key) {
        const toml::node* n = get(key);
        if (n == nullptr) {
            return std::nullopt;
        }
        if (!n->is_boolean()) {
            problem(*n, key, "must be true or false");
            return std::nullopt;
        }
        return n->as_boolean()->get();
    }

    void problem(const toml::node& at, const std::string& key, const std::string& why) {
        problems_.push_back(where(at) + ": " + field(key) + ": " + why);
    }
    // A problem of the table itself (a missing field).
    void missing(const std::string& key, const std::string& why) {
        problems_.push_back(where(table_) + ": " + field(key) + ": " + why);
    }
    std::string where(const toml::node& at) const {
        return file_ + ":" + std::to_string(at.source().begin.line);
    }
    std::string field(const std::string& key) const {
        return path_.empty() ? key : path_ + "." + key;
    }

  private:
    const toml::table& table_;
    std::string path_;
    std::string file_;
    std::vector<std::string>& problems_;
    std::set<std::string> known_;
};

void readHost(const toml::table& root, const std::string& file, GatewayConfig& config,
              std::vector<std::string>& problems) {
    const toml::node* node = root.get("gateway");
    if (node == nullptr) {
        return;
    }
    if (!node->is_table()) {
        problems.push_back(file + ":" + std::to_string(node->source().begin.line) +
                           ": gateway: must be a table");
        return;
    }
    Fields f(*node->as_table(), "gateway", file, problems);
    config.host.store = f.text("store").value_or("");
    config.host.plugin = f.text("plugin").value_or("");
}

void readMqtt(const toml::table& root, const std::string& file, GatewayConfig& config,
              std::vector<std::string>& problems) {
    const toml::node* node = root.get("mqtt");
    if (node == nullptr) {
        return;
    }
    if (!node->is_table()) {
        problems.push_back(file + ":" + std::to_string(node->source().begin.line) +
                           ": mqtt: must be a table");
        return;
    }
    std::ostringstream signature;
    signature << *node->as_table();
    config.mqttSignature = signature.str();
    Fields f(*node->as_table(), "mqtt", file, problems);
    MqttSettings s;
    bool ok = true;
    auto attempt = [&](const char* key, auto action) {
        try {
            action();
        } catch (const UsageError& e) {
            const toml::node* at = f.get(key);
            f.problem(at != nullptr ? *at : *node, key, e.what());
            ok = false;
        }
    };
    const std::optional<std::string> url = f.text("url");
    if (!url) {
        if (!f.has("url")) {
            f.missing("url", "missing: mqtt://[user@]host[:port]/PREFIX");
        }
        ok = false;
    } else {
        attempt("url", [&] { s.url = parseMqttUrl(*url); });
    }
    const std::string passwordFile = f.text("password_file").value_or("");
    attempt("password_file", [&] { s.password = readMqttPassword(passwordFile); });
    s.caFile = f.text("cafile").value_or("");
    if (!s.caFile.empty() && !std::ifstream(s.caFile)) {
        f.problem(*f.get("cafile"), "cafile", "cannot read '" + s.caFile + "'");
        ok = false;
    }
    s.qos = static_cast<int>(f.integer("qos", 0, 2).value_or(1));
    if (const std::optional<std::string> publish = f.text("publish")) {
        attempt("publish", [&] { s.publish = parsePublishMode(*publish); });
    }
    s.clientId = f.text("client_id").value_or("");
    s.healthSeconds = static_cast<int>(f.integer("health_interval", 1, 86400).value_or(30));
    s.discovery = f.flag("homeassistant").value_or(false);
    if (ok) {
        config.mqtt = s;
    }
}

void readWeb(const toml::table& root, const std::string& file, GatewayConfig& config,
             std::vector<std::string>& problems) {
    const toml::node* node = root.get("web");
    if (node == nullptr) {
        return;
    }
    if (!node->is_table()) {
        problems.push_back(file + ":" + std::to_string(node->source().begin.line) +
                           ": web: must be a table");
        return;
    }
    Fields f(*node->as_table(), "web", file, problems);
    const std::optional<std::string> listen = f.text("listen");
    if (!listen) {
        if (!f.has("listen")) {
            f.missing("listen", "missing: HOST:PORT, e.g. 127.0.0.1:8080");
        }
        return;
    }
    const size_t colon = listen->rfind(':');
    const std::string port = colon == std::string::npos ? "" : listen->substr(colon + 1);
    const bool digits = !port.empty() && port.size() <= 5 &&
                        port.find_first_not_of("0123456789") == std::string::npos;
    if (colon == 0 || !digits || std::stol(port) > 65535) {
        f.problem(*f.get("listen"), "listen", "must be HOST:PORT, e.g. 127.0.0.1:8080");
        return;
    }
    config.web.listen = *listen;
    config.web.host = listen->substr(0, colon);
    if (config.web.host.size() > 2 && config.web.host.front() == '[' &&
        config.web.host.back() == ']') {
        config.web.host = config.web.host.substr(1, config.web.host.size() - 2);
    }
    config.web.port = static_cast<int>(std::stol(port));
    config.web.token = f.text("token").value_or("");
    config.web.origin = f.where(*f.get("listen"));
}

void readTags(const toml::table& line, const std::string& path, const std::string& file,
              GatewayLine& out, std::vector<std::string>& problems) {
    const toml::node* node = line.get("tag");
    if (node == nullptr) {
        return;
    }
    const toml::array* tags = node->as_array();
    if (tags == nullptr) {
        problems.push_back(file + ":" + std::to_string(node->source().begin.line) + ": " + path +
                           ".tag: must be tables ([[line.tag]])");
        return;
    }
    for (size_t i = 0; i < tags->size(); ++i) {
        const std::string at = path + ".tag[" + std::to_string(i + 1) + "]";
        const toml::table* t = (*tags)[i].as_table();
        if (t == nullptr) {
            problems.push_back(file + ":" + std::to_string((*tags)[i].source().begin.line) +
                               ": " + at + ": must be a table");
            continue;
        }
        Fields f(*t, at, file, problems);
        GatewayTag tag;
        tag.entry.origin = f.whereOf("name");
        const std::optional<std::string> name = f.text("name");
        const std::optional<std::string> address = f.text("address");
        if (!name && !f.has("name")) {
            f.missing("name", "missing");
        }
        if (!address && !f.has("address")) {
            f.missing("address", "missing: NODE?MEMTYPE?ADDRESS?TYPE");
        }
        tag.scaling.scale = f.number("scale");
        if (tag.scaling.scale && *tag.scaling.scale == 0.0) {
            f.problem(*f.get("scale"), "scale", "must not be 0");
        }
        tag.scaling.offset = f.number("offset");
        tag.scaling.unit = f.text("unit").value_or("");
        if (name && address) {
            tag.entry.name = *name;
            tag.entry.address = *address;
            out.tags.push_back(tag);
        }
    }
}

void readLine(const toml::table& t, size_t index, const std::string& file,
              GatewayConfig& config, std::vector<std::string>& problems) {
    const std::string path = "line[" + std::to_string(index + 1) + "]";
    Fields f(t, path, file, problems);
    GatewayLine line;
    line.origin = f.where(t);
    LineOptions& o = line.options;
    const size_t before = problems.size();

    const std::optional<std::string> name = f.text("name");
    if (!name) {
        if (!f.has("name")) {
            f.missing("name", "missing");
        }
    } else if (const std::string why = topicLevelProblem(*name); !why.empty()) {
        f.problem(*f.get("name"), "name", "'" + *name + "' " + why);
    } else {
        line.name = *name;
    }
    o.ident = f.text("ident").value_or(line.name);
    if (o.ident.empty() && f.has("ident")) {
        f.problem(*f.get("ident"), "ident", "must not be empty");
    }
    o.config = f.text("config").value_or("");
    o.device = f.text("device").value_or("");
    static const char* const quick[] = {"baud",  "parity", "bits",    "stopbits", "mode",
                                        "model", "node",   "timeout", "repeat",   "delay"};
    bool quickGiven = !o.device.empty();
    for (const char* key : quick) {
        quickGiven = quickGiven || f.has(key);
    }
    if (!o.config.empty() && quickGiven) {
        f.problem(*f.get("config"), "config",
                  "a full configuration string excludes device, baud and the other quick fields");
    } else if (o.config.empty() && o.device.empty()) {
        f.missing("device", "missing: give device (and baud, ...) or config");
    }
    o.baud = static_cast<int>(f.integer("baud", 1, 4000000).value_or(o.baud));
    if (const std::optional<std::string> parity = f.text("parity")) {
        rtu::Parity p = rtu::Parity::None;
        if (!rtu::parseParity(*parity, p)) {
            f.problem(*f.get("parity"), "parity", "must be none, even, odd or mark");
        }
        o.parity = *parity;
    }
    o.bits = static_cast<int>(f.integer("bits", 5, 8).value_or(o.bits));
    o.stopbits = static_cast<int>(f.integer("stopbits", 1, 2).value_or(o.stopbits));
    if (const std::optional<std::string> mode = f.text("mode")) {
        if (*mode != "RS-232" && *mode != "RS-485" && *mode != "RS-422") {
            f.problem(*f.get("mode"), "mode", "must be RS-232, RS-485 or RS-422");
        }
        o.mode = *mode;
    }
    o.model = f.text("model").value_or(o.model);
    o.node = static_cast<int>(f.integer("node", 1, 247).value_or(o.node));
    auto optionalInt = [&](const char* key, long min, long max) -> std::optional<int> {
        const std::optional<long> v = f.integer(key, min, max);
        return v ? std::optional<int>(static_cast<int>(*v)) : std::nullopt;
    };
    o.timeout = optionalInt("timeout", 1, 60000);
    o.repeat = optionalInt("repeat", 0, 10);
    o.delay = optionalInt("delay", 0, 60000);
    o.quickGiven = quickGiven && o.config.empty();
    line.intervalMs = f.integer("interval", 0, 86400000).value_or(1000);
    o.lateGuardMs = optionalInt("late_guard", 0, 60000);
    o.echo = f.text("echo").value_or("auto");
    if (o.echo != "auto" && o.echo != "on" && o.echo != "off") {
        f.problem(*f.get("echo"), "echo", "must be auto, on or off");
    }
    line.allowWrites = f.flag("allow_writes").value_or(false);

    if (const std::optional<std::string> tagsFile = f.text("tags_file")) {
        const std::string tagPath =
            !tagsFile->empty() && (*tagsFile)[0] == '/' ? *tagsFile
                                                        : folderOf(file) + "/" + *tagsFile;
        try {
            for (const TagSpec& entry : readTagList(tagPath)) {
                line.tags.push_back(GatewayTag{entry, TagScaling{}});
            }
        } catch (const UsageError& e) {
            f.problem(*f.get("tags_file"), "tags_file", e.what());
        }
    }
    f.get("tag");
    readTags(t, path, file, line, problems);
    if (line.tags.empty() && !f.has("tags_file") && !f.has("tag")) {
        f.missing("tag", "no tags: give [[line.tag]] tables or tags_file");
    }
    std::set<std::string> names;
    for (const GatewayTag& tag : line.tags) {
        const std::string why = topicLevelProblem(tag.entry.name);
        if (!why.empty()) {
            problems.push_back(tag.entry.origin + ": " + path + " tag name: '" + tag.entry.name +
                               "' " + why);
        } else if (!names.insert(tag.entry.name).second) {
            problems.push_back(tag.entry.origin + ": " + path + " tag name: '" + tag.entry.name +
                               "' is given twice on this line");
        }
    }
    if (problems.size() == before) {
        try {
            configurationString(o);  // what is left: e.g. a blank in a device path
        } catch (const UsageError& e) {
            problems.push_back(line.origin + ": " + path + ": " + e.what());
        }
    }
    for (const char* key : {"name", "ident", "device", "config"}) {
        line.where[key] = f.whereOf(key);
    }
    config.lines.push_back(std::move(line));
}

}  // namespace

ConfigError::ConfigError(const std::vector<std::string>& problems)
    : std::runtime_error(joined(problems)), problems_(problems) {}

std::string GatewayLine::signature() const {
    std::ostringstream s;
    const LineOptions& o = options;
    s << name << '\n'
      << o.ident << '\n'
      << (o.config.empty() ? configurationString(o) : o.config) << '\n'
      << intervalMs << ' ' << o.lateGuardMs.value_or(-1) << ' ' << o.echo << ' ' << allowWrites
      << '\n';
    for (const GatewayTag& t : tags) {
        s << t.entry.name << ' ' << t.entry.address << ' ' << t.scaling.scale.value_or(1) << ' '
          << t.scaling.offset.value_or(0) << ' ' << t.scaling.scale.has_value()
          << t.scaling.offset.has_value() << ' ' << t.scaling.unit << '\n';
    }
    return s.str();
}

GatewayConfig loadGatewayConfig(const std::string& path) {
    GatewayConfig config;
    config.path = path;
    toml::table root;
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        const int line = static_cast<int>(e.source().begin.line);
        throw ConfigError({path + ":" + std::to_string(line) + ": " +
                           std::string(e.description())});
    }
    std::vector<std::string> problems;
    for (auto&& [key, node] : root) {
        const std::string k(key.str());
        if (k != "gateway" && k != "mqtt" && k != "web" && k != "line") {
            problems.push_back(path + ":" + std::to_string(node.source().begin.line) + ": " + k +
                               ": unknown field");
        }
    }
    readHost(root, path, config, problems);
    readMqtt(root, path, config, problems);
    readWeb(root, path, config, problems);
    if (!root.contains("mqtt") && !root.contains("web")) {
        problems.push_back(path + ":1: mqtt: missing: the values need somewhere to go ([mqtt] "
                                  "or [web])");
    }
    const toml::node* lines = root.get("line");
    const toml::array* list = lines != nullptr ? lines->as_array() : nullptr;
    if (lines == nullptr) {
        problems.push_back(path + ":1: line: missing: no [[line]]");
    } else if (list == nullptr) {
        problems.push_back(path + ":" + std::to_string(lines->source().begin.line) +
                           ": line: must be tables ([[line]])");
    } else {
        for (size_t i = 0; i < list->size(); ++i) {
            const toml::table* t = (*list)[i].as_table();
            if (t == nullptr) {
                problems.push_back(path + ":" + std::to_string((*list)[i].source().begin.line) +
                                   ": line[" + std::to_string(i + 1) + "]: must be a table");
                continue;
            }
            readLine(*t, i, path, config, problems);
        }
    }
    // Lines share the process: their names, store sections and devices must not clash.
    std::map<std::string, std::string> names, idents, devices;
    for (size_t i = 0; i < config.lines.size(); ++i) {
        const GatewayLine& l = config.lines[i];
        const std::string field = "line[" + std::to_string(i + 1) + "]";
        auto clash = [&](std::map<std::string, std::string>& seen, const std::string& value,
                         const char* what) {
            if (value.empty()) {
                return;
            }
            const auto [it, fresh] = seen.emplace(value, l.where.at(what));
            if (!fresh) {
                problems.push_back(l.where.at(what) + ": " + field + "." + what + ": '" + value +
                                   "' is used by the line at " + it->second + " too");
            }
        };
        clash(names, l.name, "name");
        clash(idents, l.options.ident, "ident");
        clash(devices, l.options.device, "device");
    }
    if (!problems.empty()) {
        // In the order of the file, as an editor goes through them.
        auto lineOf = [&path](const std::string& p) {
            return p.compare(0, path.size() + 1, path + ":") == 0
                       ? std::atol(p.c_str() + path.size() + 1)
                       : 0L;
        };
        std::stable_sort(problems.begin(), problems.end(),
                         [&](const std::string& a, const std::string& b) {
                             return lineOf(a) < lineOf(b);
                         });
        throw ConfigError(problems);
    }
    return config;
}

}  // namespace qarn
