// The shell's dispatcher: one command line is cut into tokens and offered to
// the command table. A line the daemon does not take goes on, unchanged, to
// the modem's console: every entry point hands its line to cmd_offer_line,
// which does both.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/capture.h"

namespace cnxd {

// Most tokens one line may have; a line with more counts as empty.
constexpr int CMD_MAX_ARGS = 31;

// Per-device guards, indexed by device index 0..CMD_DEVICE_TABLE_SIZE-1.
constexpr size_t CMD_DEVICE_TABLE_SIZE = 128;
// g_emergency value of a device running its emergency image.
constexpr uint8_t EMERGENCY_MODE = 2;
// Written when a device is inserted; 2 while it is in emergency mode, when
// only download, reset, gdi and help are accepted for it.
extern std::array<std::atomic<uint8_t>, CMD_DEVICE_TABLE_SIZE> g_emergency;
// A command naming a device whose firmware download runs (`downloading`,
// download/download.h) is refused too.

// Cuts `line` in place at spaces (only the space character separates) and at
// its first newline; fills `argv` (room for CMD_MAX_ARGS tokens) and `*argc`.
void get_token_arg(char* line, int* argc, char** argv);

// Dispatches one writable line: 1 when the daemon took it, 0 when the caller
// is to pass its own copy of the line on to the modem.
int do_cmd(char* line);

// How a line the daemon does not take is measured for the modem's console.
enum class console_length {
    // The text and its terminating NUL: the command socket, the script
    // runners and the modem's own host-debug lines.
    with_nul,
    // Exactly the bytes given: a client's command frame, whose length the
    // client chose.
    as_given,
};

// Offers `line` to do_cmd (on a copy: do_cmd cuts its line) and, when the
// daemon does not take it, calls `before_send` (when given) with the line and
// sends the line unchanged to the modem's console. Returns do_cmd's result:
// 1 taken, 0 sent on.
// `source` names the entry point in a capture.
int cmd_offer_line(std::string_view line, console_length length = console_length::with_nul,
                   void (*before_send)(std::string_view line) = nullptr,
                   capture_source source = capture_source::none);

}  // namespace cnxd
