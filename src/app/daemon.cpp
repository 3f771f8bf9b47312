#include "app/daemon.h"

#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "api/cnxd_handler.h"
#include "app/state_socket.h"
#include "base/capture.h"
#include "base/path.h"
#include "base/stop.h"
#include "base/thread_name.h"
#include "confdb.h"
#include "core/eloop.h"
#include "core/options.h"
#include "core/timer.h"
#include "dm/log_paths.h"
#include "download/download.h"
#include "ind/ind.h"
#include "ind/uicc_unlock.h"
#include "keeper/keeper.h"
#include "ltesdk.h"
#include "net/dhcpcd.h"
#include "server/client.h"
#include "server/keepalive.h"
#include "shell/cmd_handlers.h"
#include "shell/cmd_socket.h"
#include "shell/log_direction.h"
#include "shell/script.h"
#include "watchdog/watchdog.h"

namespace cnxd {

namespace {

void run_init_script() { line_proc(LTE_INIT_SCRIPT); }

}  // namespace

const lte_bringup_steps cnxd_bringup_steps{ind_register,    mq_init_all,
                                           ind_unregister,  dhcpcd_shutdown,
                                           {run_init_script, lte_watchdog_start, keeper_device_ready},
                                           lte_watchdog_shutdown};

namespace {

constexpr int CONFDB_INIT_ATTEMPTS = 5;

// The signals the daemon takes on its signal thread. They are blocked first
// thing, before any thread starts, so every thread inherits the block and
// only the signal thread takes them, whatever the others are doing (a long
// SDK call, a send to a full client). Programs the daemon starts get no
// blocked signal (cnxd_system).
sigset_t daemon_signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGHUP, SIGQUIT, SIGTERM, SIGINT})
        sigaddset(&set, sig);
    return set;
}

void block_daemon_signals()
{
    const sigset_t set = daemon_signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // Writes to a vanished peer report an error; they must not kill us.
    std::signal(SIGPIPE, SIG_IGN);
}

// The thread that takes the stop signals. It sleeps in sigwait (no periodic
// wake-up); a hang-up is taken and ignored (the daemon survives hang-ups); a
// stop signal first requests the stop (every long loop and wait gives up),
// wakes the event loop and then says so. The destructor ends and joins it:
// it wakes the thread with a hang-up of its own after setting `done_`.
class SignalThread {
public:
    SignalThread() : thread_([this] { run(); }) {}
    ~SignalThread()
    {
        done_ = true;
        pthread_kill(thread_.native_handle(), SIGHUP);
        thread_.join();
    }
    SignalThread(const SignalThread&) = delete;
    SignalThread& operator=(const SignalThread&) = delete;

private:
    void run()
    {
        name_thread("signals");
        const sigset_t set = daemon_signals();
        while (!done_) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0 || sig == SIGHUP)
                continue;
            // Said before the stop starts: the main thread's shutdown
            // lines come after it.
            sdk_log(6, "Preparing for suicide\n");
            cnxd_request_stop();
            eloop_terminate(&eloop);
        }
    }

    std::atomic<bool> done_{false};
    std::thread thread_;
};

void detach()
{
    if (fork() > 0)
        _exit(0);
    setsid();
    // SIGHUP is blocked (and taken by the signal thread) from the start.
    if (fork() > 0)
        _exit(0);
    if (chdir("/") != 0) {
        // Nothing depends on the working directory; stay where we are.
    }
    umask(0);
}

void write_pid_file()
{
    if (FILE* f = std::fopen(cnxd_path(CNXD_PID_FILE).c_str(), "w")) {
        std::fprintf(f, "%d\n", static_cast<int>(getpid()));
        std::fclose(f);
    }
}

void init_config_store()
{
    for (int i = 0; i < CONFDB_INIT_ATTEMPTS; ++i)
        if (init_confdb_ex() == 0)
            return;
}

// Shutdown from step 3 on: what is left once the modem side is down (or
// was never up).
int finish_shutdown()
{
    cnxd_srv_deinit();
    cnxd_srv_close();
    keeper_stop();
    timer_service_deinit();
    cnxd_keep_alive_stop();
    // The pid file is removed directly rather than through "rm".
    unlink(cnxd_path(CNXD_PID_FILE).c_str());
    sdk_log(6, "cnxd terminated");
    capture_stop();
    return 0;
}

}  // namespace

int cnxd_main(int argc, char** argv)
{
    block_daemon_signals();
    cnxd_setup_host_path();

    cnxd_options opts;
    // Seeded as the fixed order has it; the store's dump files are numbered
    // by a counter of their own, not by rand (confdb_new_dump_file).
    srand(static_cast<unsigned>(clock() + time(nullptr) + getpid()));
    if (const auto status = cnxd_parse_options(argc, argv, &opts))
        return *status;
    sdk_set_log_level(opts.log_level);
    if (opts.detach)
        detach();
    else
        arm1_log_keeps_daemon_log = true;

    eloop_init(&eloop);
    const SignalThread signal_thread;
    // Added to the fixed order: the debug capture (CNXD_CAPTURE only) starts
    // once the stop signals are blocked and taken, and before the first
    // client frame it may record.
    capture_start_from_env();
    cnxd_srv_init();
    cnxd_srv_set_handlers(cnxd_api_handlers);
    static_assert(CMD_UICC_UNLOCK_BLOCK == UICC_UNLOCK_BLOCK_LEN);
    cmd_set_uicc_unlock(ind_uicc_unlock);
    cnxd_srv_open();
    timer_service_init();
    keeper_start();
    write_pid_file();
    sdk_log(6, "cnxd started");
    set_log_file_paths();
    init_config_store();
    if (lte_daemon_start(cnxd_bringup_steps) < 0)
        return finish_shutdown();
    // Added between bring-up and the shell: nothing in the modem's
    // indications starts the reset-check thread, and a modem reset by the
    // supervisor may already be under way: it starts with the daemon (when
    // the watchdog is enabled).
    lte_watchdog_init();
    cmd_shell_start();
    cnxd_keep_alive_start();
    // Added after the fixed order's last step: the state socket (the client
    // table for cnxd-cli inspect) serves only a running daemon; it is the
    // first thing stopped.
    state_socket_start();

    sdk_log(7, "serving clients");
    eloop_run(&eloop);

    state_socket_stop();
    keeper_stop();
    cmd_shell_stop();
    // Added before the SDK closes: a download thread still sending chunks
    // would call into an SDK being torn down.
    download_stop_all();
    lte_daemon_stop(cnxd_bringup_steps);
    return finish_shutdown();
}

}  // namespace cnxd
