#include "modem/cm_printf.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <new>

#include "ltesdk.h"
#include "modem/bringup.h"
#include "server/delivery.h"

namespace cnxd {

void cm_printf(uint16_t level, const char* fmt, ...)
{
    // A fresh zero-filled buffer per call: prints come from every thread.
    std::unique_ptr<char[]> buf(new (std::nothrow) char[CM_PRINTF_MAX + 1]());
    if (!buf) {
        std::printf("buf alloc fail\n");
        return;
    }
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf.get(), CM_PRINTF_MAX + 1, fmt, ap);
    va_end(ap);
    if (LAPI_Printf(hAPI, level, buf.get()) != 0)
        cnxd_srv_send_log("LAPI_Printf Failed\n");
}

}  // namespace cnxd
