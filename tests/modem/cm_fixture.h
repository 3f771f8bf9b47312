// The modem request wrappers run inside the test process against the
// simulated modem, in a sysroot made by scripts/mkroot (store tool, stub
// platform commands): the real client table, server socket and event loop,
// the SDK's print facility switched to pass traces, and one listening
// client whose HCI_LOG frames a reader thread collects.
#pragma once

#include <gtest/gtest.h>

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
#include "ltesim.h"
#include "modem/bringup.h"
#include "modem/if_record.h"
#include "server/delivery.h"

namespace cnxd::test {

using Lines = std::vector<std::string>;

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
        sdk_set_log_type(SDK_LOG_TYPE_FILE, "cnxd");
        sdk_set_log_file("/var/log/cnxd.log", 0);
        sdk_set_log_level(7);
        eloop_init(&eloop);
        cnxd_srv_init();
        EXPECT_EQ(0, cnxd_srv_open());
        loop_ = std::thread([] { eloop_run(&eloop); });
        EXPECT_EQ(0, LAPI_LTEAPIOpen(&hAPI));
        sim("set delay_ms 0");
        auto config = tracing_log_config();
        EXPECT_EQ(0, LAPI_SetLogConfig(hAPI, 0, config.data()));
        listener_ = open_session(0);
        cnxd_set_receive(listener_.get(), 1);
        reader_ = std::thread([this] { read_logs(); });
        sim("clear");
    }

    ~CmTest() override
    {
        stop_ = true;
        reader_.join();
        listener_.reset();
        LAPI_AllCallbackUnRegister(hAPI);
        LAPI_LTEAPIClose(hAPI);
        stop_event_loop(loop_);
        cnxd_srv_deinit();
        sdk_set_log_type(SDK_LOG_TYPE_STDERR, nullptr);
    }

    // One line of the simulator's control language; expects "ok".
    static void sim(const std::string& line) { EXPECT_EQ("ok\n", ltesim::control(line)) << line; }

    // The SDK calls since the last clear ("NAME dev=N HEX"), and clears.
    static Lines calls()
    {
        Lines out;
        std::istringstream in(ltesim::control("calls"));
        for (std::string line; std::getline(in, line) && line != "end";)
            out.push_back(line);
        sim("clear");
        return out;
    }

    // The HCI_LOG texts the listening client received since the last
    // logs(), in order: a marker sent after them shows that all have come.
    Lines logs()
    {
        const std::string mark = "<mark " + std::to_string(++marks_) + ">";
        cnxd_srv_send_log("%s", mark.c_str());
        const bool seen = eventually([&] {
            std::lock_guard g(mu_);
            return !texts_.empty() && texts_.back() == mark;
        });
        EXPECT_TRUE(seen) << "the log marker did not come back";
        std::lock_guard g(mu_);
        Lines out(texts_.begin(), texts_.end() - (seen ? 1 : 0));
        texts_.clear();
        return out;
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

    std::thread loop_;
    Session listener_;
    std::mutex mu_;
    Lines texts_;
    int marks_ = 0;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// "[name+]\n" and "[name-]\n".
inline std::string entry(const std::string& name) { return "[" + name + "+]\n"; }
inline std::string leave(const std::string& name) { return "[" + name + "-]\n"; }
// A "[%-25s] text\n" line.
inline std::string named(const std::string& name, const std::string& text)
{
    char buf[1024];
    std::snprintf(buf, sizeof buf, "[%-25s] %s\n", name.c_str(), text.c_str());
    return buf;
}

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

inline std::string hex(const uint8_t* p, size_t n)
{
    std::string out(2 * n, '\0');
    for (size_t i = 0; i < n; ++i)
        std::snprintf(&out[2 * i], 3, "%02x", p[i]);
    return out;
}

}  // namespace cnxd::test
