// The throw-away sysroot of a fuzz process: a fresh directory under /tmp
// with the daemon's /var/tmp and /var/run, named by CNXD_ROOT, the working
// directory, removed at exit; PATH names only its empty /bin. Made on
// first use, together with the quiet logging every target wants: every
// level and trace flag on, so the formatting paths run, and everything
// written to /dev/null.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace cnxd::fuzz {

// The sysroot directory (no trailing slash).
const std::string& fuzz_root();

// Writes `bytes` to the router path `path` inside the sysroot.
void write_root_file(const char* path, std::span<const uint8_t> bytes);

}  // namespace cnxd::fuzz
