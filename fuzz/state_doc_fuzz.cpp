// cnxd-cli's reader of the state document: any bytes as a document,
// printed as tables or refused, never read past or nested without bound.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "daemon_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FILE* sink = std::fopen("/dev/null", "w");
    cnxd::cli::state_print(std::string(reinterpret_cast<const char*>(data), size), sink);
    return 0;
}
