#pragma once
// Hands out termios serial ports by name: "comN" through the port map, or an absolute device
// path as it is ("/dev/ttyUSB0", "/dev/serial/by-id/...").
//
// One factory serves every protocol instance of the process, and the gateway drives each line
// from its own thread. So what a line sees (the report, the last error) and how its ports behave
// (echo, late guard, cancel descriptor) belong to the calling thread: a port takes the settings
// of the thread that opens it and reports into that thread's window. A program with one thread
// sees one line, as before.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
    void map(const std::string& name, const std::string& path);
    // The device path a port name stands for; empty when it stands for none.
    std::string resolve(const std::string& name) const;
    // Every port opened from now on reports its traffic here (null: no trace, no wrapper); a
    // FrameFanout reports to several sinks.
    void setTrace(FrameSink* trace);
    // The ports the calling thread opens from now on report here instead (null: to setTrace's
    // sink), e.g. a line of the gateway to its own traffic view.
    void setLineTrace(FrameSink* trace);
    // The last failure of an open or of any port of the calling thread: what the operating
    // system said.
    const std::string& lastError() const;
    void clearError();

    // The settings below apply to the calling thread's ports open now and to those it opens
    // later.

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

    // Starts a new window of the calling thread's line report: what its ports see from now on.
    void beginReport();
    const LineReport& report() const;
    // Forgets the calling thread's line, once its ports are closed (a line's thread ends).
    void endLine();

  private:
    struct Entry {
        std::unique_ptr<SerialPort> port;
        std::unique_ptr<TraceSerialPort> trace;
        std::thread::id owner;
        ISerialPort* handed() const;
    };
    // One thread's line. Only that thread and its ports touch it; the map's nodes stay put.
    struct Line {
        std::string lastError;
        EchoMode echo = EchoMode::Auto;
        int lateGuardMs = -1;
        int cancelFd = -1;
        FrameSink* trace = nullptr;
        LineReport report;
    };
    // The calling thread's line, made on first use; with mutex_ held.
    Line& line() const;
    void apply(SerialPort& port, const Line& line);
    template <typename Set>
    void applyToOwn(Set set);

    // Guards the maps, the list of open ports and the trace.
    mutable std::mutex mutex_;
    std::map<std::string, std::string> portMap_;
    std::vector<Entry> open_;
    FrameSink* trace_ = nullptr;
    mutable std::map<std::thread::id, Line> lines_;
};

}  // namespace refhost
