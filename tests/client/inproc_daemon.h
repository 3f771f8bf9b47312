// The daemon's client side run inside a test process: the real client
// table, server socket and event loop on a thread of the test, and library
// sessions talking to it over real sockets, shared blocks and semaphores.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "api/cnxd_handler.h"
#include "base/path.h"
#include "cnxd_client.h"
#include "core/eloop.h"
#include "integration/harness.h"
#include "ltesdk.h"
#include "server/client.h"

namespace cnxd::test {

// The server socket, with the daemon's API handlers unless others are
// given, and the event loop on a thread, in the sysroot that CNXD_ROOT names
// when it is made; the SDK logs to the sysroot's /var/log/cnxd.log meanwhile.
class InprocServer {
public:
    explicit InprocServer(const cnxd_srv_handlers& handlers = cnxd_api_handlers)
    {
        sdk_set_log_type(SDK_LOG_TYPE_FILE, "cnxd");
        sdk_set_log_file("/var/log/cnxd.log", 0);
        sdk_set_log_level(7);
        eloop_init(&eloop);
        cnxd_srv_init();
        cnxd_srv_set_handlers(handlers);
        EXPECT_EQ(0, cnxd_srv_open());
        loop_ = std::thread([] { eloop_run(&eloop); });
    }
    ~InprocServer()
    {
        stop_loop();
        cnxd_srv_deinit();
        sdk_set_log_type(SDK_LOG_TYPE_STDERR, nullptr);
    }

    // Stops the event loop: from then on the test thread is the only one
    // that touches the client table's sockets.
    void stop_loop()
    {
        if (!loop_.joinable())
            return;
        eloop_terminate(&eloop);  // wakes the loop's wait
        loop_.join();
    }

    // The daemon's log so far.
    static std::string log() { return read_text(cnxd_path("/var/log/cnxd.log")); }
    static bool log_has(const std::string& text) { return log().find(text) != std::string::npos; }

private:
    std::thread loop_;
};

// A throw-away sysroot holding only var/tmp and var/log, named by CNXD_ROOT
// while it lives.
class BareSysroot {
public:
    BareSysroot()
    {
        char tmpl[] = "/tmp/cnxd-u.XXXXXX";
        root_ = mkdtemp(tmpl);
        std::filesystem::create_directories(root_ + "/var/tmp");
        std::filesystem::create_directories(root_ + "/var/log");
        setenv("CNXD_ROOT", root_.c_str(), 1);
        cnxd_reload_root();
    }
    ~BareSysroot()
    {
        std::filesystem::remove_all(root_);
        unsetenv("CNXD_ROOT");
        cnxd_reload_root();
    }

    const std::string& root() const { return root_; }

private:
    std::string root_;
};

// The server in a bare sysroot (the base is made first, dropped last).
class InprocDaemon : public BareSysroot, public InprocServer {};

// A library session, closed at the end of the test.
struct SessionCloser {
    void operator()(cnxd_session* s) const { cnxd_close(s); }
};
using Session = std::unique_ptr<cnxd_session, SessionCloser>;

inline Session open_session(uint32_t identity)
{
    cnxd_session* s = nullptr;
    EXPECT_EQ(CNXD_OK, cnxd_open(identity, 4242, 3000, &s));
    return Session(s);
}

// One raw datagram, or nothing within `ms`.
inline std::optional<std::vector<uint8_t>> recv_datagram(cnxd_session* s, int ms)
{
    std::vector<uint8_t> buf(70000);
    const int n = cnxd_recv(s, buf.data(), buf.size(), ms);
    if (n <= 0)
        return std::nullopt;
    buf.resize(static_cast<size_t>(n));
    return buf;
}

}  // namespace cnxd::test
