// cnxd-cli: the engineer's tool for a running cnxd. An interactive shell
// over the command-line frame, one-shot command lines, the log channel,
// forwarded indications, single API requests, firmware downloads and the
// client table.
#include <editline/readline.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/be.h"
#include "base/path.h"
#include "cnxd_client.h"
#include "daemon_state.h"
#include "download_progress.h"
#include "event_names.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int OPEN_TIMEOUT_MS = 3000;
constexpr int API_TIMEOUT_MS = 5000;
constexpr int DEFAULT_SETTLE_MS = 1000;
// How long the line mode of the shell (standard input not a terminal) goes
// on printing after the input ended.
constexpr int END_OF_INPUT_SETTLE_MS = 500;
// How long the daemon has to begin a download it was asked for: one it
// refuses (a busy device, a bad argument) never begins.
constexpr int DOWNLOAD_START_MS = 3000;

volatile sig_atomic_t interrupted;

void on_signal(int) { interrupted = 1; }

// SIGINT and SIGTERM end the current command cleanly (the session is closed
// so the daemon removes its IPC objects). No SA_RESTART: a wait returns.
void install_signals()
{
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

struct Options {
    uint32_t identity = 0;
    int settle_ms = DEFAULT_SETTLE_MS;
    std::vector<std::string> args;  // command and its arguments
};

// A session closed on every way out.
class Session {
public:
    Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session() { cnxd_close(s_); }

    bool open(uint32_t identity)
    {
        const int rc = cnxd_open(identity, static_cast<uint32_t>(getpid()), OPEN_TIMEOUT_MS, &s_);
        if (rc == CNXD_OK)
            return true;
        const std::string& root = cnxd::cnxd_root();
        std::fprintf(stderr, "cnxd-cli: cannot connect to cnxd at %s: %s\n",
                     cnxd::cnxd_path("/var/tmp/cnxd-daemon").c_str(), cnxd_strerror(rc));
        if (rc == CNXD_E_NODAEMON && root.empty())
            std::fprintf(stderr, "cnxd-cli: for a host run, set CNXD_ROOT to the sysroot that scripts/run prints\n");
        return false;
    }
    cnxd_session* get() const { return s_; }

private:
    cnxd_session* s_ = nullptr;
};

// ---- Printing ---------------------------------------------------------------

void print_hex(const uint8_t* data, size_t len)
{
    for (size_t i = 0; i < len; ++i)
        std::printf(i ? " %02x" : "%02x", data[i]);
}

struct Printer {
    bool log = false;       // print log text
    bool events = false;    // print indications, notifications, other frames
    bool tty_shell = false; // redraw the prompt after output
    bool got_text = false;
};

void redraw(const Printer& p)
{
    std::fflush(stdout);
    if (p.tty_shell)
        rl_forced_update_display();
}

// Ends a line of an event, a notification or another frame whose head the
// caller printed: the bytes in hex, then the prompt is redrawn.
void end_event_line(const Printer& p, const uint8_t* data, size_t len)
{
    std::fputc(':', stdout);
    for (size_t i = 0; i < len; ++i)
        std::printf(" %02x", data[i]);
    std::fputc('\n', stdout);
    redraw(p);
}

void on_log(void* ctx, const char* text, size_t len)
{
    auto* p = static_cast<Printer*>(ctx);
    p->got_text = true;
    if (!p->log)
        return;
    if (p->tty_shell)
        std::fputs("\r\033[K", stdout);
    std::fwrite(text, 1, len, stdout);
    if (p->tty_shell && (len == 0 || text[len - 1] != '\n'))
        std::fputc('\n', stdout);
    redraw(*p);
}

void on_event(void* ctx, uint16_t event, const uint8_t* data, size_t len)
{
    auto* p = static_cast<Printer*>(ctx);
    if (!p->events)
        return;
    std::printf("event %u", event);
    if (const char* name = cnxd::cli::event_name(event))
        std::printf(" (%s)", name);
    // Every forwarded record starts with the device index word.
    if (len >= 4)
        std::printf(" dev %u len %zu", cnxd::load_be32(data), len);
    else
        std::printf(" dev - len %zu", len);
    end_event_line(*p, data, len);
}

void on_notify(void* ctx, uint32_t word, uint16_t code, const uint8_t* data, size_t len)
{
    auto* p = static_cast<Printer*>(ctx);
    if (!p->events)
        return;
    std::printf("notify %u word %u len %zu", code, word, len);
    end_event_line(*p, data, len);
}

void on_frame(void* ctx, uint16_t id, const uint8_t* payload, size_t len)
{
    auto* p = static_cast<Printer*>(ctx);
    if (!p->events)
        return;
    std::printf("frame 0x%04x len %zu", id, len);
    end_event_line(*p, payload, len);
}

void install_printer(cnxd_session* s, Printer* p)
{
    const cnxd_handlers h{on_log, on_event, on_notify, on_frame, p};
    cnxd_set_handlers(s, &h);
}

// Handles frames until `ms` passed (or forever when `ms` is negative), or
// an interrupt, or the session ends. False when the session failed.
bool pump(cnxd_session* s, int ms)
{
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!interrupted) {
        int wait = 200;
        if (ms >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0)
                return true;
            wait = std::min<int>(wait, static_cast<int>(left.count()));
        }
        const int rc = cnxd_dispatch(s, wait);
        if (rc < 0) {
            std::fprintf(stderr, "cnxd-cli: %s\n", cnxd_strerror(rc));
            return false;
        }
    }
    return true;
}

