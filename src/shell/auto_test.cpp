#include "shell/auto_test.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/be.h"
#include "base/shell.h"
#include "base/thread_name.h"
#include "server/delivery.h"
#include "server/hci.h"
#include "shell/dispatcher.h"

namespace cnxd {

std::atomic<int> auto_test_terminate{0};
std::atomic<int> auto_test_interval{0};

namespace {

constexpr const char* TEST_CMD_ENV = "TEST_CMD";
constexpr size_t TEST_CMD_MAX = 255;  // characters of TEST_CMD set by "test"
constexpr int ACTION_START = 1;
constexpr int ACTION_STOP = 2;

// The AT command frame to the AT client: HCI id 0x0300 with a length field of
// 2056, whose body is a 32-bit 0, the 32-bit text length and the text.
constexpr uint16_t HCI_AT_COMMAND = 0x0300;
constexpr uint32_t AT_CLIENT_ID = 1;
constexpr size_t AT_FRAME_SIZE = 2060;
constexpr size_t AT_TEXT_AT = HCI_HEADER_LEN + 8;

// The job's thread and command stay in this file: nothing else reads them,
// and the header exports only the two words other code sets (the stop
// request and the interval). Each run works on its own 256-byte copy.
// Serialises starting and stopping; the job thread never takes it.
std::mutex job_lock;
std::thread auto_test_thread;
std::string auto_test_cmd;  // the running job's command
// Wakes the job's wait between runs when it is asked to stop.
std::mutex wait_lock;
std::condition_variable wait_cv;
// True on the job's own thread.
thread_local bool on_job_thread = false;

void send_at_command(const std::string& cmd)
{
    const std::string text = auto_test_at_text(cmd);
    std::array<uint8_t, AT_FRAME_SIZE> frame{};
    const size_t len = std::min(text.size(), frame.size() - AT_TEXT_AT);
    hci_put_header(frame.data(), HCI_AT_COMMAND, AT_FRAME_SIZE - HCI_HEADER_LEN);
    store_be32(&frame[HCI_HEADER_LEN + 4], static_cast<uint32_t>(len));
    std::copy_n(text.begin(), len, frame.begin() + AT_TEXT_AT);
    cnxd_srv_send_hci_by_id(AT_CLIENT_ID, 0, frame);
}

// Sleeps `seconds` unless asked to stop first; true when asked to stop.
bool wait_interval(int seconds)
{
    std::unique_lock lock(wait_lock);
    return wait_cv.wait_for(lock, std::chrono::seconds(seconds), [] { return auto_test_terminate != 0; });
}

void cmd_auto_test_thread(std::string cmd)
{
    name_thread("auto_test");
    on_job_thread = true;
    while (auto_test_terminate == 0) {
        if (wait_interval(auto_test_interval))
            break;
        cnxd_srv_send_log("\n\n");
        cnxd_srv_send_log("CM executes command [%s] now\n", cmd.c_str());
        std::array<char, 256> auto_test_cmd_string{};  // the working copy do_cmd cuts
        std::strncpy(auto_test_cmd_string.data(), cmd.c_str(), auto_test_cmd_string.size() - 1);
        if (auto_test_is_at_command(auto_test_cmd_string.data()))
            send_at_command(auto_test_cmd_string.data());
        else
            do_cmd(auto_test_cmd_string.data());
    }
}

// Asks the running job to stop and joins it; job_lock is held.
void stop_job()
{
    {
        std::lock_guard g(wait_lock);
        auto_test_terminate = 1;
    }
    wait_cv.notify_all();
    auto_test_thread.join();
}

void usage()
{
    for (const char* line : {"-------Auto test command Usage-------\n",
                             "This command start sending command automatically for the give interval\n"})
        cnxd_srv_send_log("%s", line);
    cnxd_srv_send_log("Before executing the cm, SET %s=\"test command string\" or use [command string] argument\n",
                      TEST_CMD_ENV);
    for (const char* line : {"cmd>test cmd interval [command string]\n", "\tcmd\n", "\t\t1: start\n",
                             "\t\t2: stop\n", "\tinterval\n", "\t\ttime in sec\n", "\tcommand string [Optional]\n",
                             "\t\tcommand string\n"})
        cnxd_srv_send_log("%s", line);
}

void start(int argc, char** argv)
{
    // TEST_CMD is kept as the variable the daemon's programs get (the job's
    // commands may run some), never written into this process's own
    // environment, which other threads read; it starts as the daemon's.
    if (argc > 3) {
        std::string joined;
        for (int i = 3; i < argc; ++i)
            joined.append(i > 3 ? " " : "").append(argv[i]);
        joined.resize(std::min(joined.size(), TEST_CMD_MAX));
        cnxd_child_setenv(TEST_CMD_ENV, joined);
    } else {
        const auto env = cnxd_child_getenv(TEST_CMD_ENV);
        cnxd_srv_send_log("envstring(%s)\n", env ? env->c_str() : "(null)");
    }
    if (auto_test_thread.joinable()) {
        cnxd_srv_send_log("\nStopping existing Auto Test [cmd=%s]\n\n", auto_test_cmd.c_str());
        stop_job();
    }
    const auto env = cnxd_child_getenv(TEST_CMD_ENV);
    if (!env) {
        cnxd_srv_send_log("envstring(%s) is null\n", TEST_CMD_ENV);
        return;
    }
    if (env->empty()) {
        cnxd_srv_send_log("envstring(%s) length is 0\n", TEST_CMD_ENV);
        return;
    }
    // The interval is taken as typed: 0 (or below) runs the command back to
    // back, each run still ending at a stop.
    const int interval = std::atoi(argv[2]);
    auto_test_cmd = *env;
    cnxd_srv_send_log("\nStarting Auto Test\n");
    cnxd_srv_send_log("CM will execute [%s] in every [%d] seconds\n\n", env->c_str(), interval);
    auto_test_terminate = 0;
    auto_test_interval = interval;
    try {
        auto_test_thread = std::thread(cmd_auto_test_thread, auto_test_cmd);
    } catch (const std::system_error& e) {
        errno = e.code().value();
        std::perror("create command auto test thread error\n");
    }
}

}  // namespace

bool auto_test_is_at_command(const std::string& cmd)
{
    if (cmd.size() < 2 || std::toupper(static_cast<unsigned char>(cmd[0])) != 'A' ||
        std::toupper(static_cast<unsigned char>(cmd[1])) != 'T')
        return false;
    return !(cmd.size() >= 4 && cmd[2] == ' ' && cmd[3] == '1');
}

std::string auto_test_at_text(const std::string& cmd)
{
    std::string out;
    bool quoted = false;
    for (const char c : cmd) {
        if (c == '"')
            quoted = !quoted;
        if (quoted || (c != ' ' && c != '\033' && c != '\r' && c != '\n'))
            out.push_back(c);
    }
    return out;
}

int cmd_auto_test(int argc, char** argv)
{
    // The job itself may run "test": it can only ask itself to stop.
    if (on_job_thread) {
        auto_test_terminate = 1;
        return 0;
    }
    std::lock_guard g(job_lock);
    // Both actions take the interval token: fewer tokens print the usage.
    const int action = argc >= 3 ? std::atoi(argv[1]) : 0;
    if (action == ACTION_STOP) {
        if (auto_test_thread.joinable()) {
            cnxd_srv_send_log("\nStopping Auto Test [cmd=%s]\n\n", auto_test_cmd.c_str());
            stop_job();
        } else {
            cnxd_srv_send_log("\nAuto Test is not in progress\n\n");
        }
    } else if (action == ACTION_START) {
        start(argc, argv);
    } else {
        usage();
    }
    return 0;
}

void auto_test_stop()
{
    std::lock_guard g(job_lock);
    if (auto_test_thread.joinable())
        stop_job();
}

bool auto_test_running()
{
    std::lock_guard g(job_lock);
    return auto_test_thread.joinable();
}

}  // namespace cnxd
