// The DM log: the text the DM report printers write, kept small by
// trimming. Every piece of text goes to dm.log (filepath_dm_log) with one
// open, append and close.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cnxd {

// The size dm.log may reach before a write trims it, and where the kept
// part starts (at the first line break at or after it).
constexpr long DM_LOG_LIMIT = 10240;
constexpr long DM_LOG_KEEP_FROM = 5120;

// Appends `text` to dm.log. A file that has reached DM_LOG_LIMIT bytes is
// first cut to what follows the first line break at or after
// DM_LOG_KEEP_FROM, through "dm.log.tmp". Writers on any thread are
// serialised, so no text is lost or torn.
void dm_log_write(const char* text);

// Formats at most 1023 characters and writes them with dm_log_write; a
// printf-style sink for the record printer. Returns the formatted length.
int dm_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "[YYYY-MM-DD hh:mm:ss:mmm]\n", the local time to the millisecond.
void dm_print_time();

// "0x%02x " for each byte, then "\n".
void dm_print_hex(const uint8_t* bytes, size_t count);

// The guarded copy, reporting a null address into dm.log.
void* dm_check_memcpy(void* dst, const void* src, size_t len, const char* file, int line);

}  // namespace cnxd
