#include "modem/cm_memcpy.h"

#include "server/delivery.h"

namespace cnxd {

void* check_memcpy(void* dst, const void* src, size_t len, const char* file, int line)
{
    return check_memcpy(dst, src, len, file, line, [](const char* text) { cnxd_srv_send_log("%s", text); });
}

}  // namespace cnxd
