// cnxd-cli's reader of the state document: any bytes as a document,
// printed as tables, as the status report with its trends, and as the
// devices' JSON, or refused; numbers out of range never read as numbers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "daemon_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FILE* sink = std::fopen("/dev/null", "w");
    const std::string doc(reinterpret_cast<const char*>(data), size);
    cnxd::cli::state_print(doc, sink);
    cnxd::cli::status_print(doc, std::nullopt, {.trend = true, .colour = true}, sink);
    cnxd::cli::status_print(doc, 1, {}, sink);
    (void)cnxd::cli::status_json(doc, 1);
    return 0;
}
