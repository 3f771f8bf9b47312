#include "core/options.h"

#include <unistd.h>

#include <cstdio>

#include "ltesdk.h"

namespace cnxd {

void cnxd_usage(const char* prog)
{
    std::printf("usage: %s [-fvos:i:h]\n", prog);
    std::printf("  -f                Debug type=stderr (default=syslog)\n");
    std::printf("  -v ~ -vvvv        Increase debug level\n");
    std::printf("  -o                Enable term color\n");
    std::printf("  -i {logfile}      Set log file\n");
    std::printf("  -s {size-string}  Max log file size string (ex. 2MB) \n");
    std::printf("  -g {loglevel}     set log level\n");
    std::printf("  -h                Show help\n");
    std::fflush(stdout);
}

std::optional<int> cnxd_parse_options(int argc, char** argv, cnxd_options* opts)
{
    sdk_set_log_type(SDK_LOG_TYPE_SYSLOG, "cnxd");
    opts->log_type = SDK_LOG_TYPE_SYSLOG;
    const char* prog = argc > 0 ? argv[0] : "cnxd";
    optind = 1;
    opterr = 1;
    for (int c; (c = getopt(argc, argv, "hfvoi:s:g:")) != -1;) {
        switch (c) {
        case 'f':
            opts->detach = false;
            sdk_set_log_type(SDK_LOG_TYPE_STDERR, "cnxd");
            opts->log_type = SDK_LOG_TYPE_STDERR;
            break;
        case 'v':
            ++opts->log_level;
            break;
        case 'g':
            opts->log_level = optarg[0] - '0';
            break;
        case 'o':
            sdk_enable_term_color();
            break;
        case 'i':
            sdk_set_log_file(optarg, 1);
            sdk_set_log_type(SDK_LOG_TYPE_FILE, nullptr);
            opts->log_type = SDK_LOG_TYPE_FILE;
            break;
        case 's':
            sdk_set_logfile_size_s(optarg);
            break;
        case 'h':
            cnxd_usage(prog);
            return 0;
        default:
            cnxd_usage(prog);
            return 1;
        }
    }
    return std::nullopt;
}

}  // namespace cnxd
