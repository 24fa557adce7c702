// A Modbus TCP gateway for the tests, made of libmodbus's TCP server (nobody
// here wrote it): one client at a time, with behaviours a test switches on.
#pragma once

#include "NetTestUtil.h"

#include <modbus.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace nettest {

// A Modbus TCP gateway with one drive behind it (unit 1), made of libmodbus's
// TCP server: holding registers 0 to 99; requests to another unit get the
// gateway's exception 0x0B. It can be told to stay silent, to hold a request
// and answer it only after the next one, and to drop the connection after a
// number of requests (then accept the next one).
class Gateway {
public:
    static constexpr int kUnit = 1;

    Gateway()
    {
        port_ = nettest::FreeLoopbackPort();
        ctx_ = modbus_new_tcp("127.0.0.1", port_);
        map_ = modbus_mapping_new(0, 0, 100, 0);
        listen_ = ctx_ ? modbus_tcp_listen(ctx_, 1) : -1;
        if (listen_ >= 0) thread_ = std::thread([this] { Run(); });
    }
    ~Gateway()
    {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
        }
        if (thread_.joinable()) thread_.join();
        if (listen_ >= 0) ::close(listen_);
        modbus_mapping_free(map_);
        modbus_free(ctx_);
    }
    bool ok() const { return listen_ >= 0; }
    std::string Url() const { return "mbtcp://127.0.0.1:" + std::to_string(port_); }
    void Set(int reg, uint16_t v)
    {
        std::lock_guard<std::mutex> lock(mapMu_);
        map_->tab_registers[reg] = v;
    }
    uint16_t Get(int reg)
    {
        std::lock_guard<std::mutex> lock(mapMu_);
        return map_->tab_registers[reg];
    }

    std::atomic<bool> silent{false};
    std::atomic<bool> holdNext{false};
    std::atomic<int> closeAfter{-1};   // drop the connection after this many more requests
    std::atomic<int> requests{0};
    std::atomic<int> connections{0};

private:
    void Run()
    {
        while (!stop_) {
            int s = modbus_tcp_accept(ctx_, &listen_);
            if (s < 0) return;
            {
                std::lock_guard<std::mutex> lock(mu_);
                client_ = s;
            }
            ++connections;
            Serve();
            std::lock_guard<std::mutex> lock(mu_);
            ::close(client_);
            client_ = -1;
        }
    }
    void Serve()
    {
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        uint8_t held[MODBUS_TCP_MAX_ADU_LENGTH];
        int heldLength = 0;
        for (;;) {
            const int n = modbus_receive(ctx_, query);
            if (n < 0) return;
            if (n == 0) continue;
            ++requests;
            if (closeAfter >= 0 && closeAfter-- == 0) return;
            if (silent) continue;
            if (holdNext.exchange(false)) {
                std::copy(query, query + n, held);
                heldLength = n;
                continue;
            }
            std::lock_guard<std::mutex> lock(mapMu_);
            if (heldLength > 0) {
                modbus_reply(ctx_, held, heldLength, map_);   // late, with its own transaction id
                heldLength = 0;
            }
            if (query[6] != kUnit)
                modbus_reply_exception(ctx_, query, MODBUS_EXCEPTION_GATEWAY_TARGET);
            else
                modbus_reply(ctx_, query, n, map_);
        }
    }

    int port_ = 0;
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    int listen_ = -1;
    int client_ = -1;
    std::mutex mu_;
    std::mutex mapMu_;   // the register map: the test sets and reads it too
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace nettest
