#pragma once
// Hands out termios serial ports by name: "comN" through the port map, or an absolute device
// path as it is ("/dev/ttyUSB0", "/dev/serial/by-id/...").

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <qarn/host/ISerialFactory.h>

namespace refhost {

class FrameTrace;
class SerialPort;
class TraceSerialPort;

class SerialFactory final : public ISerialFactory {
  public:
    SerialFactory();
    ~SerialFactory() override;
    SerialFactory(const SerialFactory&) = delete;
    SerialFactory& operator=(const SerialFactory&) = delete;

    void* ConvertTo(const char* name) override;
    const char* GetImpName() const override;
    int GetImpVersion() const override;

    // Null when the name is not mapped, the device can't be opened or is busy (lastError()).
    ISerialPort* OpenSerial(const char* name) override;
    void CloseSerial(ISerialPort* port) override;

    // Parses NAME=PATH (e.g. com1=/dev/ttyUSB0) into the map; false with `error` when malformed.
    bool addMapping(const std::string& mapping, std::string& error);
    void map(const std::string& name, const std::string& path) { portMap_[name] = path; }
    // The device path a port name stands for; empty when it stands for none.
    std::string resolve(const std::string& name) const;
    // Every port opened from now on reports its traffic here (null: no trace, no wrapper).
    void setTrace(FrameTrace* trace) { trace_ = trace; }
    // The last failure of an open or of any port: what the operating system said.
    const std::string& lastError() const { return lastError_; }
    void clearError() { lastError_.clear(); }

  private:
    struct Entry {
        std::unique_ptr<SerialPort> port;
        std::unique_ptr<TraceSerialPort> trace;
        ISerialPort* handed() const;
    };

    std::map<std::string, std::string> portMap_;
    std::vector<Entry> open_;
    FrameTrace* trace_ = nullptr;
    std::string lastError_;
};

}  // namespace refhost
