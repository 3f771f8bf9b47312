// The diagnostics tool "x": engineering sub-commands for the router itself
// (memory peek and poke, flash and NV stress tests, serial-port tests, an
// allocation test, a file's SHA-256, the SDK's interface switches, a
// runner that repeats shell or modem commands, fault injection). Unlike the
// other commands they print with printf to the daemon's standard output,
// each line flushed at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace cnxd {

// "x WORD [ARGS...]": runs the sub-command WORD with the tokens after "x"
// (its token 0 is WORD).
int cmd_x(int argc, char** argv);

// One sub-command: its word and the function that gets the tokens with "x"
// removed.
struct x_sub_cmd {
    const char* word;
    int (*fn)(int argc, char** argv);
};
// The sub-commands in lookup order.
extern const std::span<const x_sub_cmd> x_sub_tbl;

// printf to standard output, flushed at once: how every tool prints.
void x_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// ---- run (cmd_x_run.cpp)

// What "run" does with its tokens (token 0 is "run").
struct x_run_plan {
    uint32_t nr = 1;        // passes
    uint32_t sleep_ms = 0;  // pause after each pass
    bool nolog = false;
    std::vector<std::string> cmds;  // at most X_RUN_CMD_MAX, none empty
};
constexpr size_t X_RUN_CMD_MAX = 32;
x_run_plan x_run_parse(int argc, const char* const* argv);

// The runner threads live with the command shell: x_run_open lets them
// start (the state at start-up, and what cmd_shell_start does again);
// x_run_close refuses new ones and wakes the running ones out of their
// pauses (cmd_shell_stop); it waits for none. A runner stops between two
// commands once closed, on its own.
void x_run_open();
void x_run_close();
// Runner threads not yet ended.
int x_run_active();

int x_run(int argc, char** argv);

// ---- mtdt and nvt (cmd_x_flash.cpp)

int x_mtdt(int argc, char** argv);
int x_nvt(int argc, char** argv);

// ---- tty (cmd_x_tty.cpp)

int x_tty(int argc, char** argv);

// ---- the device files the tools open (cmd_x.cpp)

// Opens the target path `target` ("/dev/mem", "/dev/mtd3", "/dev/ttyS1")
// through cnxd_sysroot_path, so that under a sysroot it is the sysroot's
// file and never the host's device; a relative path is taken from /dev.
// `host_path` gets the path actually opened.
int x_open_device(const std::string& target, int flags, std::string* host_path = nullptr);

// ---- malloc (cmd_x.cpp)

// The blocks "malloc" keeps: the tool never frees them (it is there to use
// memory up); they stay reachable through this list. Tests and the fuzz
// target give them back with x_malloc_release, which returns how many.
size_t x_malloc_release();

}  // namespace cnxd
