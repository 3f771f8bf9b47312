// The modem request wrappers run inside the test process against the
// simulated modem, in a sysroot made by scripts/mkroot (store tool, stub
// platform commands): the in-process server and event loop, the SDK's print
// facility switched to pass traces, and one listening client whose HCI_LOG
// frames a reader thread collects.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/be.h"
#include "client/inproc_daemon.h"
#include "config/confdb_sysroot.h"
#include "if_record.h"
#include "ltesim.h"
#include "modem/bringup.h"
#include "server/delivery.h"
#include "sim.h"

namespace cnxd::test {

// The log configuration of the bring-up with the trace level let through.
inline std::array<uint8_t, LAPI_LOG_CONFIG_SIZE> tracing_log_config()
{
    auto rec = default_log_config();
    store_be16(&rec[LAPI_LOG_CM_BLOCK + LAPI_LOG_BLOCK_LEVEL],
               LAPI_PRINT_ERROR | LAPI_PRINT_INFO | LAPI_PRINT_TRACE);
    return rec;
}

class CmTest : public ::testing::Test {
protected:
    CmTest()
    {
        EXPECT_EQ(0, LAPI_LTEAPIOpen(&hAPI));
        sim("set delay_ms 0");
        auto config = tracing_log_config();
        EXPECT_EQ(0, LAPI_SetLogConfig(hAPI, 0, config.data()));
        listener_ = open_session(0);
        cnxd_set_receive(listener_.get(), 1);
        reader_ = std::thread([this] { read_logs(); });
        calls();
    }

    ~CmTest() override
    {
        stop_ = true;
        reader_.join();
        listener_.reset();
        LAPI_AllCallbackUnRegister(hAPI);
        LAPI_LTEAPIClose(hAPI);
    }

    // One line of the simulator's control language; expects "ok".
    static void sim(const std::string& line) { EXPECT_EQ("ok\n", ltesim::control(line)) << line; }

    // The SDK calls ("NAME dev=N HEX") since the last calls(), which takes
    // them. The record is only read, never cleared, so calls other threads
    // make meanwhile are not lost; it keeps 20000, more than a test makes.
    Lines calls()
    {
        Lines out;
        std::istringstream in(ltesim::control("calls"));
        for (std::string line; std::getline(in, line) && line != "end";)
            out.push_back(line);
        out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(std::min(calls_taken_, out.size())));
        calls_taken_ += out.size();
        return out;
    }

    // The HCI_LOG texts the listening client received since the last
    // logs(), in order: a marker sent after them shows that all have come.
    Lines logs()
    {
        const std::string mark = "<mark " + std::to_string(++marks_) + ">";
        cnxd_srv_send_log("%s", mark.c_str());
        const bool came = eventually([&] {
            std::lock_guard g(mu_);
            return texts_.size() > logs_taken_ && texts_.back() == mark;
        });
        EXPECT_TRUE(came) << "the log marker did not come back";
        std::lock_guard g(mu_);
        Lines out(texts_.begin() + static_cast<std::ptrdiff_t>(logs_taken_), texts_.end() - (came ? 1 : 0));
        logs_taken_ = texts_.size();
        return out;
    }
    // Every HCI_LOG text since the test began, the markers of logs() among
    // them.
    Lines seen()
    {
        std::lock_guard g(mu_);
        return texts_;
    }

    // The platform commands run so far (the stubs' log), and forgets them.
    std::string platform_calls()
    {
        const std::string text = root_.read("/var/log/platform-calls.log");
        root_.write("/var/log/platform-calls.log", "");
        return text;
    }

    StoreSysroot root_;

private:
    void read_logs()
    {
        std::vector<uint8_t> buf(8192);
        while (!stop_) {
            const int n = cnxd_recv(listener_.get(), buf.data(), buf.size(), 50);
            if (n < 4 || load_be16(buf.data()) != HCI_LOG)
                continue;
            std::lock_guard g(mu_);
            texts_.emplace_back(buf.begin() + 4, buf.begin() + n);
        }
    }

    InprocServer server_;  // made in the sysroot above, stopped after the members below
    size_t calls_taken_ = 0;
    Session listener_;
    std::mutex mu_;
    Lines texts_;
    size_t logs_taken_ = 0;
    int marks_ = 0;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// "[name+]\n" and "[name-]\n".
inline std::string entry(const std::string& name) { return "[" + name + "+]\n"; }
inline std::string leave(const std::string& name) { return "[" + name + "-]\n"; }

// The 592-byte interface record of an interface indication.
inline std::vector<uint8_t> if_record(const std::string& name, const std::string& apn, uint16_t bearer = 5)
{
    std::vector<uint8_t> rec(ifrec::SIZE);
    std::copy(name.begin(), name.end(), rec.begin() + ifrec::NAME);
    store_be16(&rec[ifrec::EPS_BEARER], bearer);
    rec[ifrec::APN_LEN] = static_cast<uint8_t>(apn.size());
    std::copy(apn.begin(), apn.end(), rec.begin() + ifrec::APN_NAME);
    return rec;
}

// The bytes as the simulator's call record shows them.
inline std::string hex(const uint8_t* p, size_t n) { return ltesim::to_hex({p, n}); }

}  // namespace cnxd::test
