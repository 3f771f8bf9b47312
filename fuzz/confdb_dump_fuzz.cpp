// A configuration dump (the INI text every store read passes through), read
// back with GetPrivateProfileString: from the keys before any section and
// from named sections, into buffers of exactly the promised size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "confdb.h"
#include "support/check.h"
#include "support/sysroot.h"

namespace {

constexpr const char* DUMP = "/var/tmp/fuzz_confdb_dump";

struct Lookup {
    const char* section;
    const char* key;
    int limit;
};

constexpr Lookup lookups[] = {
    {"", "apn_name", 63},
    {nullptr, "a", 0},
    {"apn1", "apn_name", 255},
    {"vemo cm_config", "oper", 7},
    {"x", "", 16},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    cnxd::fuzz::write_root_file(DUMP, std::span<const uint8_t>(data, size));
    for (const Lookup& l : lookups) {
        const auto out = std::make_unique<char[]>(static_cast<size_t>(l.limit) + 1);
        const int n = GetPrivateProfileString(l.section, l.key, "dflt", out.get(), l.limit, DUMP);
        cnxd::fuzz::expect(n <= l.limit, "value cut to the limit");
        // A dump may hold any byte, NUL included: the text ends where the
        // returned length says, whatever it holds.
        if (n >= 0)
            cnxd::fuzz::expect(out[static_cast<size_t>(n)] == '\0', "text ends at the returned length");
    }
    return 0;
}
