// The common shape of a modem request wrapper: an entry line, the SDK call,
// a failure line naming the request when the SDK refuses it, an exit line.
// Shared by the table-made wrappers and the ones written out by hand.
#pragma once

#include <cstdint>
#include <tuple>
#include <type_traits>

#include "base/capture.h"
#include "lapi_size.h"
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

// An SDK function as a capture names it, with the request size rule of its
// row in lapi.def (0: the record's size is not known here).
struct cm_sdk_fn {
    const char* name;
    int request;
};

// Captures a call: the device index and the request record, when the call
// has them (a device index first, a record after it).
template <typename... Args>
void cm_capture(const cm_sdk_fn& fn, int32_t rc, Args... args)
{
    if (!capture_active())
        return;
    capture_record r{.kind = capture_kind::sdk_call, .a = static_cast<uint32_t>(rc), .name = fn.name};
    if constexpr (sizeof...(Args) >= 1) {
        const auto first = std::get<0>(std::tuple{args...});
        if constexpr (std::is_integral_v<decltype(first)>)
            r.index = static_cast<uint16_t>(first);
        if constexpr (sizeof...(Args) >= 2) {
            const auto record = std::get<1>(std::tuple{args...});
            if constexpr (std::is_pointer_v<decltype(record)>)
                if (record && fn.request != 0) {
                    const auto* bytes = reinterpret_cast<const uint8_t*>(record);
                    r.bytes = {bytes, lapi_record_size(fn.request, bytes)};
                }
        }
    }
    capture(r);
}

// The whole common shape around `Fn(hAPI, args...)`.
template <auto Fn, typename... Args>
int32_t cm_request(const cm_sdk_fn& fn, const char* name, const char* fail_text, Args... args)
{
    cm_enter(name);
    const int32_t rc = Fn(hAPI, args...);
    cm_capture(fn, rc, args...);
    cm_check(name, rc, fail_text);
    cm_leave(name);
    return rc;
}

// The same for a request written out by hand: the capture names the wrapper.
template <auto Fn, typename... Args>
int32_t cm_request(const char* name, const char* fail_text, Args... args)
{
    return cm_request<Fn>(cm_sdk_fn{name, 0}, name, fail_text, args...);
}

}  // namespace cnxd
