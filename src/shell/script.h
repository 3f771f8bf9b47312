// The shell's script runners. Every line of a script is offered to the
// dispatcher; a line the daemon does not take goes to the modem's console
// with its terminating NUL counted in the length. Paths are given in their
// router form and looked up under the sysroot.
//
// DM command files: one command per line, run by "senddmfile FILE [DELAY]"
// and, during a device's bring-up, by run_lte_scr: first the RF script, then
// every regular file of "/etc/sysconfig/script/lte_scr" except its
// "scr_config", whose "delay_us=N" lines (the last one wins, default 100)
// set the pause after each line sent to the modem.
//
// The RF script is "/etc/sysconfig/script/lte_scr/rf/<prefix>_<variant>",
// paused by "rf/scr_config" the same way. The prefix names the modem model,
// the letter at index 8 of /proc/xqmv: "mt" for model T, "mu" for model U,
// "mx" for any other. The variant is the byte of NV item 1 at offset 10 on
// models T and U and at offset 8 on the others (255 when it cannot be read).
//
// The init script "/etc/sysconfig/script/lte_init_script" is read with its
// whitespace normalised (see line_proc); "#" lines are comments and
// "sleep [N]" pauses N seconds (1 without N).
#pragma once

#include <cstdint>
#include <string>

namespace cnxd {

constexpr const char* LTE_INIT_SCRIPT = "/etc/sysconfig/script/lte_init_script";
constexpr const char* LTE_SCR_DIR = "/etc/sysconfig/script/lte_scr";
constexpr const char* LTE_RF_SCR_DIR = "/etc/sysconfig/script/lte_scr/rf";

// "senddmfile FILE [DELAY]": runs one DM command file, DELAY microseconds
// (strtoul base 0, default 0) after each line sent to the modem.
int cmd_send_dm_file(int argc, char** argv);

// Runs the DM command file `path` with `delay_us` after each line sent to the
// modem; modem output goes only to the clients' log channel meanwhile.
// Returns 0, or -2 when the file does not exist.
int run_dm_cmd_file(const std::string& path, uint32_t delay_us);

// Runs the RF script and then every DM command file of the script directory.
void run_lte_scr();

// The RF script's path for the modem model letter and the RF variant.
std::string lte_rf_script_path(char model, int variant);

// Runs the init script `path`; a missing file is skipped silently. A last
// line without a newline is not run.
void line_proc(const std::string& path);

}  // namespace cnxd
