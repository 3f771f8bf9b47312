// The common shape of a modem request wrapper: an entry line, the SDK call,
// a failure line naming the request when the SDK refuses it, an exit line.
// Shared by the table-made wrappers and the ones written out by hand.
#pragma once

#include <cstdint>

#include "modem/bringup.h"
#include "modem/cm_printf.h"

namespace cnxd {

inline void cm_enter(const char* name) { cm_printf(CM_TRACE, "[%s+]\n", name); }
inline void cm_leave(const char* name) { cm_printf(CM_TRACE, "[%s-]\n", name); }

// Prints "[name] fail_text" at the error level when `rc` is non-zero;
// returns `rc`.
inline int32_t cm_check(const char* name, int32_t rc, const char* fail_text)
{
    if (rc != 0)
        cm_printf(CM_ERR, "[%-25s] %s\n", name, fail_text);
    return rc;
}

// The whole common shape around `Fn(hAPI, args...)`.
template <auto Fn, typename... Args>
int32_t cm_request(const char* name, const char* fail_text, Args... args)
{
    cm_enter(name);
    const int32_t rc = cm_check(name, Fn(hAPI, args...), fail_text);
    cm_leave(name);
    return rc;
}

}  // namespace cnxd
