#include "ModbusPtySlave.h"

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ModbusPtySlave::ModbusPtySlave(int slaveId) {
    char name[256] = {};
    if (openpty(&master_, &slaveFd_, name, nullptr, nullptr) != 0) {
        error_ = std::string("openpty: ") + std::strerror(errno);
        return;
    }
    devicePath_ = name;
    // Raw from the start; the port under test sets its own line up when it opens. Our slave
    // descriptor stays open so the pty lives on between the runs of the tool.
    termios tio{};
    tcgetattr(slaveFd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(slaveFd_, TCSANOW, &tio);

    ctx_ = modbus_new_rtu("/dev/null", 115200, 'N', 8, 1);  // never opened: the pty is the line
    map_ = modbus_mapping_new(Size, Size, Size, Size);
    if (ctx_ == nullptr || map_ == nullptr) {
        error_ = "libmodbus set-up failed";
        return;
    }
    modbus_set_slave(ctx_, slaveId);
    modbus_set_socket(ctx_, master_);
    modbus_set_indication_timeout(ctx_, 0, 50000);  // wake up now and then to see whether to stop
    thread_ = std::thread([this] {
        uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
        while (!stop_) {
            // Nothing (time-out, another slave's request, a damaged frame): wait for the next.
            const int n = modbus_receive(ctx_, request);
            std::lock_guard<std::mutex> lock(mutex_);
            if (n > 0) {
                log_.emplace_back(request, request + n);
            }
            if (n > 0 && !silent_) {
                modbus_reply(ctx_, request, n, map_);
            }
        }
    });
}

ModbusPtySlave::~ModbusPtySlave() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (map_ != nullptr) {
        modbus_mapping_free(map_);
    }
    if (ctx_ != nullptr) {
        modbus_free(ctx_);  // does not close the socket it was given
    }
    if (master_ >= 0) {
        close(master_);
    }
    if (slaveFd_ >= 0) {
        close(slaveFd_);
    }
}
