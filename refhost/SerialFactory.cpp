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
    portMap_[mapping.substr(0, eq)] = path;
    return true;
}

std::string SerialFactory::resolve(const std::string& name) const {
    const auto it = portMap_.find(name);
    if (it != portMap_.end()) {
        return it->second;
    }
    return !name.empty() && name[0] == '/' ? name : std::string();
}

ISerialPort* SerialFactory::OpenSerial(const char* name) {
    const std::string wanted = name != nullptr ? name : "";
    const std::string path = resolve(wanted);
    if (path.empty()) {
        lastError_ = "port '" + wanted + "' is not mapped to a device (use --port-map " +
                     (wanted.empty() ? "com1" : wanted) + "=PATH or give a device path)";
        return nullptr;
    }
    std::string error;
    std::unique_ptr<SerialPort> port = SerialPort::open(path, error);
    if (port == nullptr) {
        lastError_ = error;
        return nullptr;
    }
    port->reportTo(&lastError_);
    port->reportInto(&report_);
    port->setTrace(trace_);
    apply(*port);
    Entry entry;
    if (trace_ != nullptr) {
        entry.trace = std::make_unique<TraceSerialPort>(*port, *trace_, path);
    }
    entry.port = std::move(port);
    open_.push_back(std::move(entry));
    return open_.back().handed();
}

void SerialFactory::apply(SerialPort& port) {
    port.setEcho(echo_);
    port.setLateGuardMs(lateGuardMs_);
    port.setCancelFd(cancelFd_);
}

void SerialFactory::setEcho(EchoMode mode) {
    echo_ = mode;
    for (const Entry& e : open_) {
        e.port->setEcho(mode);
    }
}

void SerialFactory::setLateGuardMs(int ms) {
    lateGuardMs_ = ms;
    for (const Entry& e : open_) {
        e.port->setLateGuardMs(ms);
    }
}

void SerialFactory::setCancelFd(int fd) {
    cancelFd_ = fd;
    for (const Entry& e : open_) {
        e.port->setCancelFd(fd);
    }
}

void SerialFactory::CloseSerial(ISerialPort* port) {
    const auto it = std::find_if(open_.begin(), open_.end(),
                                 [port](const Entry& e) { return e.handed() == port; });
    if (it != open_.end()) {
        open_.erase(it);
    }
}

}  // namespace refhost