bool send_line(cnxd_session* s, std::string_view line)
{
    const int rc = cnxd_send_command(s, line.data(), line.size());
    if (rc != CNXD_OK)
        std::fprintf(stderr, "cnxd-cli: sending the line failed: %s\n", cnxd_strerror(rc));
    return rc == CNXD_OK;
}

// A number in C notation (0x..., 0...), or with `base` 10 in decimal only.
std::optional<unsigned long> parse_number(const std::string& text, unsigned long max, int base = 0)
{
    errno = 0;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str(), &end, base);
    if (text.empty() || *end != '\0' || errno || v > max || text[0] == '-')
        return std::nullopt;
    return v;
}

std::optional<std::vector<uint8_t>> parse_hex(std::string_view text)
{
    std::vector<uint8_t> out;
    int nibble = -1;
    for (char c : text) {
        if (c == ':' || c == ' ' || c == '-')
            continue;
        const char* digits = "0123456789abcdef";
        const char* d = std::strchr(digits, c | 0x20);
        if (!c || !d)
            return std::nullopt;
        const int v = static_cast<int>(d - digits);
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<uint8_t>(nibble << 4 | v));
            nibble = -1;
        }
    }
    if (nibble >= 0)
        return std::nullopt;
    return out;
}

// ---- Commands ---------------------------------------------------------------

// Interactive shell over a terminal, with line editing and history.
cnxd_session* shell_session;
bool shell_done;

void on_shell_line(char* line)
{
    if (!line) {
        shell_done = true;
        std::fputc('\n', stdout);
        return;
    }
    const std::string text(line);
    std::free(line);
    if (text == "quit" || text == "exit") {
        shell_done = true;
        return;
    }
    if (text.empty())
        return;
    add_history(text.c_str());
    if (!send_line(shell_session, text))
        shell_done = true;
}

int shell_tty(cnxd_session* s, Printer& p)
{
    p.tty_shell = true;
    shell_session = s;
    std::printf("connected to cnxd as client %d; \"quit\" or Ctrl-D leaves\n", cnxd_index(s));
    rl_callback_handler_install("cnxd> ", on_shell_line);
    bool ok = true;
    while (!shell_done && !interrupted) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {cnxd_fd(s), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents && cnxd_dispatch(s, 0) < 0) {
            std::fprintf(stderr, "\ncnxd-cli: the daemon ended the session\n");
            ok = false;
            break;
        }
        if (fds[0].revents)
            rl_callback_read_char();
    }
    rl_callback_handler_remove();
    return ok ? 0 : 1;
}

