#include "base/platform_call.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "base/fd.h"
#include "base/path.h"

namespace cnxd {
namespace {

std::mutex log_lock;

// Under a sysroot: records `line` and returns true; on the router false.
bool recorded(const std::string& line)
{
    const std::string log = platform_call_log();
    if (log.empty())
        return false;
    std::lock_guard guard(log_lock);
    if (const unique_file f{std::fopen(log.c_str(), "a")})
        std::fprintf(f.get(), "%s\n", line.c_str());
    return true;
}

}  // namespace

std::string platform_call_log()
{
    return cnxd_root().empty() ? std::string() : cnxd_path("/var/log/platform-calls.log");
}

int platform_set_clock(time_t t)
{
    if (recorded("settimeofday " + std::to_string(static_cast<long long>(t))))
        return 0;
    const timeval tv{t, 0};
    return settimeofday(&tv, nullptr);
}

void vemo_log_console(const char* fmt, ...)
{
    const std::string console = cnxd_sysroot_path("/dev/console");
    if (const unique_file f{std::fopen(console.c_str(), "a")}) {
        setvbuf(f.get(), nullptr, _IONBF, 0);
        va_list ap;
        va_start(ap, fmt);
        std::vfprintf(f.get(), fmt, ap);
        va_end(ap);
    }
}

}  // namespace cnxd
