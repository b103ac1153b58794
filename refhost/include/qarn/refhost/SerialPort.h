#pragma once
// One serial line on a termios device (on-board UART, USB adapter, pty), handed out by
// SerialFactory.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <qarn/host/ISerialPort.h>

struct termios;

namespace refhost {

class SerialPort final : public ISerialPort {
  public:
    // Largest frame kept for recognising its answer (an ISMG-wrapped 256-byte frame).
    static constexpr size_t MaxRequest = 264;

    // Opens `path` non-blocking and for this process alone (TIOCEXCL and an exclusive flock, so
    // a second program on the same port fails even as root), in raw mode. Null with `error` set
    // when the port can't be had.
    static std::unique_ptr<SerialPort> open(const std::string& path, std::string& error);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    void* ConvertTo(const char* name) override;
    const char* GetImpName() const override;
    int GetImpVersion() const override;

    // baud 1200 to 230400 (standard rates only); parity 0 none, 1 even, 2 odd, 3 mark; 7 or 8
    // data bits; 1 or 2 stop bits; mode 0 RS-232, 1 RS-485 (kernel direction control where the
    // device has it), 2 RS-422.
    int Setup(int baud, int parity, int dataBits, int stopBits, int mode) override;
    // Throws away everything received so far; returns how many bytes that was (the first `size`
    // of them are copied to `buffer`), 0 when nothing was pending or the port is gone.
    int Drain(uint8_t* buffer, int size, int flags) override;
    // Keeps the line silent for 3.5 character times after the last byte on it, then sends all
    // bytes and waits until they are transmitted. Returns `length`, or 0 when the port failed.
    int Send(const uint8_t* frame, int length, int flags) override;
    // Waits up to `timeoutMs` for the first byte, then ends the frame after `interCharMs` without
    // a byte, when `size` bytes are in, or as soon as the bytes form a complete answer with a
    // good CRC to the frame sent last. Returns the byte count (0: nothing arrived, or the port is
    // gone).
    int Receive(uint8_t* buffer, int size, int timeoutMs, int interCharMs, int* received,
                int flags) override;

    // Raw line settings for these parameters on top of `tio`; false with `error` for a setting
    // the line cannot do. Kept apart so the exact flags can be checked without a device (ptys
    // ignore data bits and parity).
    static bool lineSettings(int baud, int parity, int dataBits, int stopBits, termios& tio,
                             std::string& error);

    const std::string& path() const { return path_; }
    // Text of the last operating-system failure on this port; empty while there was none.
    const std::string& lastError() const { return lastError_; }
    // True once the device has failed for good (unplugged, hung up): every call returns 0 at once.
    bool gone() const { return gone_; }
    // True when Setup switched the kernel's RS-485 direction control on.
    bool rs485Active() const { return rs485Active_; }
    // Line silence that Send keeps before it transmits, in microseconds.
    int64_t silenceUs() const { return silenceUs_; }
    // Failures are also copied here (the factory's record of the last port error).
    void reportTo(std::string* sink) { sink_ = sink; }

  private:
    SerialPort(int fd, std::string path);

    enum class Wait { Ready, Timeout, Failed };
    Wait waitReadable(int64_t timeoutUs);
    // Reads what is pending into buffer[0..size); -1 when the port failed.
    int readPending(uint8_t* buffer, int size);
    bool applyRs485(bool enable);
    bool isPty() const;
    void fail(const std::string& what, int err);
    void fail(const std::string& what);

    int fd_;
    std::string path_;
    std::string lastError_;
    std::string* sink_ = nullptr;
    bool gone_ = false;
    bool rs485Active_ = false;
    int64_t charTimeUs_;
    int64_t silenceUs_;
    int64_t lastTrafficUs_ = 0;  // end of the last byte seen on the line, either way
    uint8_t lastSent_[MaxRequest] = {};
    size_t lastSentLength_ = 0;
};

}  // namespace refhost
