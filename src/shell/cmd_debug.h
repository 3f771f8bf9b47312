// The shell's debug switches: SDK and daemon flag words, marker files, the
// modem log direction (arm1log) and a few platform hooks. Each is a command
// handler of the command table.
#pragma once

namespace cnxd {

// "arm1log [direction]": sets the modem log direction 0-4, or prints the
// usage with the current direction.
int cmd_arm1_log_control(int argc, char** argv);
// "host_dump [address]": the SDK's host-dump address.
int cmd_host_dump(int argc, char** argv);
// "cnxdf", "laf", "lsf" [value]: the SDK's flag words.
int cmd_cnxd_flags(int argc, char** argv);
int cmd_api_flags(int argc, char** argv);
int cmd_sdk_flags(int argc, char** argv);
// "cnxdst [value]": the client-stuck test switch of the delivery.
int cmd_cnxd_stuck(int argc, char** argv);
// "cnxdcommf [value]": 1 creates, 0 removes the common log marker file.
int cmd_common_flag(int argc, char** argv);
// "socksim [value]": a positive value creates, 0 removes the socket
// simulation marker file.
int cmd_sock_sim(int argc, char** argv);
// "cnxdcinfo": prints the client table.
int cmd_client_info(int argc, char** argv);
// "crash show": the NV library's test console log.
int cmd_crash(int argc, char** argv);
// "confdb WORD..." and "kern WORD...": every token, the word first, each
// followed by a space, run as one shell line: the configuration store tool
// or the kernel tool with those arguments.
int cmd_host_tool(int argc, char** argv);
// "dm_en", "dm_dis": the NV library's item-1 write switch.
int cmd_dm_enable(int argc, char** argv);
int cmd_dm_disable(int argc, char** argv);
// "sys reset@@": the software reset, "kern modem reset 0"; the first one
// also switches the modem watchdog off.
int cmd_sys_resetsw(int argc, char** argv);
// "watchdog [normal|reboot]": prints and sets what an expiry does.
int cmd_watchdog(int argc, char** argv);

}  // namespace cnxd
