#include "shell/script.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>

#include "base/fd.h"
#include "base/path.h"
#include "base/stop.h"
#include "nv.h"
#include "server/delivery.h"
#include "shell/dispatcher.h"
#include "shell/log_direction.h"

namespace cnxd {
namespace {

constexpr const char* SCR_CONFIG = "scr_config";
constexpr uint32_t DEFAULT_DELAY_US = 100;
constexpr size_t DM_LINE_MAX = 511;    // characters of one DM command file line
constexpr size_t INIT_LINE_MAX = 511;  // characters of one init script line

constexpr const char* MODEL_FILE = "/proc/xqmv";
constexpr size_t MODEL_FILE_MAX = 1024;
constexpr size_t MODEL_LETTER_AT = 8;
constexpr int RF_VARIANT_ITEM = 1;

// The RF script prefix and the NV offset of the RF variant, by model letter;
// the last row serves every other letter.
struct rf_model_row {
    char model;
    const char* prefix;
    int nv_offset;
};
constexpr rf_model_row rf_model_tbl[] = {
    {'T', "mt", 10},
    {'U', "mu", 10},
    {'\0', "mx", 8},
};

const rf_model_row& rf_model(char model)
{
    for (const rf_model_row& row : rf_model_tbl)
        if (row.model == model)
            return row;
    return rf_model_tbl[std::size(rf_model_tbl) - 1];
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

unique_file open_file(const std::string& path) { return unique_file(std::fopen(cnxd_sysroot_path(path).c_str(), "r")); }

bool exists(const std::string& path) { return access(cnxd_sysroot_path(path).c_str(), F_OK) == 0; }

// The pause of a script directory: its last "delay_us=N" line.
uint32_t read_delay(const std::string& config)
{
    uint32_t delay = DEFAULT_DELAY_US;
    const unique_file f = open_file(config);
    if (!f) {
        cnxd_srv_send_log("open(%s) fail error=%d(%s)\n", config.c_str(), errno, strerror(errno));
        return delay;
    }
    char line[128];
    while (std::fgets(line, sizeof line, f.get())) {
        unsigned value = 0;
        if (std::sscanf(line, "delay_us=%u", &value) == 1)
            delay = value;
    }
    return delay;
}

// A DM command file, read a piece at a time. It is opened without
// blocking, so a FIFO with no writer ends at once, and one kept open with
// nothing in it is waited on in short polls a stop request ends.
class dm_file {
public:
    explicit dm_file(const std::string& path)
        : fd_(open(cnxd_sysroot_path(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
    {
    }
    explicit operator bool() const { return static_cast<bool>(fd_); }

    // The next byte; EOF at the end, after a read error, or at a stop request.
    int next()
    {
        while (pos_ == len_) {
            if (cnxd_stopping())
                return EOF;
            const ssize_t n = read(fd_.get(), piece_.data(), piece_.size());
            if (n > 0) {
                pos_ = 0;
                len_ = static_cast<size_t>(n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return EOF;
            } else if (errno == EAGAIN) {
                pollfd p{fd_.get(), POLLIN, 0};
                poll(&p, 1, POLL_MS);
            }
        }
        return static_cast<unsigned char>(piece_[pos_++]);
    }

    // Reads one line into `buf` without its line end: only a newline ends a
    // line, its text stops at its first NUL, and characters past
    // DM_LINE_MAX are dropped. False at the end and at a stop request, so a
    // file that never ends (a device, a FIFO) is read until the daemon stops.
    bool line(std::array<char, DM_LINE_MAX + 1>& buf)
    {
        int c = next();
        if (c == EOF)
            return false;
        size_t len = 0;
        bool in_text = true;  // before the line's first NUL
        for (; c != EOF && c != '\n'; c = next()) {
            in_text = in_text && c != '\0';
            if (in_text && len < DM_LINE_MAX)
                buf[len++] = static_cast<char>(c);
        }
        if (cnxd_stopping())
            return false;
        while (len > 0 && buf[len - 1] == '\r')
            --len;
        buf[len] = '\0';
        return true;
    }

private:
    static constexpr int POLL_MS = 100;
    UniqueFd fd_;
    std::array<char, 4096> piece_{};
    size_t pos_ = 0;
    size_t len_ = 0;
};

// Sleeps `delay_us` microseconds; a stop request cuts it short.
void pause_us(uint32_t delay_us)
{
    if (delay_us >= 1000 && cnxd_stop_wait(std::chrono::milliseconds(delay_us / 1000)))
        return;
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us % 1000));
}

// How deep DM command files run one another on this thread. A file that
// runs itself, directly or through others, would nest until the descriptor
// table or the thread's stack ran out. Eight levels leave room for files
// that include a few others (the script directory's own run is one level),
// for at most eight open files and a few KB of stack per thread.
constexpr int DM_FILE_NESTING_MAX = 8;
thread_local int dm_file_depth = 0;

class nesting {
public:
    nesting() { ++dm_file_depth; }
    ~nesting() { --dm_file_depth; }
    nesting(const nesting&) = delete;
    nesting& operator=(const nesting&) = delete;
};

void run_rf_script()
{
    const uint32_t delay = read_delay(std::string(LTE_RF_SCR_DIR) + "/" + SCR_CONFIG);
    std::array<char, MODEL_FILE_MAX> model{};
    if (const unique_file f = open_file(MODEL_FILE); f) {
        if (std::fread(model.data(), 1, model.size(), f.get()) <= MODEL_LETTER_AT)
            model[MODEL_LETTER_AT] = '\0';
    } else {
        cnxd_srv_send_log("/proc/xqmv open fail\n");
    }
    const char letter = model[MODEL_LETTER_AT];
    uint8_t variant = 255;
    nv_read(RF_VARIANT_ITEM, &variant, rf_model(letter).nv_offset, 1);
    const std::string path = lte_rf_script_path(letter, variant);
    const int rc = access(cnxd_sysroot_path(path).c_str(), F_OK);
    cnxd_srv_send_log("lte rf scr: access(%s)=%d\n", path.c_str(), rc);
    if (rc == 0)
        run_dm_cmd_file(path, delay);
}

void run_init_line(std::string_view line)
{
    if (line.starts_with('#'))
        return;
    if (line.starts_with("sleep")) {
        const int seconds = line.size() < 7 ? 1 : std::atoi(std::string(line.substr(6)).c_str());
        // A stop cuts the sleep short (and the script ends: line_proc).
        cnxd_stop_wait(std::chrono::seconds(std::max(seconds, 0)));
        return;
    }
    cmd_offer_line(line, console_length::with_nul, nullptr, capture_source::script);
}

}  // namespace

int cmd_send_dm_file(int argc, char** argv)
{
    if (argc < 2) {
        cnxd_srv_send_log("no given file\n");
        return 0;
    }
    const uint32_t delay = argc >= 3 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)) : 0;
    run_dm_cmd_file(argv[1], delay);
    return 0;
}

int run_dm_cmd_file(const std::string& path, uint32_t delay_us)
{
    if (!exists(path)) {
        cnxd_srv_send_log("not found '%s'\n", path.c_str());
        return -2;
    }
    if (dm_file_depth >= DM_FILE_NESTING_MAX) {
        cnxd_srv_send_log("run_dm_cmd_file(%s) refused: files nested %d deep\n", path.c_str(), dm_file_depth);
        return 0;
    }
    const nesting level;
    cnxd_srv_send_log("run_dm_cmd_file(%s) delay=%uus\n", path.c_str(), delay_us);
    dm_file f(path);
    if (!f) {
        cnxd_srv_send_log("%s, Failed to open error(%s)\n", "run_dm_cmd_file", strerror(errno));
        return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    // Only the direction changes: the destination of the daemon's own log,
    // the modem's console buffering and host log interface stay as they are.
    const uint32_t saved = arm1_log_direction.exchange(ARM1_LOG_OFF);

    const auto announce = [](std::string_view sent) {
        cnxd_srv_send_log("RUN=[%.*s]\n", static_cast<int>(sent.size()), sent.data());
    };
    std::array<char, DM_LINE_MAX + 1> buf;
    while (f.line(buf)) {
        const char* line = buf.data() + std::strspn(buf.data(), " ");
        if (cmd_offer_line(line, console_length::with_nul, announce, capture_source::script) == 0 && delay_us != 0)
            pause_us(delay_us);
    }

    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    cnxd_srv_send_log("  elapsed=%ums\n", static_cast<unsigned>(elapsed.count()));
    if (saved != ARM1_LOG_OFF)
        arm1_log_direction = saved;
    return 0;
}

void run_lte_scr()
{
    run_rf_script();
    const std::string dir_path = cnxd_sysroot_path(LTE_SCR_DIR);
    const std::unique_ptr<DIR, DirCloser> dir(opendir(dir_path.c_str()));
    if (!dir) {
        cnxd_srv_send_log("opendir(%s) fail error=%d(%s)\n", LTE_SCR_DIR, errno, strerror(errno));
        return;
    }
    const uint32_t delay = read_delay(std::string(LTE_SCR_DIR) + "/" + SCR_CONFIG);
    unsigned count = 0;
    // The 64-bit entries: a 32-bit target's plain readdir fails on a file
    // system with large inode numbers.
    while (const dirent64* e = readdir64(dir.get())) {
        const std::string_view name = e->d_name;
        if (name == "." || name == ".." || name == SCR_CONFIG)
            continue;
        // An entry whose type the directory does not tell is skipped too.
        if (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN)
            continue;
        run_dm_cmd_file(std::string(LTE_SCR_DIR) + "/" + e->d_name, delay);
        ++count;
    }
    cnxd_srv_send_log("%s nr=%u\n", "run_lte_scr", count);
}

std::string lte_rf_script_path(char model, int variant)
{
    return std::string(LTE_RF_SCR_DIR) + "/" + rf_model(model).prefix + "_" + std::to_string(variant);
}

void line_proc(const std::string& path)
{
    if (!exists(path))
        return;
    const unique_file f = open_file(path);
    if (!f) {
        cnxd_srv_send_log("%s, Failed to open error(%s)\n", "line_proc", strerror(errno));
        return;
    }
    // Runs of spaces and tabs become one space, leading ones and blank lines
    // vanish; characters past INIT_LINE_MAX are dropped.
    std::string line;
    bool blank_pending = false;
    for (int c = std::fgetc(f.get()); c != EOF && !cnxd_stopping(); c = std::fgetc(f.get())) {
        if (c == '\n') {
            if (!line.empty())
                run_init_line(line);
            line.clear();
            blank_pending = false;
        } else if (c == ' ' || c == '\t') {
            blank_pending = !line.empty();
        } else if (line.size() < INIT_LINE_MAX) {
            if (blank_pending && line.size() + 1 < INIT_LINE_MAX)
                line.push_back(' ');
            blank_pending = false;
            line.push_back(static_cast<char>(c));
        }
    }
}

}  // namespace cnxd
