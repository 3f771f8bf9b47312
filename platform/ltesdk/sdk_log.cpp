// The SDK's log facility: system log, standard output or error, or a
// size-bounded file, filtered by system-log level.
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

#include "base/path.h"
#include "ltesdk.h"

uint32_t cnxd_flags;
uint32_t cnxd_api_flags;
uint32_t lte_sdk_flags;

namespace {

struct LogState {
    std::mutex lock;
    int type = SDK_LOG_TYPE_STDERR;
    int level = 3;
    bool color = false;
    std::string name = "ltesdk";
    std::string file_path;
    bool file_append = true;
    long max_size = 0;  // bytes; 0 means unbounded
    FILE* file = nullptr;
    bool syslog_open = false;
};

LogState& state()
{
    static LogState s;
    return s;
}

// "2MB", "512KB", "100" (bytes); 0 for text that is no size.
long parse_size(const char* text)
{
    char* end = nullptr;
    double n = std::strtod(text, &end);
    if (end == text || n < 0)
        return 0;
    long unit = 1;
    if (*end == 'K' || *end == 'k')
        unit = 1024;
    else if (*end == 'M' || *end == 'm')
        unit = 1024 * 1024;
    else if (*end == 'G' || *end == 'g')
        unit = 1024 * 1024 * 1024;
    return static_cast<long>(n * static_cast<double>(unit));
}

void close_file(LogState& s)
{
    if (s.file) {
        std::fclose(s.file);
        s.file = nullptr;
    }
}

FILE* log_file(LogState& s)
{
    if (!s.file && !s.file_path.empty()) {
        s.file = std::fopen(cnxd::cnxd_path(s.file_path).c_str(), s.file_append ? "ae" : "we");
        s.file_append = true;
    }
    return s.file;
}

void rotate_if_full(LogState& s)
{
    if (!s.file || s.max_size <= 0 || std::ftell(s.file) < s.max_size)
        return;
    close_file(s);
    const std::string path = cnxd::cnxd_path(s.file_path);
    std::rename(path.c_str(), (path + ".old").c_str());
}

const char* color_of(int level)
{
    if (level <= 3)
        return "\033[31m";
    if (level == 4)
        return "\033[33m";
    if (level == 5)
        return "\033[36m";
    return "";
}

void write_line(LogState& s, FILE* out, int level, const char* text)
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    const bool colored = s.color && isatty(fileno(out)) && *color_of(level);
    std::fprintf(out, "%s%02d:%02d:%02d.%03ld %s[%d] <%d> %s%s\n", colored ? color_of(level) : "",
                 local.tm_hour, local.tm_min, local.tm_sec, ts.tv_nsec / 1000000, s.name.c_str(),
                 static_cast<int>(getpid()), level, text, colored ? "\033[0m" : "");
    std::fflush(out);
}

}  // namespace

extern "C" {

void sdk_set_log_type(int type, const char* name)
{
    LogState& s = state();
    std::lock_guard guard(s.lock);
    s.type = type;
    if (name)
        s.name = name;
    if (type == SDK_LOG_TYPE_SYSLOG && !s.syslog_open) {
        openlog(s.name.c_str(), LOG_PID, LOG_DAEMON);
        s.syslog_open = true;
    }
}

void sdk_set_log_file(const char* path, int append)
{
    LogState& s = state();
    std::lock_guard guard(s.lock);
    close_file(s);
    s.file_path = path ? path : "";
    s.file_append = append != 0;
}

void sdk_set_logfile_size_s(const char* size)
{
    LogState& s = state();
    std::lock_guard guard(s.lock);
    s.max_size = size ? parse_size(size) : 0;
}

void sdk_enable_term_color(void)
{
    LogState& s = state();
    std::lock_guard guard(s.lock);
    s.color = true;
}

void sdk_set_log_level(int level)
{
    LogState& s = state();
    std::lock_guard guard(s.lock);
    s.level = level;
}

void sdk_vlog(int level, const char* fmt, va_list ap)
{
    LogState& s = state();
    char text[2048];
    {
        std::lock_guard guard(s.lock);
        if (level > s.level)
            return;
    }
    std::vsnprintf(text, sizeof text, fmt, ap);
    // One line per call: a trailing newline of the message is the line's own.
    size_t len = std::strlen(text);
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r'))
        text[--len] = '\0';

    std::lock_guard guard(s.lock);
    switch (s.type) {
    case SDK_LOG_TYPE_SYSLOG:
        syslog(level, "%s", text);
        break;
    case SDK_LOG_TYPE_STDOUT:
        write_line(s, stdout, level, text);
        break;
    case SDK_LOG_TYPE_FILE:
        if (FILE* f = log_file(s)) {
            write_line(s, f, level, text);
            rotate_if_full(s);
        }
        break;
    default:
        write_line(s, stderr, level, text);
        break;
    }
}

void do_dio_printf(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vprintf(fmt, ap);
    va_end(ap);
    std::fflush(stdout);
}

void sdk_log(int level, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    sdk_vlog(level, fmt, ap);
    va_end(ap);
}

}  // extern "C"
