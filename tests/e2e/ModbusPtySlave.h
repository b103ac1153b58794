#pragma once
// A Modbus RTU slave for the end-to-end tests, built on libmodbus (a peer we wrote no protocol
// code for). It answers on the master side of a pty pair; the line under test opens the slave
// side by its path. Runs in a thread of the test process.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct _modbus;
struct _modbus_mapping_t;

class ModbusPtySlave {
  public:
    static constexpr int Size = 1000;  // registers and bits of each table

    explicit ModbusPtySlave(int slaveId = 1);
    ~ModbusPtySlave();
    ModbusPtySlave(const ModbusPtySlave&) = delete;
    ModbusPtySlave& operator=(const ModbusPtySlave&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // The device the master opens.
    const std::string& devicePath() const { return devicePath_; }

    void setHolding(int address, uint16_t value);
    void setInput(int address, uint16_t value);
    void setCoil(int address, bool value);
    void setDiscrete(int address, bool value);
    uint16_t holding(int address);
    bool coil(int address);

    // Receive requests but answer none.
    void setSilent(bool silent) { silent_ = silent; }
    // Requests for this slave, answered or not.
    int requests() const { return requests_; }
    // The requests for this slave, as they came (CRC included).
    std::vector<std::vector<uint8_t>> log();

  private:
    void serve();

    std::string error_;
    std::string devicePath_;
    int master_ = -1;
    int slaveFd_ = -1;
    _modbus* ctx_ = nullptr;
    _modbus_mapping_t* map_ = nullptr;
    std::mutex mutex_;  // the tables and the log
    std::vector<std::vector<uint8_t>> log_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};
