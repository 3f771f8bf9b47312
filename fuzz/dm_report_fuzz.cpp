// A DM report of any id, type and length, through both dispatchers. An
// even-sized input is a whole report for both dispatchers; an odd-sized one
// is the payload of a basic report and the data of an extended one whose id
// and type its first two bytes choose, so that every printer is reached.
// The log's directory is not made: every line is formatted in full and its
// write stops at the open, so an input costs its printing rather than a
// file's open and append per line. Under the sanitizers a printer reading
// past the report's bytes fails.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dm/dm_report.h"
#include "dm/log_paths.h"
#include "support/sysroot.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace cnxd;
    static const bool paths = [] {
        fuzz::fuzz_root();
        set_log_file_paths();
        return true;
    }();
    (void)paths;
    // Each report in a buffer of exactly its size.
    const std::vector<uint8_t> report(data, data + size);
    if (size % 2 == 0) {
        print_dm_msg(1, report);
        print_dm_ext_msg(1, report);
    } else if (size >= 2) {
        std::vector<uint8_t> basic(report.size() + 2, 0);
        basic[3] = static_cast<uint8_t>(data[0] % 24);
        std::copy(report.begin() + 2, report.end(), basic.begin() + 4);
        print_dm_msg(2, basic);
        std::vector<uint8_t> ext(report.size() + 6, 0);
        ext[4] = 0;
        ext[5] = static_cast<uint8_t>(23 + data[0] % 231);
        ext[6] = data[1];
        ext[7] = data[0];
        std::copy(report.begin() + 2, report.end(), ext.begin() + 8);
        print_dm_ext_msg(0, ext);
    }
    return 0;
}
