#pragma once
// A Modbus RTU slave for the end-to-end tests, built on libmodbus (a peer we wrote no protocol
// code for). It answers on the master side of a pty pair, from a thread of the test process;
// the line under test opens the slave side by its path.

#include <modbus.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ModbusPtySlave {
  public:
    static constexpr int Size = 1000;  // registers and bits of each table

    explicit ModbusPtySlave(int slaveId = 1);
    ~ModbusPtySlave();
    ModbusPtySlave(const ModbusPtySlave&) = delete;
    ModbusPtySlave& operator=(const ModbusPtySlave&) = delete;

    const std::string& error() const { return error_; }  // empty when the slave serves
    const std::string& devicePath() const { return devicePath_; }

    // Runs `f` on the slave's tables, between requests.
    template <typename F>
    auto with(F f) {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(*map_);
    }
    // Receive requests but answer none.
    void setSilent(bool silent) { silent_ = silent; }
    // The requests for this slave as they came (CRC included), answered or not.
    std::vector<std::vector<uint8_t>> log() {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }

  private:
    std::string error_;
    std::string devicePath_;
    int master_ = -1;
    int slaveFd_ = -1;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    std::mutex mutex_;  // the tables and the log
    std::vector<std::vector<uint8_t>> log_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_{false};
    std::thread thread_;
};
