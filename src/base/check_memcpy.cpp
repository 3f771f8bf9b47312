#include "base/check_memcpy.h"

#include <cstdio>
#include <cstring>

namespace cnxd {
namespace {

// Names are module names or short file names; a longer one is cut.
constexpr size_t REPORT_MAX = 512;

void report_null(copy_report report, const char* which, const char* file, int line)
{
    char text[REPORT_MAX];
    std::snprintf(text, sizeof text, "[%s:%d] memcpy:%s parameter is NULL.\n", file, line, which);
    report(text);
}

}  // namespace

void* check_memcpy(void* dst, const void* src, size_t len, const char* file, int line, copy_report report)
{
    if (!dst) {
        report_null(report, "1st", file, line);
        return nullptr;
    }
    if (!src) {
        report_null(report, "2nd", file, line);
        return nullptr;
    }
    return std::memcpy(dst, src, len);
}

}  // namespace cnxd