// The shell fed from a pipe or file: one command line per input line.
int shell_lines(cnxd_session* s)
{
    std::string pending;
    char chunk[1024];
    bool input_open = true;
    while (input_open && !interrupted) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {cnxd_fd(s), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents && cnxd_dispatch(s, 0) < 0)
            return 1;
        if (!fds[0].revents)
            continue;
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input_open = false;
            if (!pending.empty())
                pending += '\n';
        } else {
            pending.append(chunk, static_cast<size_t>(n));
        }
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
            const std::string_view line(pending.data(), nl);
            if (!line.empty() && !send_line(s, line))
                return 1;
        }
    }
    return pump(s, END_OF_INPUT_SETTLE_MS) ? 0 : 1;
}

int cmd_shell(const Options& o)
{
    Session s;
    if (!s.open(o.identity))
        return 1;
    Printer p{.log = true};
    install_printer(s.get(), &p);
    cnxd_set_receive(s.get(), 1);
    return isatty(STDIN_FILENO) ? shell_tty(s.get(), p) : shell_lines(s.get());
}

std::string join(const std::vector<std::string>& words, size_t from)
{
    std::string line;
    for (size_t i = from; i < words.size(); ++i)
        line += (i > from ? " " : "") + words[i];
    return line;
}

int cmd_cmd(const Options& o)
{
    Session s;
    if (!s.open(o.identity))
        return 1;
    Printer p{.log = true};
    install_printer(s.get(), &p);
    cnxd_set_receive(s.get(), 1);
    if (!send_line(s.get(), join(o.args, 1)))
        return 1;
    return pump(s.get(), o.settle_ms) ? 0 : 1;
}

int cmd_log(const Options& o)
{
    Session s;
    if (!s.open(o.identity))
        return 1;
    Printer p{.log = true};
    install_printer(s.get(), &p);
    cnxd_set_receive(s.get(), 1);
    return pump(s.get(), -1) ? 0 : 1;
}

int cmd_events(const Options& o)
{
    std::vector<uint16_t> events;
    for (size_t i = 1; i < o.args.size(); ++i) {
        const auto ev = parse_number(o.args[i], 0xFFFF);
        if (!ev) {
            std::fprintf(stderr, "cnxd-cli: \"%s\" is no event id\n", o.args[i].c_str());
            return 2;
        }
        events.push_back(static_cast<uint16_t>(*ev));
    }
    Session s;
    if (!s.open(o.identity))
        return 1;
    Printer p{.events = true};
    install_printer(s.get(), &p);
    for (uint16_t ev : events) {
        if (cnxd_subscribe(s.get(), ev, 1) != CNXD_OK) {
            std::fprintf(stderr, "cnxd-cli: the daemon never forwards event %u\n", ev);
            return 2;
        }
    }
    if (events.empty())
        cnxd_subscribe_all(s.get(), 1);
    // Directed notifications and relayed frames need the receive word.
    cnxd_set_receive(s.get(), 1);
    std::fflush(stdout);
    return pump(s.get(), -1) ? 0 : 1;
}

void on_download_log(void* ctx, const char* text, size_t len)
{
    static_cast<cnxd::cli::download_progress*>(ctx)->take({text, len});
}

