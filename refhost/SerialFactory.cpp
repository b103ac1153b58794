#include <qarn/refhost/SerialFactory.h>

#include <algorithm>
#include <cstring>

#include <qarn/refhost/SerialPort.h>
#include "TraceSerialPort.h"

namespace refhost {

SerialFactory::SerialFactory() = default;

SerialFactory::~SerialFactory() = default;

ISerialPort* SerialFactory::Entry::handed() const {
    return trace != nullptr ? static_cast<ISerialPort*>(trace.get()) : port.get();
}

void* SerialFactory::ConvertTo(const char* name) {
    return name != nullptr && std::strcmp(name, "ISerialFactory") == 0 ? this : nullptr;
}

const char* SerialFactory::GetImpName() const {
    return "RefHostSerialFactory";
}

int SerialFactory::GetImpVersion() const {
    return 100;
}

bool SerialFactory::addMapping(const std::string& mapping, std::string& error) {
    const size_t eq = mapping.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == mapping.size()) {
        error = "port mapping '" + mapping + "' is not NAME=PATH (e.g. com1=/dev/ttyUSB0)";
        return false;
    }
    const std::string path = mapping.substr(eq + 1);
    if (path[0] != '/') {
        error = "port mapping '" + mapping + "': the device path must be absolute";
        return false;
    }
    map(mapping.substr(0, eq), path);
    return true;
}

void SerialFactory::map(const std::string& name, const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    portMap_[name] = path;
}

void SerialFactory::setTrace(FrameSink* trace) {
    const std::lock_guard<std::mutex> lock(mutex_);
    trace_ = trace;
}

void SerialFactory::setLineTrace(FrameSink* trace) {
    const std::lock_guard<std::mutex> lock(mutex_);
    line().trace = trace;
}

SerialFactory::Line& SerialFactory::line() const {
    return lines_[std::this_thread::get_id()];
}

const std::string& SerialFactory::lastError() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return line().lastError;
}

void SerialFactory::clearError() {
    const std::lock_guard<std::mutex> lock(mutex_);
    line().lastError.clear();
}

void SerialFactory::beginReport() {
    const std::lock_guard<std::mutex> lock(mutex_);
    line().report = LineReport{};
}

const LineReport& SerialFactory::report() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return line().report;
}

void SerialFactory::endLine() {
    const std::lock_guard<std::mutex> lock(mutex_);
    const std::thread::id self = std::this_thread::get_id();
    for (const Entry& e : open_) {
        if (e.owner == self) {
            return;  // its ports still report into it
        }
    }
    lines_.erase(self);
}

std::string SerialFactory::resolve(const std::string& name) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = portMap_.find(name);
    if (it != portMap_.end()) {
        return it->second;
    }
    return !name.empty() && name[0] == '/' ? name : std::string();
}

ISerialPort* SerialFactory::OpenSerial(const char* name) {
    const std::string wanted = name != nullptr ? name : "";
    const std::string path = resolve(wanted);
    std::string error;
    // Opened outside the lock: a device that is slow to open holds up its own line only.
    std::unique_ptr<SerialPort> port;
    if (path.empty()) {
        error = "port '" + wanted + "' is not mapped to a device (use --port-map " +
                (wanted.empty() ? "com1" : wanted) + "=PATH or give a device path)";
    } else {
        port = SerialPort::open(path, error);
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    Line& own = line();
    if (port == nullptr) {
        own.lastError = error;
        return nullptr;
    }
    port->reportTo(&own.lastError);
    port->reportInto(&own.report);
    FrameSink* const trace = own.trace != nullptr ? own.trace : trace_;
    port->setTrace(trace);
    apply(*port, own);
    Entry entry;
    entry.owner = std::this_thread::get_id();
    if (trace != nullptr) {
        entry.trace = std::make_unique<TraceSerialPort>(*port, *trace, path);
    }
    entry.port = std::move(port);
    open_.push_back(std::move(entry));
    return open_.back().handed();
}

void SerialFactory::apply(SerialPort& port, const Line& line) {
    port.setEcho(line.echo);
    port.setLateGuardMs(line.lateGuardMs);
    port.setCancelFd(line.cancelFd);
}

template <typename Set>
void SerialFactory::applyToOwn(Set set) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Line& own = line();
    set(own);
    for (const Entry& e : open_) {
        if (e.owner == std::this_thread::get_id()) {
            apply(*e.port, own);
        }
    }
}

void SerialFactory::setEcho(EchoMode mode) {
    applyToOwn([mode](Line& own) { own.echo = mode; });
}

void SerialFactory::setLateGuardMs(int ms) {
    applyToOwn([ms](Line& own) { own.lateGuardMs = ms; });
}

void SerialFactory::setCancelFd(int fd) {
    applyToOwn([fd](Line& own) { own.cancelFd = fd; });
}

void SerialFactory::CloseSerial(ISerialPort* port) {
    Entry closing;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = std::find_if(open_.begin(), open_.end(),
                                     [port](const Entry& e) { return e.handed() == port; });
        if (it == open_.end()) {
            return;
        }
        closing = std::move(*it);
        open_.erase(it);
    }
    // Closed outside the lock: a close that waits for output to drain holds up its line only.
    closing.trace.reset();
    closing.port.reset();
}

}  // namespace refhost
