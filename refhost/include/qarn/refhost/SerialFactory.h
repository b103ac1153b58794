#pragma once
// Hands out termios serial ports by name: "comN" through the port map, or an absolute device
// path as it is ("/dev/ttyUSB0", "/dev/serial/by-id/...").

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <qarn/host/ISerialFactory.h>
#include <qarn/refhost/EchoMode.h>
#include <qarn/refhost/LineReport.h>

namespace refhost {

class FrameSink;
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
    // Every port opened from now on reports its traffic here (null: no trace, no wrapper); a
    // FrameFanout reports to several sinks.
    void setTrace(FrameSink* trace) { trace_ = trace; }
    // The last failure of an open or of any port: what the operating system said.
    const std::string& lastError() const { return lastError_; }
    void clearError() { lastError_.clear(); }

    // The settings below apply to the ports open now and to those opened later.

    // How the ports treat the echo of their requests; Auto (the default) finds it out from the
    // bytes alone (timing can't tell on ptys and USB adapters): a read or multi-register write
    // whose request comes back first has an echo; a good answer that does not start with the
    // request has none. Until then an exchange whose echo would pass as its answer (one coil or
    // register written, the slave-address frame, reads such as 24 coils from 768) gets no
    // answer, and the report says why: the tool then reads once first or asks for the mode.
    void setEcho(EchoMode mode);
    // The late-answer guard time G in ms; negative (the default): the time-out of the wait for an
    // answer that armed the guard. After an attempt without a proper answer (none, cut, damaged,
    // foreign), and once more after the next good answer, a request is sent only when the line
    // has been quiet for G; what arrives meanwhile is thrown away, and a line that never falls
    // quiet is given up on after 3 G. So the guard adds up to (repeat + 1) G, 3 (repeat + 1) G on
    // a chattering line, to the longest time one access can take. A healthy line never waits.
    void setLateGuardMs(int ms);
    // Every wait of the ports also watches `fd` (-1: none), e.g. the read end of a self-pipe that
    // a signal handler writes to, and ends at once when it is readable. Never read from.
    void setCancelFd(int fd);

    // Starts a new window of the line report: what the ports see from now on.
    void beginReport() { report_ = LineReport{}; }
    const LineReport& report() const { return report_; }

  private:
    struct Entry {
        std::unique_ptr<SerialPort> port;
        std::unique_ptr<TraceSerialPort> trace;
        ISerialPort* handed() const;
    };
    void apply(SerialPort& port);

    std::map<std::string, std::string> portMap_;
    std::vector<Entry> open_;
    FrameSink* trace_ = nullptr;
    std::string lastError_;
    EchoMode echo_ = EchoMode::Auto;
    int lateGuardMs_ = -1;
    int cancelFd_ = -1;
    LineReport report_;
};

}  // namespace refhost
