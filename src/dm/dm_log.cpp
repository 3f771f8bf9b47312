#include "dm/dm_log.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>

#include "base/check_memcpy.h"
#include "base/fd.h"
#include "base/path.h"
#include "dm/log_paths.h"
#include "server/delivery.h"

namespace cnxd {
namespace {

constexpr size_t DM_TEXT_SIZE = 1024;
constexpr size_t COPY_BLOCK = 512;

// The callback thread of the DM reports and the shell both write.
std::mutex dm_log_lock;

// Cuts the log at `path` to what follows the first line break at or after
// DM_LOG_KEEP_FROM. False when the text is not to be written.
bool trim(const std::string& path)
{
    const std::string tmp_path = path + ".tmp";
    {
        unique_file in(std::fopen(path.c_str(), "r"));
        if (!in) {
            cnxd_srv_send_log("File Open Failed\n");
            return false;
        }
        std::fseek(in.get(), DM_LOG_KEEP_FROM, SEEK_SET);
        for (int c = std::fgetc(in.get()); c != EOF && c != '\n';)
            c = std::fgetc(in.get());
        unique_file out(std::fopen(tmp_path.c_str(), "w"));
        if (!out) {
            cnxd_srv_send_log("Temporary File Open Failed\n");
            return false;
        }
        char block[COPY_BLOCK];
        for (size_t n; (n = std::fread(block, 1, sizeof block, in.get())) > 0;)
            std::fwrite(block, 1, n, out.get());
    }
    std::remove(path.c_str());
    std::rename(tmp_path.c_str(), path.c_str());
    return true;
}

void report_copy(const char* line) { dm_printf("%s", line); }

}  // namespace

void dm_log_write(const char* text)
{
    const std::string path = cnxd_sysroot_path(filepath_dm_log);
    std::lock_guard guard(dm_log_lock);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);  // a missing file is empty
    if (!ec && size >= static_cast<uintmax_t>(DM_LOG_LIMIT) && !trim(path))
        return;
    const unique_file f(std::fopen(path.c_str(), "a"));
    if (!f) {
        cnxd_srv_send_log("File Open Failed\n");
        return;
    }
    std::fputs(text, f.get());
}

int dm_printf(const char* fmt, ...)
{
    char text[DM_TEXT_SIZE] = {};
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    dm_log_write(text);
    return n;
}

void dm_print_time()
{
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    if (!localtime_r(&now.tv_sec, &local)) {
        dm_printf("Get Localtime failed\n");
        return;
    }
    char line[64];
    std::snprintf(line, sizeof line, "[%04d-%02d-%02d %02d:%02d:%02d:%03ld]\n", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long>(now.tv_usec / 1000));
    dm_log_write(line);
}

void dm_print_hex(const uint8_t* bytes, size_t count)
{
    // One write for the whole dump, so a trim never splits it.
    std::string text;
    char one[8];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(one, sizeof one, "0x%02x ", bytes[i]);
        text += one;
    }
    text += "\n";
    dm_log_write(text.c_str());
}

void* dm_check_memcpy(void* dst, const void* src, size_t len, const char* file, int line)
{
    return check_memcpy(dst, src, len, file, line, report_copy);
}

}  // namespace cnxd
