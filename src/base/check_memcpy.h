// The guarded copy: memcpy that refuses a null address and reports it with
// the caller's file (or module) name and line. Each caller says where the
// report goes, so the copy itself needs no log channel: the request
// dispatcher logs through the SDK's log, the indication handlers through the
// clients' log channel, and a caller that wants a prefix adds it there.
#pragma once

#include <cstddef>

namespace cnxd {

// Receives the finished report line, "[file:line] memcpy:... is NULL.\n".
using copy_report = void (*)(const char* line);

// Copies `len` bytes like memcpy and returns `dst`. A null `dst` reports
// "[%s:%d] memcpy:1st parameter is NULL.\n", a null `src` "[%s:%d]
// memcpy:2nd parameter is NULL.\n", with `file` and `line`; then nothing is
// copied and the result is nullptr.
void* check_memcpy(void* dst, const void* src, size_t len, const char* file, int line, copy_report report);

}  // namespace cnxd
