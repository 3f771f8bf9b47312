// "x run [nr=N] [sleep=MS] [nolog] CMD[; CMD...]": the command runner of
// the diagnostics tool. Each run is a thread of its own that repeats its
// commands N times: a command beginning "dm " goes to the modem's console,
// any other runs through the shell.
//
// The runner threads are detached: nothing waits for a run to end, not even
// the daemon's stop. The shell's stop (x_run_close) refuses new runs and
// wakes the running ones out of their pauses; a run looks at the closed flag
// before each command and each pause, so it starts nothing more and ends
// after the command it is running, on its own. That command is left to
// finish, neither waited for nor killed: it is the operator's, run through
// the shell like system(3), and a tool cut off halfway (a flash or store
// write) could leave the router worse off than one that ends after the
// daemon; with no further command started, at most one per run outlives
// the daemon. A runner may thus still run while the process exits; the
// state it shares with the shell is made once and never destroyed.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "base/shell.h"
#include "base/thread_name.h"
#include "modem/cm_wrappers.h"
#include "shell/cmd_x.h"

namespace cnxd {
namespace {

// The tokens a run keeps: its own copy, as the line they come from is
// gone once the handler returns.
constexpr size_t RUN_TOKENS = 16;
constexpr size_t RUN_TOKEN_CHARS = 128;
struct run_args {
    int argc = 0;
    std::array<std::array<char, RUN_TOKEN_CHARS + 1>, RUN_TOKENS> argv{};
};

constexpr std::string_view OPT_NR = "nr=";
constexpr std::string_view OPT_SLEEP = "sleep=";
constexpr std::string_view OPT_NOLOG = "nolog";
constexpr std::string_view MODEM_PREFIX = "dm ";
constexpr char SEPARATOR = ';';

struct Runners {
    std::mutex lock;
    std::condition_variable cv;  // the runners are closed
    int count = 0;
    bool closed = false;
};

Runners& runners()
{
    static Runners& r = *new Runners;
    return r;
}

bool is_closed()
{
    Runners& r = runners();
    std::lock_guard g(r.lock);
    return r.closed;
}

// Sleeps `ms` unless the runners are closed first; true when closed.
bool pause_closed(uint32_t ms)
{
    Runners& r = runners();
    std::unique_lock lock(r.lock);
    return r.cv.wait_for(lock, std::chrono::milliseconds(ms), [&r] { return r.closed; });
}

std::string_view trimmed(std::string_view s)
{
    const size_t start = s.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return {};
    return s.substr(start, s.find_last_not_of(' ') - start + 1);
}

uint32_t option_number(std::string_view token, std::string_view option)
{
    return static_cast<uint32_t>(std::strtoul(token.data() + option.size(), nullptr, 0));
}

void run_one(const std::string& cmd)
{
    if (cmd.starts_with(MODEM_PREFIX)) {
        const std::string rest = cmd.substr(MODEM_PREFIX.size());
        cm_send_dm_command(std::string_view(rest.c_str(), rest.size() + 1));  // its NUL counted
    } else {
        cnxd_system(cmd);
    }
}

void print_plan(const x_run_plan& plan)
{
    x_printf("cmd_nr=%d\n", static_cast<int>(plan.cmds.size()));
    for (size_t i = 0; i < plan.cmds.size(); ++i)
        x_printf("cmd[%d]=\"%s\"\n", static_cast<int>(i), plan.cmds[i].c_str());
    if (plan.nr > 1)
        x_printf("run_nr=%d\n", static_cast<int>(plan.nr));
    if (plan.sleep_ms)
        x_printf("sleep=%dms\n", static_cast<int>(plan.sleep_ms));
}

void run_plan(const x_run_plan& plan)
{
    for (uint32_t pass = 0; pass < plan.nr; ++pass) {
        for (const std::string& cmd : plan.cmds) {
            if (is_closed())
                return;
            if (!plan.nolog)
                x_printf("[%u] x_run \"%s\"\n", pass, cmd.c_str());
            run_one(cmd);
        }
        if (plan.sleep_ms ? pause_closed(plan.sleep_ms) : is_closed())
            return;
    }
}

void x_run_cmd_main(std::unique_ptr<run_args> args)
{
    name_thread("x_run");
    x_printf("x_run_cmd_main\n");
    std::array<const char*, RUN_TOKENS> argv{};
    for (size_t i = 0; i < RUN_TOKENS; ++i)
        argv[i] = args->argv[i].data();
    {
        const x_run_plan plan = x_run_parse(args->argc, argv.data());
        args.reset();
        if (!plan.nolog)
            print_plan(plan);
        run_plan(plan);
    }
    // The last the thread does: everything it owned is gone by now.
    Runners& r = runners();
    std::lock_guard g(r.lock);
    --r.count;
}

}  // namespace

x_run_plan x_run_parse(int argc, const char* const* argv)
{
    x_run_plan plan;
    std::string text;
    for (int i = 1; i < argc; ++i) {
        const std::string_view token = argv[i];
        if (token.starts_with(OPT_NR))
            plan.nr = option_number(token, OPT_NR);
        else if (token.starts_with(OPT_SLEEP))
            plan.sleep_ms = option_number(token, OPT_SLEEP);
        else if (token == OPT_NOLOG)
            plan.nolog = true;
        else
            text.append(token).push_back(' ');
    }
    std::string_view rest = text;
    while (!rest.empty() && plan.cmds.size() < X_RUN_CMD_MAX) {
        const size_t end = std::min(rest.find(SEPARATOR), rest.size());
        if (const std::string_view piece = trimmed(rest.substr(0, end)); !piece.empty())
            plan.cmds.emplace_back(piece);
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return plan;
}

int x_run(int argc, char** argv)
{
    auto args = std::make_unique<run_args>();
    args->argc = std::min(argc, static_cast<int>(RUN_TOKENS));
    for (int i = 0; i < args->argc; ++i)
        std::strncpy(args->argv[static_cast<size_t>(i)].data(), argv[i], RUN_TOKEN_CHARS);
    Runners& r = runners();
    std::lock_guard g(r.lock);
    if (r.closed) {
        x_printf("x run: the shell is stopping\n");
        return 0;
    }
    try {
        std::thread(x_run_cmd_main, std::move(args)).detach();
        ++r.count;
    } catch (const std::system_error&) {
        x_printf("x run: thread create fail\n");
    }
    return 0;
}

void x_run_open()
{
    Runners& r = runners();
    std::lock_guard g(r.lock);
    r.closed = false;
}

void x_run_close()
{
    Runners& r = runners();
    {
        std::lock_guard g(r.lock);
        r.closed = true;
    }
    r.cv.notify_all();
}

int x_run_active()
{
    Runners& r = runners();
    std::lock_guard g(r.lock);
    return r.count;
}

}  // namespace cnxd
