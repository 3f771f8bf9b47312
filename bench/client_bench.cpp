// Forwarding one 64-byte indication to 1 and to 15 subscribed clients.
// figures_bench.cpp has the figures that scripts/bench sets beside their
// floors (the API round trip among them).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/be.h"
#include "bench_daemon.h"
#include "base/path.h"
#include "cnxd_client.h"
#include "core/eloop.h"
#include "ltesdk.h"
#include "server/client.h"
#include "server/delivery.h"

namespace {

namespace fs = std::filesystem;

using bench::DaemonProcess;
using bench::wait_for;

// The server side in this process: client table, server socket, event loop
// thread for the handshakes; `n` library sessions subscribed to event 26.
void BM_Forward64ByteIndication(benchmark::State& state)
{
    using namespace cnxd;
    const int n = static_cast<int>(state.range(0));
    char tmpl[] = "/tmp/cnxd-fw.XXXXXX";
    const std::string root = mkdtemp(tmpl);
    fs::create_directories(root + "/var/tmp");
    setenv("CNXD_ROOT", root.c_str(), 1);
    cnxd_reload_root();
    sdk_set_log_level(2);
    eloop_init(&eloop);
    cnxd_srv_init();
    cnxd_srv_open();
    std::thread loop([] { eloop_run(&eloop); });

    std::vector<cnxd_session*> clients(n);
    for (auto& c : clients) {
        cnxd_open(0, 1, 3000, &c);
        cnxd_subscribe(c, 26, 1);
    }
    uint8_t dev[4];
    store_be32(dev, 1);
    uint8_t record[60] = {};
    uint8_t sink[256];
    // Drained every so many sends, before a client's socket fills.
    constexpr int kDrainEvery = 64;
    int sent = 0;
    for (auto _ : state) {
        iovec pieces[3] = {{nullptr, 0}, {dev, sizeof dev}, {record, sizeof record}};
        cnxd_srv_send_sdk_cb_assemble_hci(26, pieces, 3);
        if (++sent % kDrainEvery == 0) {
            state.PauseTiming();
            for (auto* c : clients)
                while (cnxd_recv(c, sink, sizeof sink, 0) > 0) {
                }
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations() * n);

    for (auto* c : clients)
        cnxd_close(c);
    eloop_terminate(&eloop);
    cnxd_session* waker = nullptr;
    cnxd_open(0, 1, 100, &waker);  // any datagram wakes the loop
    loop.join();
    cnxd_close(waker);
    cnxd_srv_deinit();
    fs::remove_all(root);
}
BENCHMARK(BM_Forward64ByteIndication)->Arg(1)->Arg(15);

}  // namespace

BENCHMARK_MAIN();
