// What record_print writes, as one string: for tests that compare a
// record's printed lines with what they expect.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <span>
#include <string>

#include "base/record.h"

namespace cnxd::test {

inline std::string& record_text_buffer()
{
    static std::string text;
    return text;
}

inline int record_text_sink(const char* fmt, ...)
{
    char buf[4096];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    record_text_buffer().append(buf, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buf) - 1)));
    return n;
}

// The lines of `fields` printed from `bytes` (one thread at a time).
inline std::string record_text(record_fields fields, std::span<const uint8_t> bytes)
{
    record_text_buffer().clear();
    record_print(record_text_sink, fields, bytes);
    return record_text_buffer();
}

}  // namespace cnxd::test
