// "x tty DEV BAUD [options]": the serial-port test of the diagnostics tool.
// It opens the port raw (8N1) at the rate and, by its options, sends test
// lines and reads them back through a loopback, dumps what comes in,
// checks the rate the port took, prints its state, or reopens it again and
// again alternating between two rates.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

#include "base/fd.h"
#include "base/stop.h"
#include "shell/cmd_x.h"

namespace cnxd {
namespace {

struct baud_rate {
    int rate;
    speed_t code;
};
constexpr baud_rate BAUD_RATES[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {921600, B921600},   {1000000, B1000000},
    {1500000, B1500000}, {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

// Lines of the send test, and how long a loopback line or a dump may keep
// us waiting.
constexpr int SEND_LINES = 10;
constexpr int LINE_WAIT_MS = 1000;
constexpr int DUMP_IDLE_MS = 1000;
constexpr int SWITCH_ARGS = 3;  // "switch" BAUD2 COUNT SLEEP_MS

struct tty_options {
    bool flow_control = false;  // fc
    bool send = false;          // s: send and read back
    bool send_only = false;     // so
    bool dump = false;          // d
    bool check_baud = false;    // cb
    bool status = false;        // st
    bool switch_test = false;   // switch
    int baud2 = 0;
    uint32_t switch_nr = 0;
    uint32_t switch_sleep_ms = 0;
};

struct tty_flag {
    const char* word;
    bool tty_options::*flag;
};
constexpr tty_flag TTY_FLAGS[] = {
    {"fc", &tty_options::flow_control}, {"s", &tty_options::send},      {"so", &tty_options::send_only},
    {"d", &tty_options::dump},          {"cb", &tty_options::check_baud}, {"st", &tty_options::status},
};

void tty_usage()
{
    for (const char* line : {
             "usage: x tty [device] [baudrate] [fc] [s|so] [d] [cb] [st] [switch baudrate2 count sleep_ms]\n",
             "  fc: hardware flow control, s: send test lines and read them back (loopback), so: send only\n",
             "  d: dump what is received, cb: check the baud rate, st: show the port state\n",
             "  switch: reopen the port count times, alternating the two baud rates, sleep_ms between\n",
             "  ex) x tty /dev/ttyS1 115200 s\n",
             "      x tty /dev/ttyS1 9600 so cb\n",
             "      x tty /dev/ttyS1 115200 switch 9600 100 50\n",
             "  for ttyS1 and ttyS3 tests switch off the AT manager's UART use and the MMC driver first\n",
         })
        x_printf("%s", line);
}

const baud_rate* find_rate(int rate)
{
    const auto it = std::ranges::find(BAUD_RATES, rate, &baud_rate::rate);
    return it == std::end(BAUD_RATES) ? nullptr : it;
}

int rate_of(speed_t code)
{
    const auto it = std::ranges::find(BAUD_RATES, code, &baud_rate::code);
    return it == std::end(BAUD_RATES) ? -1 : it->rate;
}

// The options after the rate; false on an unknown word.
bool parse_options(int argc, char** argv, tty_options& o)
{
    for (int i = 3; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "switch" && i + SWITCH_ARGS < argc) {
            o.switch_test = true;
            o.baud2 = std::atoi(argv[i + 1]);
            o.switch_nr = static_cast<uint32_t>(std::strtoul(argv[i + 2], nullptr, 0));
            o.switch_sleep_ms = static_cast<uint32_t>(std::strtoul(argv[i + 3], nullptr, 0));
            i += SWITCH_ARGS;
            continue;
        }
        const auto flag = std::ranges::find(TTY_FLAGS, word, &tty_flag::word);
        if (flag == std::end(TTY_FLAGS))
            return false;
        o.*(flag->flag) = true;
    }
    return true;
}

// The port open, raw, at `rate`; an invalid descriptor after printing why.
UniqueFd open_port(const char* dev, const baud_rate& rate, const tty_options& o)
{
    UniqueFd fd(x_open_device(dev, O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!fd) {
        x_printf("tty open(%s) fail %s(%d)\n", dev, std::strerror(errno), errno);
        return fd;
    }
    termios tio{};
    if (tcgetattr(fd.get(), &tio) != 0) {
        x_printf("tty setup(%s) fail %s(%d)\n", dev, std::strerror(errno), errno);
        return {};
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (o.flow_control)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~CRTSCTS;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, rate.code);
    cfsetospeed(&tio, rate.code);
    if (tcsetattr(fd.get(), TCSANOW, &tio) != 0) {
        x_printf("tty setup(%s) fail %s(%d)\n", dev, std::strerror(errno), errno);
        return {};
    }
    tcflush(fd.get(), TCIOFLUSH);
    return fd;
}

// Waits up to `ms` for `events` on the port.
bool wait_for(int fd, short events, int ms)
{
    pollfd p{fd, events, 0};
    return poll(&p, 1, ms) > 0 && (p.revents & events);
}

bool send_text(int fd, std::string_view text)
{
    while (!text.empty()) {
        if (!wait_for(fd, POLLOUT, LINE_WAIT_MS))
            return false;
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Up to `len` bytes, each within `ms` of the one before.
std::string receive(int fd, size_t len, int ms)
{
    std::string got;
    char buf[256];
    while (got.size() < len && wait_for(fd, POLLIN, ms)) {
        const ssize_t n = read(fd, buf, std::min(sizeof buf, len - got.size()));
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

std::string printable(std::string_view bytes)
{
    std::string out;
    for (const char c : bytes) {
        if (c >= ' ' && c <= '~') {
            out.push_back(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", static_cast<unsigned char>(c));
            out += esc;
        }
    }
    return out;
}

// The send test; 0, or -1 when a line did not go out or did not come back.
int send_lines(int fd, bool read_back)
{
    int ret = 0;
    for (int i = 0; i < SEND_LINES; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "[%d] TTY send string\r\n", i);
        x_printf("%s", line);
        if (!send_text(fd, line)) {
            x_printf("[%d] TTY send fail %s(%d)\n", i, std::strerror(errno), errno);
            return -1;
        }
        if (!read_back)
            continue;
        const std::string got = receive(fd, std::strlen(line), LINE_WAIT_MS);
        if (got == line) {
            x_printf("[%d] TTY recv ok\n", i);
        } else {
            x_printf("[%d] TTY recv fail \"%s\"\n", i, printable(got).c_str());
            ret = -1;
        }
    }
    return ret;
}

void dump_received(int fd)
{
    while (!cnxd_stopping()) {
        const std::string got = receive(fd, 64, DUMP_IDLE_MS);
        if (got.empty())
            return;
        x_printf("TTY recv(%d) \"%s\"\n", static_cast<int>(got.size()), printable(got).c_str());
    }
}

int check_rate(int fd, const baud_rate& rate)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return -1;
    const speed_t in = cfgetispeed(&tio);
    const speed_t out = cfgetospeed(&tio);
    if (in == rate.code && out == rate.code) {
        x_printf("tty baudrate check ok (%d)\n", rate.rate);
        return 0;
    }
    x_printf("tty baudrate check fail: set %d, ispeed %d ospeed %d\n", rate.rate, rate_of(in), rate_of(out));
    return -1;
}

void print_status(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return;
    int lines = 0;
    const bool have_lines = ioctl(fd, TIOCMGET, &lines) == 0;
    x_printf("tty status: ispeed=%d ospeed=%d cflag=0x%08x crtscts=%d", rate_of(cfgetispeed(&tio)),
             rate_of(cfgetospeed(&tio)), static_cast<unsigned>(tio.c_cflag), (tio.c_cflag & CRTSCTS) ? 1 : 0);
    if (have_lines)
        x_printf(" cts=%d dsr=%d dcd=%d", (lines & TIOCM_CTS) ? 1 : 0, (lines & TIOCM_DSR) ? 1 : 0,
                 (lines & TIOCM_CAR) ? 1 : 0);
    x_printf("\n");
}

int switch_test(const char* dev, const baud_rate& a, const baud_rate& b, const tty_options& o)
{
    x_printf("TTY switch test START(nr=%u)\n", o.switch_nr);
    x_printf("  baudrate: %d <-> %d\n", a.rate, b.rate);
    x_printf("  sleep_ms: %d\n", static_cast<int>(o.switch_sleep_ms));
    uint32_t ok = 0;
    for (uint32_t i = 0; i < o.switch_nr && !cnxd_stopping(); ++i) {
        const baud_rate& rate = i % 2 ? b : a;
        const UniqueFd fd = open_port(dev, rate, o);
        if (fd && (!o.check_baud || check_rate(fd.get(), rate) == 0))
            ++ok;
        cnxd_stop_wait(std::chrono::milliseconds(o.switch_sleep_ms));
    }
    x_printf("TTY switch test DONE(nr=%u/%u)\n", ok, o.switch_nr);
    return ok == o.switch_nr ? 0 : -1;
}

}  // namespace

int x_tty(int argc, char** argv)
{
    tty_options o;
    if (argc < 3 || !parse_options(argc, argv, o)) {
        tty_usage();
        return 0;
    }
    const char* dev = argv[1];
    const baud_rate* rate = find_rate(std::atoi(argv[2]));
    const baud_rate* rate2 = o.switch_test ? find_rate(o.baud2) : rate;
    if (!rate || !rate2) {
        x_printf("##ERROR## Unknown baudrate type (%d)\n", rate ? o.baud2 : std::atoi(argv[2]));
        return 0;
    }
    if (o.switch_test) {
        switch_test(dev, *rate, *rate2, o);
        return 0;
    }
    const UniqueFd fd = open_port(dev, *rate, o);
    if (!fd)
        return 0;
    int ret = 0;
    if (o.check_baud && check_rate(fd.get(), *rate) != 0)
        ret = -1;
    if (o.status)
        print_status(fd.get());
    if ((o.send || o.send_only) && send_lines(fd.get(), !o.send_only) != 0)
        ret = -1;
    if (o.dump)
        dump_received(fd.get());
    x_printf("tty %s DONE ret=%d\n", dev, ret);
    return 0;
}

}  // namespace cnxd
