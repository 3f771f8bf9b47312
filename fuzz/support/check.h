// Property checks of fuzz targets: a broken property aborts, which both
// libFuzzer and the replay driver report as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace cnxd::fuzz {

inline void expect(bool ok, const char* property)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz property broken: %s\n", property);
        std::abort();
    }
}

}  // namespace cnxd::fuzz