// The shell's firmware download, followed through the daemon's log lines
// until its result.
int cmd_download(const Options& o)
{
    using phase = cnxd::cli::download_progress::phase;
    // The shell reads the device index in decimal.
    const auto dev = parse_number(o.args[1], 0xFFFFFFFF, 10);
    if (!dev) {
        std::fprintf(stderr, "cnxd-cli: \"%s\" is no device index\n", o.args[1].c_str());
        return 2;
    }
    Session s;
    if (!s.open(o.identity))
        return 1;
    cnxd::cli::download_progress d(static_cast<uint32_t>(*dev), o.args[3], isatty(STDOUT_FILENO), stdout, stderr);
    const cnxd_handlers h{on_download_log, nullptr, nullptr, nullptr, &d};
    cnxd_set_handlers(s.get(), &h);
    cnxd_set_receive(s.get(), 1);
    if (!send_line(s.get(), "download " + std::to_string(*dev) + " " + o.args[2] + " " + o.args[3]))
        return 1;
    const auto begin_by = Clock::now() + std::chrono::milliseconds(DOWNLOAD_START_MS);
    while (!d.ended() && !interrupted) {
        if (d.now() == phase::asked && Clock::now() > begin_by) {
            std::fputs(d.before_start().c_str(), stderr);
            std::fprintf(stderr, "cnxd-cli: the download did not begin\n");
            return 1;
        }
        const int rc = cnxd_dispatch(s.get(), 200);
        if (rc < 0) {
            d.finish_line();
            std::fprintf(stderr, "cnxd-cli: %s\n", cnxd_strerror(rc));
            return 1;
        }
    }
    if (!d.ended()) {
        d.finish_line();
        std::fprintf(stderr, "cnxd-cli: interrupted; a download that began goes on in the daemon\n");
        return 1;
    }
    return d.now() == phase::complete ? 0 : 1;
}

int cmd_api(const Options& o)
{
    const auto id = parse_number(o.args[1], 0xFFFF);
    const auto dev = parse_number(o.args[2], 0xFFFFFFFF);
    const auto data = o.args.size() > 3 ? parse_hex(o.args[3]) : std::vector<uint8_t>{};
    if (!id || !dev || !data) {
        std::fprintf(stderr, "cnxd-cli: api wants a command id, a device index and hex data\n");
        return 2;
    }
    Session s;
    if (!s.open(o.identity))
        return 1;
    int32_t result = 0;
    const int rc = cnxd_api_request(s.get(), static_cast<uint16_t>(*id), static_cast<uint32_t>(*dev),
                                    data->data(), data->size(), API_TIMEOUT_MS, &result);
    if (rc != CNXD_OK) {
        std::fprintf(stderr, "cnxd-cli: api request %lu: %s\n", *id, cnxd_strerror(rc));
        return 1;
    }
    std::printf("result %d\n", result);
    size_t size = 0;
    const size_t offset = cnxd_answer_area(static_cast<uint16_t>(*id), &size);
    if (size) {
        std::printf("answer at %zu, %zu bytes:\n", offset, size);
        const uint8_t* area = cnxd_shared_block(s.get()) + offset;
        for (size_t i = 0; i < size; i += 32) {
            print_hex(area + i, std::min<size_t>(32, size - i));
            std::fputc('\n', stdout);
        }
    }
    return 0;
}

int cmd_clients(const Options& o)
{
    Session s;
    if (!s.open(o.identity))
        return 1;
    Printer p{.log = true};
    install_printer(s.get(), &p);
    cnxd_set_receive(s.get(), 1);
    if (!send_line(s.get(), "cnxdcinfo") || !pump(s.get(), o.settle_ms))
        return 1;
    if (!p.got_text) {
        std::fprintf(stderr,
                     "cnxd-cli: no client table came back: the daemon's command shell did not "
                     "answer \"cnxdcinfo\" on the log channel (it may not be available yet)\n");
        return 1;
    }
    return 0;
}

int cmd_inspect(const Options& o)
{
    const auto doc = cnxd::cli::state_read();
    if (!doc)
        return 1;
    if (o.args.size() > 1) {
        if (o.args[1] != "--json") {
            std::fprintf(stderr, "usage: cnxd-cli inspect [--json]\n");
            return 2;
        }
        std::fputs(doc->c_str(), stdout);
        return 0;
    }
    if (!cnxd::cli::state_print(*doc, stdout)) {
        std::fprintf(stderr, "cnxd-cli: the state socket gave no document of cnxd's\n");
        return 1;
    }
    return 0;
}

