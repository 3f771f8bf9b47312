#include "shell/script.h"

#include <dirent.h>
#include <sys/stat.h>
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

#include "base/path.h"
#include "modem/cm_wrappers.h"
#include "modem/device.h"
#include "modem/log_direction.h"
#include "nv.h"
#include "server/delivery.h"
#include "shell/dispatcher.h"

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

using File = std::unique_ptr<FILE, decltype(&std::fclose)>;
struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

File open_file(const std::string& path) { return File(std::fopen(cnxd_path(path).c_str(), "r"), &std::fclose); }

bool exists(const std::string& path) { return access(cnxd_path(path).c_str(), F_OK) == 0; }

// Offers `line` to the dispatcher; when not taken, sends it to the modem with
// its NUL.
void run_or_forward(const std::string& line)
{
    std::string copy = line;  // do_cmd cuts its own copy
    if (do_cmd(copy.data()) == 0)
        cm_send_dm_command(std::string_view(line.c_str(), line.size() + 1));
}

// The pause of a script directory: its last "delay_us=N" line.
uint32_t read_delay(const std::string& config)
{
    uint32_t delay = DEFAULT_DELAY_US;
    const File f = open_file(config);
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

// Reads one line of at most DM_LINE_MAX characters into `buf`, without its
// line end; the rest of a longer line is dropped. False at the end.
bool read_dm_line(FILE* f, std::array<char, DM_LINE_MAX + 1>& buf)
{
    if (!std::fgets(buf.data(), static_cast<int>(buf.size()), f))
        return false;
    size_t len = std::strlen(buf.data());
    if (len > 0 && buf[len - 1] != '\n')
        for (int c = std::fgetc(f); c != EOF && c != '\n'; c = std::fgetc(f)) {
        }
    while (len > 0 && (buf[len - 1] == '\n' || buf[len - 1] == '\r'))
        buf[--len] = '\0';
    return true;
}

// The entry's type as the directory tells it; asked of the file itself when
// the file system does not tell (or an emulator hides it), so that the entry
// is not lost for want of a type.
unsigned char entry_type(const std::string& dir, const dirent64& e)
{
    if (e.d_type != DT_UNKNOWN)
        return e.d_type;
    struct stat64 st {};
    if (stat64((dir + "/" + e.d_name).c_str(), &st) != 0)
        return DT_UNKNOWN;
    return S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
}

void run_rf_script()
{
    const uint32_t delay = read_delay(std::string(LTE_RF_SCR_DIR) + "/" + SCR_CONFIG);
    std::array<char, MODEL_FILE_MAX> model{};
    if (const File f = open_file(MODEL_FILE); f) {
        if (std::fread(model.data(), 1, model.size(), f.get()) <= MODEL_LETTER_AT)
            model[MODEL_LETTER_AT] = '\0';
    } else {
        cnxd_srv_send_log("/proc/xqmv open fail\n");
    }
    const char letter = model[MODEL_LETTER_AT];
    uint8_t variant = 255;
    nv_read(RF_VARIANT_ITEM, &variant, rf_model(letter).nv_offset, 1);
    const std::string path = lte_rf_script_path(letter, variant);
    const int rc = access(cnxd_path(path).c_str(), F_OK);
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
        std::this_thread::sleep_for(std::chrono::seconds(std::max(seconds, 0)));
        return;
    }
    run_or_forward(std::string(line));
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
    cnxd_srv_send_log("run_dm_cmd_file(%s) delay=%uus\n", path.c_str(), delay_us);
    const File f = open_file(path);
    if (!f) {
        cnxd_srv_send_log("%s, Failed to open error(%s)\n", "run_dm_cmd_file", strerror(errno));
        return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    const uint32_t saved = get_arm1_log_direction();
    set_arm1_log_direction(ARM1_LOG_OFF);

    std::array<char, DM_LINE_MAX + 1> buf;
    while (read_dm_line(f.get(), buf)) {
        const char* line = buf.data() + std::strspn(buf.data(), " ");
        std::array<char, DM_LINE_MAX + 2> copy{};
        std::strncpy(copy.data(), line, copy.size() - 1);
        if (do_cmd(copy.data()) != 0)
            continue;
        cnxd_srv_send_log("RUN=[%s]\n", line);
        cm_send_dm_command(std::string_view(line, std::strlen(line) + 1));
        if (delay_us != 0)
            std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    }

    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    cnxd_srv_send_log("  elapsed=%ums\n", static_cast<unsigned>(elapsed.count()));
    if (saved != ARM1_LOG_OFF)
        set_arm1_log_direction(saved);
    return 0;
}

void run_lte_scr()
{
    run_rf_script();
    const std::string dir_path = cnxd_path(LTE_SCR_DIR);
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
        if (const unsigned char type = entry_type(dir_path, *e); type == DT_DIR || type == DT_UNKNOWN)
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
    const File f = open_file(path);
    if (!f) {
        cnxd_srv_send_log("%s, Failed to open error(%s)\n", "line_proc", strerror(errno));
        return;
    }
    // Runs of spaces and tabs become one space, leading ones and blank lines
    // vanish; characters past INIT_LINE_MAX are dropped.
    std::string line;
    bool blank_pending = false;
    for (int c = std::fgetc(f.get()); c != EOF; c = std::fgetc(f.get())) {
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
