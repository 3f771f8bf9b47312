// The daemon's command line: options "hfvoi:s:g:". Only logging is set
// here; everything else comes from the configuration store.
#pragma once

#include <optional>

namespace cnxd {

struct cnxd_options {
    int log_level = 3;
    bool detach = true;
    int log_type = 1;  // the last type handed to sdk_set_log_type
};

// Parses argv, applying each option's SDK log call in order. Returns an
// exit status when the daemon must stop at once (-h: 0, a bad option: 1),
// after printing the usage text.
std::optional<int> cnxd_parse_options(int argc, char** argv, cnxd_options* opts);

void cnxd_usage(const char* prog);

}  // namespace cnxd
