#include "modem/cm_memcpy.h"

#include <cstring>

#include "server/delivery.h"

namespace cnxd {

void* check_memcpy(void* dst, const void* src, size_t len, const char* file, int line)
{
    if (!dst) {
        cnxd_srv_send_log("[%s:%d] memcpy:1st parameter is NULL.\n", file, line);
        return nullptr;
    }
    if (!src) {
        cnxd_srv_send_log("[%s:%d] memcpy:2nd parameter is NULL.\n", file, line);
        return nullptr;
    }
    return std::memcpy(dst, src, len);
}

}  // namespace cnxd
