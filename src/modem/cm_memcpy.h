// The guarded copy of the indication handlers: a null address is logged to
// the clients' log channel with the caller's module name ("ind") and line,
// and nothing is copied.
#pragma once

#include <cstddef>

#include "base/check_memcpy.h"

namespace cnxd {

// Copies `len` bytes like memcpy. Returns `dst`, or nullptr without copying
// when either address is null.
void* check_memcpy(void* dst, const void* src, size_t len, const char* file, int line);

}  // namespace cnxd