// Each device's status, or one device's; as JSON with --json.
int cmd_status(const Options& o)
{
    std::optional<uint32_t> dev;
    bool json = false;
    for (size_t i = 1; i < o.args.size(); ++i) {
        const auto n = parse_number(o.args[i], 0xFFFFFFFF, 10);
        if (o.args[i] == "--json" && !json) {
            json = true;
        } else if (n && !dev) {
            dev = static_cast<uint32_t>(*n);
        } else {
            std::fprintf(stderr, "usage: cnxd-cli status [DEV] [--json]\n");
            return 2;
        }
    }
    const auto doc = cnxd::cli::state_read();
    if (!doc)
        return 1;
    bool ok = false;
    if (json) {
        const auto part = cnxd::cli::status_json(*doc, dev);
        if ((ok = part.has_value()))
            std::fputs(part->c_str(), stdout);
    } else {
        ok = cnxd::cli::status_print(*doc, dev, {}, stdout);
    }
    if (!ok && dev)
        std::fprintf(stderr, "cnxd-cli: the daemon has no device %u\n", *dev);
    else if (!ok)
        std::fprintf(stderr, "cnxd-cli: the state socket gave no document of cnxd's\n");
    return ok ? 0 : 1;
}

// Standard input, when it is a terminal, handing over each key at once and
// without echo (Ctrl-C still interrupts); as it was again on every way out.
class KeyInput {
public:
    KeyInput()
    {
        if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0)
            return;
        termios keys = saved_;
        keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        active_ = tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
    }
    ~KeyInput()
    {
        if (active_)
            tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    KeyInput(const KeyInput&) = delete;
    KeyInput& operator=(const KeyInput&) = delete;

    // Waits `ms` or until an interrupt; true when "q" was pressed.
    bool quit_within(int ms) const
    {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        for (auto now = Clock::now(); now < end && !interrupted; now = Clock::now()) {
            const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
            if (!active_) {
                usleep(static_cast<useconds_t>(std::min(left, 100)) * 1000);
                continue;
            }
            pollfd p{STDIN_FILENO, POLLIN, 0};
            char key = 0;
            if (poll(&p, 1, left) == 1 && read(STDIN_FILENO, &key, 1) == 1 && (key == 'q' || key == 'Q'))
                return true;
        }
        return false;
    }

private:
    termios saved_{};
    bool active_ = false;
};

// The devices' status with the signal's trend, then the state tables,
// redrawn once a second until "q" or an interrupt.
int cmd_top(const Options&)
{
    const KeyInput keys;
    const cnxd::cli::status_style style{.trend = true, .colour = isatty(STDOUT_FILENO) != 0};
    do {
        const auto doc = cnxd::cli::state_read();
        if (!doc)
            return 1;
        std::fputs("\033[H\033[2J", stdout);
        cnxd::cli::status_print(*doc, std::nullopt, style, stdout);
        cnxd::cli::state_print(*doc, stdout);
        std::fflush(stdout);
    } while (!interrupted && !keys.quit_within(1000));
    return 0;
}

struct Command {
    const char* name;
    const char* args;
    const char* help;
    size_t min_args;
    size_t max_args;  // SIZE_MAX: any number
    int (*run)(const Options&);
    const char* detail = nullptr;  // more for "COMMAND --help"
};

