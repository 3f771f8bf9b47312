// The big-endian field helpers at every offset of an input: span loads read
// inside the buffer or give 0, and stores round-trip through loads.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/be.h"
#include "support/check.h"

using cnxd::fuzz::expect;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> buf(data, size);
    for (size_t off = 0; off <= size + 4; ++off) {
        const uint16_t v16 = cnxd::load_be16(buf, off);
        const uint32_t v32 = cnxd::load_be32(buf, off);
        if (off + 2 > size)
            expect(v16 == 0, "16-bit field past the end reads 0");
        else
            expect(v16 == ((data[off] << 8) | data[off + 1]), "16-bit field is big-endian");
        if (off + 4 > size) {
            expect(v32 == 0, "32-bit field past the end reads 0");
            continue;
        }
        const uint32_t want = (uint32_t{data[off]} << 24) | (uint32_t{data[off + 1]} << 16) |
                              (uint32_t{data[off + 2]} << 8) | data[off + 3];
        expect(v32 == want, "32-bit field is big-endian");

        uint8_t out[4];
        cnxd::store_be32(out, v32);
        expect(cnxd::load_be32(out) == v32, "32-bit store round-trips");
        expect(out[0] == data[off] && out[3] == data[off + 3], "32-bit store puts the high byte first");
        cnxd::store_be16(out, v16);
        expect(cnxd::load_be16(out) == v16 && out[0] == data[off], "16-bit store round-trips");
    }
    return 0;
}
