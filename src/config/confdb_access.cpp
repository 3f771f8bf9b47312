#include "config/confdb_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/fd.h"
#include "base/path.h"
#include "base/shell.h"
#include "confdb.h"
#include "ltesdk.h"

namespace cnxd {

std::atomic<int32_t> g_operator{0};
std::atomic<int> gSmsConfType{SMS_CONF_TYPE_UNSET};

namespace {

constexpr int kDumpNameAttempts = 64;

// Dump files are numbered by a counter (seeded from pid and clock) rather
// than by rand(): rand is not safe across the threads that read the store
// at once (keep-alive, watchdog, shell), and two equal draws would have two
// readers share one file. The counter with O_EXCL gives each its own.

uint32_t dump_counter_seed()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return (static_cast<uint32_t>(getpid()) << 16) ^ static_cast<uint32_t>(now);
}

std::atomic<uint32_t> dump_counter{dump_counter_seed()};

// The IMS switch value that turns IMS on.
constexpr long kImsEnabled = 1;

}  // namespace

std::string confdb_new_dump_file(std::string_view prefix)
{
    for (int attempt = 0; attempt < kDumpNameAttempts; ++attempt) {
        char name[128];
        std::snprintf(name, sizeof name, "/var/tmp/%.*s_%u", static_cast<int>(prefix.size()),
                      prefix.data(), dump_counter.fetch_add(1, std::memory_order_relaxed));
        UniqueFd fd(::open(cnxd_path(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd)
            return name;
        if (errno != EEXIST) {
            sdk_log(3, "[%-25s] %s: %s\n", "confdb_new_dump_file", name, std::strerror(errno));
            return {};
        }
    }
    sdk_log(3, "[%-25s] no free name for %.*s\n", "confdb_new_dump_file",
            static_cast<int>(prefix.size()), prefix.data());
    return {};
}

ConfdbDump::ConfdbDump(std::string_view prefix, std::string_view get_args)
    : file_(confdb_new_dump_file(prefix))
{
    if (file_.empty())
        return;
    std::string cmd = "confdb get ";
    cmd += get_args;
    cmd += " > ";
    cmd += file_;
    cnxd_system(cmd);
}

ConfdbDump::~ConfdbDump()
{
    if (!file_.empty())
        std::remove(cnxd_path(file_).c_str());
}

size_t confdb_read_dump(const std::string& file, const char* section, const char* key,
                        const char* dflt, std::span<char, CONFDB_VALUE_SIZE> out)
{
    std::memset(out.data(), 0, out.size());
    // Without a file the reader still hands back the default.
    const std::string path = file.empty() ? std::string() : cnxd_path(file);
    GetPrivateProfileString(section, key, dflt, out.data(), CONFDB_VALUE_LIMIT, path.c_str());
    return std::strlen(out.data());
}

size_t ConfdbDump::read(const char* section, const char* key, const char* dflt,
                        std::span<char, CONFDB_VALUE_SIZE> out) const
{
    return confdb_read_dump(file_, section, key, dflt, out);
}

long ConfdbDump::read_number(const char* section, const char* key, int base) const
{
    confdb_value value;
    if (read(section, key, "0", value) == 0)
        std::strcpy(value.data(), "0");
    return std::strtol(value.data(), nullptr, base);
}

int CNXD_GetConfdbValue(const char* node, const char* key, std::span<char, CONFDB_VALUE_SIZE> out)
{
    std::string args = node;
    args += ' ';
    args += key;
    const ConfdbDump dump("confdb", args);
    return static_cast<int>(dump.read("", key, "0", out));
}

int CNXD_GetOperator()
{
    const ConfdbDump dump("confdb_ltenv_info_operator", "ltenv info operator");
    return static_cast<int>(dump.read_number("", "operator", 16));
}

int CNXD_GetImsEnable()
{
    const ConfdbDump dump("confdb_config_wan_lte_ims_ENABLE", "config wan lte ims ENABLE");
    return static_cast<int>(dump.read_number("", "ENABLE"));
}

namespace {

char bcd_digit(uint8_t nibble)
{
    return static_cast<char>(nibble <= 9 ? '0' + nibble : 'A' + nibble - 10);
}

// Sets gSmsConfType to `type`; true when that changed it.
bool choose_sms_type(int type) { return gSmsConfType.exchange(type) != type; }

}  // namespace

int CNXD_SelectSmsConfType(std::span<const uint8_t> plmn)
{
    if (plmn.size() < 2)
        return 0;
    const int op = CNXD_GetOperator();
    const char mcc[] = {bcd_digit(plmn[0] & 0x0F), bcd_digit(plmn[0] >> 4),
                        bcd_digit(plmn[1] & 0x0F), '\0'};
    if (op == OPERATOR_VZW) {
        if (CNXD_GetImsEnable() != kImsEnabled)
            return choose_sms_type(0) ? 2 : 0;
        if (std::strcmp(mcc, "302") == 0)
            return choose_sms_type(0) ? 1 : 0;
    } else if (op != OPERATOR_SMS_ANY) {
        return 0;
    }
    return choose_sms_type(1) ? 1 : 0;
}

}  // namespace cnxd