constexpr Command command_tbl[] = {
    {"cmd", "LINE...", "send one command line, print the output that follows", 1, SIZE_MAX, cmd_cmd,
     "The log text that follows the line is printed for -t MS (default 1000).\n"},
    {"log", "", "print the daemon's log text until interrupted", 0, 0, cmd_log},
    {"events", "[EVENT...]", "print forwarded indications (all events when none is named)", 0,
     SIZE_MAX, cmd_events,
     "One line per indication: the event number and its name, the device index, the\n"
     "record's length and its bytes in hex. EVENT is a number (0x... for hex).\n"},
    {"api", "ID DEV [HEX]", "send one API request, print its result and answer area", 2, 3, cmd_api},
    {"download", "DEV TYPE FILE", "download a firmware image into a device, showing its progress", 3, 3,
     cmd_download,
     "Runs the command shell's \"download DEV TYPE FILE\": FILE is a path on the daemon's\n"
     "side, TYPE the image type the shell's usage lists. On a terminal a progress bar\n"
     "follows the daemon's progress lines, else one line per step; then the daemon's\n"
     "result line. Exit status 0 when the modem took the image, 1 when the download\n"
     "failed or did not begin (the daemon's reasons are printed).\n"},
    {"clients", "", "print the daemon's client table (shell command cnxdcinfo)", 0, 0, cmd_clients},
    {"inspect", "[--json]", "print the daemon's state from its state socket (as JSON with --json)", 0, 1,
     cmd_inspect},
    {"status", "[DEV] [--json]", "each device's status: on line, attach, connections, signal", 0, 2, cmd_status,
     "Sections of \"label: value\" lines per device (DEV alone when named): the modem,\n"
     "the attach state and its last results, each data connection with its APN and\n"
     "addresses, the serving cells' RSRP, RSRQ and SINR (NV: reported not valid), and\n"
     "the connection keeper's state; times are ages. --json prints the document's\n"
     "device objects.\n"},
    {"top", "", "status with the signal's trend, and the state tables, every second until q", 0, 0, cmd_top},
};

void usage(FILE* out)
{
    std::fprintf(out,
                 "usage: cnxd-cli [-i IDENTITY] [-t MS] [COMMAND [ARG...]]\n"
                 "Without a command: an interactive shell; each line goes to the daemon's\n"
                 "command shell and its log text is printed above the prompt as it arrives.\n"
                 "Commands:\n");
    for (const Command& c : command_tbl) {
        const std::string head = std::string(c.name) + (*c.args ? " " : "") + c.args;
        std::fprintf(out, "  %-22s %s\n", head.c_str(), c.help);
    }
    std::fprintf(out,
                 "Options:\n"
                 "  -i IDENTITY            client identity announced to the daemon (default 0,\n"
                 "                         the identity that receives log text)\n"
                 "  -t MS                  how long cmd and clients print output (default %d)\n"
                 "  -h, --help             this text\n"
                 "Environment:\n"
                 "  CNXD_ROOT              sysroot of a host run of cnxd (scripts/run prints it)\n",
                 DEFAULT_SETTLE_MS);
}

// Options come before the command; everything after it is its arguments.
std::optional<Options> parse_args(int argc, char** argv, int* status)
{
    Options o;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            usage(stdout);
            *status = 0;
            return std::nullopt;
        }
        const bool has_value = i + 1 < argc;
        if (a == "-i" && has_value) {
            const auto v = parse_number(argv[++i], 0xFFFFFFFF);
            if (v) {
                o.identity = static_cast<uint32_t>(*v);
                continue;
            }
        } else if (a == "-t" && has_value) {
            const auto v = parse_number(argv[++i], 3600 * 1000);
            if (v) {
                o.settle_ms = static_cast<int>(*v);
                continue;
            }
        }
        usage(stderr);
        *status = 2;
        return std::nullopt;
    }
    o.args.assign(argv + i, argv + argc);
    return o;
}

}  // namespace

int main(int argc, char** argv)
{
    int status = 0;
    const auto opts = parse_args(argc, argv, &status);
    if (!opts)
        return status;
    install_signals();
    if (opts->args.empty())
        return cmd_shell(*opts);
    for (const Command& c : command_tbl) {
        if (opts->args[0] != c.name)
            continue;
        const size_t n = opts->args.size() - 1;
        if (n == 1 && (opts->args[1] == "--help" || opts->args[1] == "-h")) {
            std::printf("usage: cnxd-cli %s %s\n  %s\n%s", c.name, c.args, c.help, c.detail ? c.detail : "");
            return 0;
        }
        if (n < c.min_args || n > c.max_args) {
            std::fprintf(stderr, "usage: cnxd-cli %s %s\n", c.name, c.args);
            return 2;
        }
        return c.run(*opts);
    }
    std::fprintf(stderr, "cnxd-cli: unknown command \"%s\"\n", opts->args[0].c_str());
    usage(stderr);
    return 2;
}
